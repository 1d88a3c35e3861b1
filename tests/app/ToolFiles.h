#pragma once
// The node and element blocks the converters write, parsed independently
// of them.

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "Files.h"
#include "TempDir.h"

namespace zolt::test {

inline bool exists(const TempDir& dir, const std::string& name) { return exists(dir.file(name)); }

// One block of a file: header "count a b [c]", then per record its number
// and `width` values (node blocks: x y z value; element blocks: corners and
// extras as the header says).
struct Block {
  std::vector<long> number;
  std::vector<std::vector<double>> v;
};

// Node blocks have a four-item header and four values per line.
inline std::vector<Block> blocks(const std::string& text, bool nodes) {
  std::istringstream in(text);
  std::vector<Block> out;
  long n, a, b, c = 0;
  while (in >> n >> a >> b && (!nodes || in >> c)) {
    Block block;
    block.number.resize(size_t(n));
    block.v.assign(size_t(n), std::vector<double>(size_t(nodes ? 4 : a + b)));
    for (long i = 0; i < n; ++i) {
      in >> block.number[size_t(i)];
      for (double& x : block.v[size_t(i)]) in >> x;
    }
    EXPECT_TRUE(in) << "short block";
    out.push_back(block);
  }
  return out;
}

using Point = std::array<double, 3>;

inline double signedVolume(const Point& a, const Point& b, const Point& c, const Point& d) {
  const Point u{b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v{c[0] - a[0], c[1] - a[1], c[2] - a[2]},
      w{d[0] - a[0], d[1] - a[1], d[2] - a[2]};
  return (u[0] * (v[1] * w[2] - v[2] * w[1]) - u[1] * (v[0] * w[2] - v[2] * w[0]) +
          u[2] * (v[0] * w[1] - v[1] * w[0])) /
         6.0;
}

// Corner k of element e of an element block, as a point of its node block.
inline Point corner(const Block& node, const Block& ele, size_t e, size_t k) {
  const auto& x = node.v[size_t(ele.v[e][k]) - 1];
  return {x[0], x[1], x[2]};
}

}  // namespace zolt::test
