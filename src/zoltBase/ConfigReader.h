#pragma once
// Word-by-word reading of a model's configuration file, shared by both
// passes, and the messages with which a model file ends the program.

#include <fstream>
#include <initializer_list>
#include <string>

// "Error: File "<path>" doesn`t exist!" on standard output, exit code 1.
[[noreturn]] void exitMissingFile(const std::string& path);
// "Error: <what> in "<path>"" on standard output, then " (<hint>)" when
// one is given; exit code 1.
[[noreturn]] void exitBadFile(const std::string& path, const std::string& what,
                              const std::string& hint = std::string());

class Run;
class ConfigReader;

// One configuration keyword and what reading it does to the model.
struct ConfigKeyword {
  const char* word;
  void (*apply)(Run&, ConfigReader&);
};

class ConfigReader {
 public:
  // method: "readConfig" or "readForces", for the messages. A file that
  // cannot be opened ends the program (exitMissingFile).
  ConfigReader(const char* method, const char* path);

  // The next word; false at the end of the file, after an error, or on a
  // word holding control bytes (a binary file: reported as an error).
  bool next(std::string& word);

  // Reads the values of `keyword` in order with formatted extraction; false,
  // reported once, when one does not parse.
  template <class... T>
  bool values(const char* keyword, T&... v) {
    ((in >> v), ...);
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

  // Reads the whole file, applying the matching keyword to every word that
  // is one (other words are skipped); false when the pass failed.
  template <size_t N>
  bool run(Run& model, const ConfigKeyword (&keywords)[N]) {
    std::string word;
    while (next(word)) {
      for (const ConfigKeyword& k : keywords) {
        if (word != k.word) continue;
        k.apply(model, *this);
        break;
      }
    }
    return !failed();
  }

  bool failed() const { return failed_; }
  const std::string& path() const { return path_; }
  std::istream& stream() { return in; }

 private:
  std::ifstream in;
  std::string method_;
  std::string path_;
  bool failed_ = false;
};
