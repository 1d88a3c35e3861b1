#include "ConfigReader.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <utility>

#include "SealedFile.h"

void exitMissingFile(const std::string& path) {
  std::cout << "Error: File \"" << path << "\" doesn`t exist!" << std::endl;
  std::exit(1);
}

void exitBadFile(const std::string& path, const std::string& what, const std::string& hint) {
  std::cout << "Error: " << what << " in \"" << path << "\"";
  if (!hint.empty()) std::cout << " (" << hint << ")";
  std::cout << std::endl;
  std::exit(1);
}

ConfigReader::ConfigReader(const char* method, const char* path)
    : in(path), method_(method), path_(path) {
  if (!in.is_open()) exitMissingFile(path_);
  // A directory opens, and then reads as an empty configuration.
  const std::string why = zolt::notAFile(path_);
  if (!why.empty()) fail("\"" + path_ + "\" " + why + ", not a configuration file");
}

bool ConfigReader::next(std::string& word) {
  word.clear();
  if (failed_) return false;
  if (!(in >> word)) {
    if (in.bad()) fail("Could not read \"" + path_ + "\"");
    return false;
  }
  for (char c : word) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7f) {
      char code[8];
      std::snprintf(code, sizeof code, "0x%02x", b);
      fail("\"" + path_ + "\" is not a text file (byte " + code + ")");
      return false;
    }
  }
  return true;
}

bool ConfigReader::check(const char* keyword) {
  if (!in.fail()) return true;
  fail(std::string("Could not read the values of ") + keyword + " in \"" + path_ + "\"");
  return false;
}

void ConfigReader::fail(const std::string& text) {
  refuse(text);
  failed_ = true;
}

void ConfigReader::refuse(const std::string& text) {
  std::cerr << "[Run, " << method_ << "] Error: " << text << std::endl;
}

void ConfigReader::warn(const std::string& text) {
  std::cerr << "[Run, " << method_ << "] Warning: " << text << std::endl;
}

bool ConfigReader::inRange(std::initializer_list<float> values) {
  for (float x : values)
    if (!(std::fabs(x) <= kMaxValue)) return false;
  return true;
}

bool ConfigReader::checkRange(const std::string& what, std::initializer_list<float> values,
                              const std::string& note) {
  if (inRange(values)) return true;
  std::ostringstream text;
  text << what;
  for (float x : values) text << " " << x;
  text << " refused: every value must be finite and at most " << kMaxValue << " in magnitude"
       << note;
  refuse(text.str());
  return false;
}

const ConfigKeyword* KeywordTable::find(const std::string& word) const {
  for (size_t i = 0; i < size; ++i)
    if (word == keywords[i].word) return &keywords[i];
  return nullptr;
}

bool ConfigReader::run(Run& model, KeywordTable keywords, KeywordTable later,
                       const char* laterMethod, std::vector<ConfigPlace>& places) {
  known_[0] = keywords;
  known_[1] = later;
  std::string word;
  while (next(word)) {
    if (const ConfigKeyword* k = keywords.find(word)) {
      k->apply(model, *this);
      continue;
    }
    const ConfigKeyword* k = later.find(word);
    if (!k) continue;
    // At the end of the file tellg() would fail the stream.
    const long long offset = in.eof() ? -1 : static_cast<long long>(in.tellg());
    places.push_back({static_cast<size_t>(k - later.keywords), offset});
    std::string method = laterMethod;
    std::swap(method_, method);
    applying_ = false;
    k->apply(model, *this);
    applying_ = true;
    std::swap(method_, method);
  }
  known_[0] = known_[1] = KeywordTable();
  return !failed();
}

bool ConfigReader::replay(Run& model, KeywordTable keywords,
                          const std::vector<ConfigPlace>& places) {
  for (const ConfigPlace& p : places) {
    if (failed_ || p.keyword >= keywords.size) break;
    in.clear();
    if (p.offset < 0)
      in.seekg(0, std::ios::end);
    else
      in.seekg(p.offset);
    keywords.keywords[p.keyword].apply(model, *this);
  }
  return !failed();
}

void ConfigReader::checkPath(const char* keyword, const std::string& value) {
  if (!known_[0].find(value) && !known_[1].find(value)) return;
  warn(std::string(keyword) + " takes \"" + value +
       "\", itself a keyword, as its file name; is its value missing?");
}

bool ConfigReader::parseInt(const std::string& word, int& v) {
  errno = 0;
  char* end = nullptr;
  const long x = std::strtol(word.c_str(), &end, 10);
  if (end == word.c_str() || *end != '\0' || errno == ERANGE || x < INT_MIN || x > INT_MAX)
    return false;
  v = static_cast<int>(x);
  return true;
}
