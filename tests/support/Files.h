#pragma once
// Whole-file reads and writes for tests, and a program run in a given
// working directory.

#include <string>
#include <vector>

#include "TempDir.h"

namespace zolt::test {

void writeFile(const std::string& path, const std::string& text);
// The whole file; empty when it cannot be read.
std::string readFile(const std::string& path);
bool exists(const std::string& path);

struct ProgramResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out, err;
};

// Runs args[0] with args in directory dir, without DISPLAY when
// withoutDisplay, and collects both output streams.
ProgramResult runProgram(const std::string& dir, const std::vector<std::string>& args,
                         bool withoutDisplay = true);

}  // namespace zolt::test
