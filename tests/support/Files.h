#pragma once
// Whole-file reads and writes for tests, and programs run for tests: in the background or to their
// end, in a given working directory, with both output streams kept in files.

#include <sys/types.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "TempDir.h"

namespace zolt::test {

void writeFile(const std::string& path, const std::string& text);
inline std::string readFile(const std::string& path) { return readAll(path); }
bool exists(const std::string& path);
// How often `what` occurs in text (overlaps counted).
inline size_t occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The whole number that follows the first `key` of text at or after
// `from`, and in `end` where it stops; -1 when there is none.
inline long numberAfter(const std::string& text, const std::string& key, size_t from = 0,
                        size_t* end = nullptr) {
  const size_t at = text.find(key, from);
  if (at == std::string::npos) return -1;
  size_t digits = at + key.size(), stop = digits;
  while (stop < text.size() && text[stop] >= '0' && text[stop] <= '9') ++stop;
  if (end) *end = stop;
  return stop > digits ? std::stol(text.substr(digits, stop - digits)) : -1;
}

// The /proc/self/status figure `key` ("VmSize:", "VmData:") in bytes.
inline uint64_t statusBytes(const std::string& key) {
  const std::string status = readFile("/proc/self/status");
  const size_t at = status.find(key);
  return at == std::string::npos ? 0 : std::strtoull(&status[at + key.size()], nullptr, 10) * 1024;
}

// Seconds since an arbitrary start.
double monotonicSeconds();
void sleepSeconds(double s);

class Program {
 public:
  // Starts args[0] (looked up in PATH when it has no "/") with args in
  // directory dir. env entries "NAME=value" are set, entries "NAME" removed
  // from the environment the program inherits.
  Program(const std::string& dir, const std::vector<std::string>& args,
          const std::vector<std::string>& env = {});
  // Ends a program that still runs.
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Whether the program has ended (status is then set); does not wait.
  bool exited();
  // Waits up to timeout seconds (below 0: as long as it takes) for the exit;
  // false (and the program is ended) when it did not exit.
  bool waitForExit(double timeout = -1.0);
  int status = -1;  // exit status once exited; -2 when it did not exit normally
  std::string out() const;
  std::string err() const;
  pid_t pid() const { return pid_; }

 private:
  // SIGTERM, then SIGKILL when the program does not go.
  void end();

  pid_t pid_ = -1;
  TempDir io_;
};

struct ProgramResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out, err;
};

// Runs args[0] with args in directory dir to its end, without DISPLAY when
// withoutDisplay, and collects both output streams.
ProgramResult runProgram(const std::string& dir, const std::vector<std::string>& args,
                         bool withoutDisplay = true);

}  // namespace zolt::test
