#pragma once
// Checked input and all-or-nothing output shared by the converters. Every
// failure prints one line "[Converters, <method>] Error: <path>: <what>" on
// standard error; the readers return false and the caller gives up.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace zolt::tools {

// Prints the error line and returns false.
bool fail(const char* method, const std::string& path, const std::string& what);

// What a failing read names: "<block><item> <index>" ("level 1 vertex 7"),
// the index counted from 1 as a reader of the file would count.
std::string itemName(const std::string& block, const char* item, long index);

// What both readers share: the file they read and how they report.
class InputFile {
 public:
  InputFile(const char* method, std::string path) : method_(method), path_(std::move(path)) {}
  // Prefix of the item names that follow, e.g. "level 2 ".
  void setBlock(std::string block) { block_ = std::move(block); }
  bool fail(const std::string& what) const { return tools::fail(method_, path_, what); }
  // Names the item: "<block><item> <index>: <what>".
  bool bad(const char* item, long index, const std::string& what) const;
  // A vertex number in first .. first + n - 1.
  bool checkVertex(long v, long first, long n, const char* item, long index) const;

 protected:
  // A record count n read as `v`: non-negative, and n records of at least
  // `bytesPerRecord` bytes fit in the `left` bytes that follow (-1: unknown).
  bool checkCount(long v, int& n, const char* item, int64_t bytesPerRecord, int64_t left) const;
  const char* method_;
  std::string path_;
  std::string block_;
};

// Whitespace-separated values of a text file.
class TextInput : public InputFile {
 public:
  using InputFile::InputFile;
  bool open();
  // One value; index < 0 names the item alone.
  bool read(int& v, const char* item, long index = -1);
  bool read(float& v, const char* item, long index = -1);
  bool read(double& v, const char* item, long index = -1);
  // Skips `words` words of any content.
  bool skip(int words, const char* item, long index = -1);
  // A record count; a record holds at least `valuesPerRecord` values.
  bool count(int& n, const char* item, int valuesPerRecord);
  // The next word must be `word`.
  bool expect(const char* word);

 private:
  bool readFailed(const char* item, long index) const;
  std::ifstream in_;
};

// Line records read through readToolLine: comments and blank lines skipped.
class LineInput : public InputFile {
 public:
  using InputFile::InputFile;
  ~LineInput();
  LineInput(const LineInput&) = delete;
  LineInput& operator=(const LineInput&) = delete;
  // With report false a file that cannot be opened is left to the caller.
  bool open(bool report = true);
  // The next data line, null at end of file.
  char* next();
  // The next data line, or an error naming the item when the file ends.
  char* need(const char* item, long index = -1);
  // A line holding one record count; a record is one line of at least
  // `bytesPerRecord` bytes.
  bool count(int& n, const char* item, int bytesPerRecord);

 private:
  FILE* f_ = nullptr;
};

// Parses `n` whitespace-separated numbers from p, followed by nothing but
// white space or a '#' comment unless `allowMore`; false when any is missing
// or out of range (int, or finite float).
bool parseInts(const char* p, long* out, int n);
bool parseFloats(const char* p, float* out, int n, bool allowMore = false);

// Writes the whole text or nothing: on failure, one line names the file(s)
// not written, and what was under their names is left as it was (but for a
// rename that fails after another output's was renamed: then neither output
// is left, never a new one beside an old one). A stream
// that failed while the text was built (it ran out of memory) is not
// written.
bool writeTextFile(const char* method, const std::string& path, const std::ostringstream& text);
// base + ".node" and base + ".ele", both or neither.
bool writeMeshFiles(const char* method, const std::string& base, const std::ostringstream& nodeText,
                    const std::ostringstream& eleText);
bool writeMeshFiles(const char* method, const std::string& base, const std::string& nodeText,
                    const std::string& eleText);

}  // namespace zolt::tools
