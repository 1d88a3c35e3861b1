#pragma once
// Word-by-word reading of a model's configuration file, shared by both
// passes, and the messages with which a model file ends the program.

#include <cstddef>
#include <fstream>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <vector>

#include "Run.h"

// "Error: File "<path>" doesn`t exist!" on standard output, exit code 1.
[[noreturn]] void exitMissingFile(const std::string& path);
// "Error: <what> in "<path>"" on standard output, then " (<hint>)" when
// one is given; exit code 1.
[[noreturn]] void exitBadFile(const std::string& path, const std::string& what,
                              const std::string& hint = std::string());

class ConfigReader;

// One configuration keyword and what reading it does to the model.
struct ConfigKeyword {
  const char* word;
  void (*apply)(Run&, ConfigReader&);
};

// A keyword array, searched in order.
struct KeywordTable {
  const ConfigKeyword* keywords = nullptr;
  size_t size = 0;
  template <size_t N>
  KeywordTable(const ConfigKeyword (&k)[N]) : keywords(k), size(N) {}
  KeywordTable() = default;
  const ConfigKeyword* find(const std::string& word) const;
};

// The keywords of pass 2 (RunForces.cpp).
KeywordTable forceKeywords();

class ConfigReader {
 public:
  // method: "readConfig" or "readForces", for the messages. A file that
  // cannot be opened ends the program (exitMissingFile).
  ConfigReader(const char* method, const char* path);

  // The next word; false at the end of the file, after an error, or on a
  // word holding control bytes (a binary file: reported as an error).
  bool next(std::string& word);

  // Reads the values of `keyword` in order with formatted extraction (an
  // integer as a whole word); false, reported once, when one does not parse.
  template <class... T>
  bool values(const char* keyword, T&... v) {
    (extract(v), ...);
    return check(keyword);
  }
  // False, reported, when the stream failed while reading keyword's values.
  bool check(const char* keyword);

  // "[Run, <method>] Error: <text>" on standard error; ends the pass.
  void fail(const std::string& text);
  // "[Run, <method>] Error: <text>" on standard error; the pass goes on.
  void refuse(const std::string& text);
  // "[Run, <method>] Warning: <text>" on standard error.
  void warn(const std::string& text);

  // Forces, gravity and field values beyond this in magnitude are mistakes:
  // they only make the steps overflow.
  static constexpr float kMaxValue = 1e6f;
  // Every value finite and at most kMaxValue in magnitude.
  static bool inRange(std::initializer_list<float> values);
  // False after "<what> v0 v1 ... refused: ..." (refuse) when a value is not
  // inRange; `note` ends the line.
  bool checkRange(const std::string& what, std::initializer_list<float> values,
                  const std::string& note = std::string());

  // Reads the whole file, applying the matching keyword of `keywords` to
  // every word that is one (other words are skipped). The values of a
  // keyword of `later` are read without effect, reported under
  // `laterMethod`, and its place kept in `places`: one reading decides
  // where every entry ends. False when the pass failed.
  bool run(Run& model, KeywordTable keywords, KeywordTable later, const char* laterMethod,
           std::vector<ConfigPlace>& places);
  // Applies the keywords of `keywords` at the places run() kept.
  bool replay(Run& model, KeywordTable keywords, const std::vector<ConfigPlace>& places);

  // False while a keyword's values are only read (run(), `later`).
  bool applying() const { return applying_; }
  // One warning when a path value of `keyword` is itself a keyword (while
  // the places are decided only).
  void checkPath(const char* keyword, const std::string& value);

  bool failed() const { return failed_; }
  const std::string& path() const { return path_; }
  std::istream& stream() { return in; }

 private:
  template <class T>
  void extract(T& v) {
    if constexpr (std::is_same_v<T, int>) {
      std::string word;
      if (in >> word && !parseInt(word, v)) in.setstate(std::ios::failbit);
    } else {
      in >> v;
    }
  }
  // The whole word as an int; false when it is not one.
  static bool parseInt(const std::string& word, int& v);

  std::ifstream in;
  std::string method_;
  std::string path_;
  bool failed_ = false;
  bool applying_ = true;
  KeywordTable known_[2];  // set while run() decides the places
};
