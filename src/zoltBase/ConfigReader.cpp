#include "ConfigReader.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

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
