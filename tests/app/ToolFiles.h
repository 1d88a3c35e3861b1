#pragma once
// A private scratch directory per test and whole-file helpers.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zolt::test {

class ToolDir {
 public:
  ToolDir() {
    char pattern[] = "/tmp/zolt-toolsXXXXXX";
    const char* made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    dir_ = made ? made : "/tmp";
  }
  ~ToolDir() { std::filesystem::remove_all(dir_); }
  ToolDir(const ToolDir&) = delete;
  ToolDir& operator=(const ToolDir&) = delete;

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
    return path(name);
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(path(name)); }

 private:
  std::string dir_;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Blocks of the node files the converters write: "n 3 0 k" and n lines
// "number x y z value".
struct NodeBlock {
  std::vector<long> number;
  std::vector<std::array<double, 3>> x;
  std::vector<double> value;
};

inline std::vector<NodeBlock> nodeBlocks(const std::string& text) {
  std::istringstream in(text);
  std::vector<NodeBlock> blocks;
  long n, skip;
  while (in >> n >> skip >> skip >> skip) {
    NodeBlock b;
    for (long i = 0; i < n; ++i) {
      long number;
      std::array<double, 3> x;
      double v;
      in >> number >> x[0] >> x[1] >> x[2] >> v;
      b.number.push_back(number);
      b.x.push_back(x);
      b.value.push_back(v);
    }
    EXPECT_TRUE(in) << "short node block";
    blocks.push_back(b);
  }
  return blocks;
}

// Blocks of element files: "m c e" and m lines "number", c corners, e extras.
struct EleBlock {
  int corners = 0;
  std::vector<long> number;
  std::vector<std::vector<long>> v;
  std::vector<long> extra;
};

inline std::vector<EleBlock> eleBlocks(const std::string& text) {
  std::istringstream in(text);
  std::vector<EleBlock> blocks;
  long m, extras;
  EleBlock b;
  while (in >> m >> b.corners >> extras) {
    b.number.assign(size_t(m), 0);
    b.v.assign(size_t(m), std::vector<long>(size_t(b.corners)));
    b.extra.assign(size_t(m), 0);
    for (long e = 0; e < m; ++e) {
      in >> b.number[size_t(e)];
      for (long& k : b.v[size_t(e)]) in >> k;
      for (long x = 0; x < extras; ++x) in >> b.extra[size_t(e)];
    }
    EXPECT_TRUE(in) << "short element block";
    blocks.push_back(b);
  }
  return blocks;
}

}  // namespace zolt::test
