#include "ConverterIO.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "AtomicFile.h"
#include "BinaryIO.h"
#include "Converters.h"

namespace zolt::tools {
namespace {

int64_t bytesLeft(FILE* f) {
  const long here = std::ftell(f);
  if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long end = std::ftell(f);
  if (std::fseek(f, here, SEEK_SET) != 0 || end < 0) return -1;
  return end - here;
}

bool onlySpaceLeft(const char* p) {
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  return *p == '\0' || *p == '#';
}

bool blank(const char* p) {
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  return *p == '\0';
}

}  // namespace

bool fail(const char* method, const std::string& path, const std::string& what) {
  std::fprintf(stderr, "[Converters, %s] Error: %s: %s\n", method, path.c_str(), what.c_str());
  return false;
}

std::string itemName(const std::string& block, const char* item, long index) {
  std::string s = block + item;
  if (index >= 0) s += " " + std::to_string(index + 1);
  return s;
}

bool InputFile::bad(const char* item, long index, const std::string& what) const {
  return fail(itemName(block_, item, index) + ": " + what);
}

bool InputFile::checkVertex(long v, long first, long n, const char* item, long index) const {
  if (v >= first && v < first + n) return true;
  return bad(item, index,
             "vertex number " + std::to_string(v) + " out of range " + std::to_string(first) +
                 ".." + std::to_string(first + n - 1));
}

bool InputFile::checkCount(long v, int& n, const char* item, int64_t bytesPerRecord,
                           int64_t left) const {
  const std::string name = itemName(block_, item, -1) + " count " + std::to_string(v);
  if (v < 0) return fail(name + " is negative");
  // The last record may lack its final separator.
  if (v > INT_MAX || (left >= 0 && v * bytesPerRecord > left + 1))
    return fail(name + " exceeds the file");
  n = static_cast<int>(v);
  return true;
}

bool TextInput::open() {
  in_.open(path_, std::ios::binary);
  if (!in_) return fail("cannot be opened");
  return true;
}

bool TextInput::readFailed(const char* item, long index) const {
  return bad(item, index, in_.eof() ? "the file ends before it" : "not a number in range");
}

bool TextInput::read(int& v, const char* item, long index) {
  return (in_ >> v) ? true : readFailed(item, index);
}

bool TextInput::read(float& v, const char* item, long index) {
  return (in_ >> v) ? true : readFailed(item, index);
}

bool TextInput::read(double& v, const char* item, long index) {
  return (in_ >> v) ? true : readFailed(item, index);
}

bool TextInput::skip(int words, const char* item, long index) {
  std::string w;
  for (int i = 0; i < words; ++i)
    if (!(in_ >> w)) return readFailed(item, index);
  return true;
}

bool TextInput::count(int& n, const char* item, int valuesPerRecord) {
  long long v = 0;
  if (!(in_ >> v)) return readFailed((std::string(item) + " count").c_str(), -1);
  // A value takes at least one character and one separator.
  return checkCount(static_cast<long>(v), n, item, 2 * static_cast<int64_t>(valuesPerRecord),
                    zolt::bin::bytesLeft(in_));
}

bool TextInput::expect(const char* word) {
  std::string w;
  if (!(in_ >> w) || w != word) return fail(std::string("no section ") + word);
  return true;
}

LineInput::~LineInput() {
  if (f_) std::fclose(f_);
}

bool LineInput::open(bool report) {
  f_ = std::fopen(path_.c_str(), "rb");
  if (!f_) return report ? fail("cannot be opened") : false;
  return true;
}

char* LineInput::next() {
  char* line;
  while ((line = readToolLine(f_)) && blank(line)) {
  }
  return line;
}

char* LineInput::need(const char* item, long index) {
  char* line = next();
  if (!line) bad(item, index, "the file ends before it");
  return line;
}

bool LineInput::count(int& n, const char* item, int bytesPerRecord) {
  const std::string name = std::string(item) + " count";
  const char* line = need(name.c_str());
  long v = 0;
  if (!line) return false;
  if (!parseInts(line, &v, 1)) return bad(name.c_str(), -1, "not a number in range");
  return checkCount(v, n, item, bytesPerRecord, bytesLeft(f_));
}

bool parseInts(const char* p, long* out, int n) {
  for (int i = 0; i < n; ++i) {
    char* end;
    errno = 0;
    const long v = std::strtol(p, &end, 10);
    if (end == p || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    out[i] = v;
    p = end;
  }
  return onlySpaceLeft(p);
}

bool parseFloats(const char* p, float* out, int n, bool allowMore) {
  for (int i = 0; i < n; ++i) {
    char* end;
    const float v = std::strtof(p, &end);
    if (end == p || !std::isfinite(v)) return false;
    out[i] = v;
    p = end;
  }
  return allowMore || onlySpaceLeft(p);
}

namespace {

// Writes texts[i] to paths[i] for each of the (one or two) paths, all or
// none (AtomicFile). A null text is one whose building failed: nothing is
// written then.
bool writeAll(const char* method, std::initializer_list<std::string> paths,
              std::initializer_list<const std::string*> texts) {
  std::string names;
  for (const std::string& p : paths) names += (names.empty() ? "" : " and ") + p;
  for (const std::string* t : texts)
    if (!t) return fail(method, names, "cannot be written (out of memory)");
  AtomicFile files[2];
  size_t n = 0;
  auto text = texts.begin();
  for (const std::string& p : paths) {
    AtomicFile& f = files[n++];
    if (f.open(p)) f.stream().write((*text)->data(), static_cast<std::streamsize>((*text)->size()));
    ++text;
  }
  return AtomicFile::commitAll(files, n) || fail(method, names, "cannot be written");
}

// The text of a stream, null when a write to it failed (out of memory).
std::unique_ptr<std::string> textOf(const std::ostringstream& s) {
  return s ? std::make_unique<std::string>(s.str()) : nullptr;
}

}  // namespace

bool writeTextFile(const char* method, const std::string& path, const std::ostringstream& text) {
  const auto t = textOf(text);
  return writeAll(method, {path}, {t.get()});
}

bool writeMeshFiles(const char* method, const std::string& base, const std::ostringstream& node,
                    const std::ostringstream& ele) {
  const auto n = textOf(node), e = textOf(ele);
  return writeAll(method, {base + ".node", base + ".ele"}, {n.get(), e.get()});
}

bool writeMeshFiles(const char* method, const std::string& base, const std::string& node,
                    const std::string& ele) {
  return writeAll(method, {base + ".node", base + ".ele"}, {&node, &ele});
}

}  // namespace zolt::tools
