#pragma once
// Temporary directories and whole-file reads and writes for tests, and a
// program run in a given working directory.

#include <string>
#include <vector>

namespace zolt::test {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The directory, ending in "/".
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

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
