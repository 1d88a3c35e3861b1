#pragma once
// Helpers for tests of binary records: bytes written by hand, and an input
// buffer that cannot seek, like a pipe, so a reader cannot know how much
// follows.

#include <initializer_list>
#include <streambuf>
#include <string>

namespace zolt::test {

inline std::string bytesOf(std::initializer_list<unsigned> b) {
  std::string s;
  for (unsigned v : b) s.push_back(static_cast<char>(v));
  return s;
}

class PipeBuf : public std::streambuf {
 public:
  explicit PipeBuf(std::string s) : data_(std::move(s)) {
    setg(data_.data(), data_.data(), data_.data() + data_.size());
  }

 private:
  std::string data_;
};

}  // namespace zolt::test
