#pragma once
// A hand-written model: the unit cube as 8 vertices and 6 tetrahedra around
// its diagonal from (0, 0, 0) to (1, 1, 1). Each tetrahedron runs 0, one
// edge, one face diagonal, 7; its faces (0, 1, 2) and (1, 2, 3) in file
// order lie on the cube's surface, hence face mask 8 + 1.

#include <string>

#include "Files.h"

namespace zolt::test {

inline const char* const kCubeNode =
    "8 3 0 0\n"
    "1 0 0 0\n2 1 0 0\n3 0 1 0\n4 1 1 0\n"
    "5 0 0 1\n6 1 0 1\n7 0 1 1\n8 1 1 1\n";

inline const char* const kCubeEle =
    "6 4 1\n"
    "1 1 2 4 8 9\n2 1 2 6 8 9\n3 1 3 4 8 9\n"
    "4 1 3 7 8 9\n5 1 5 6 8 9\n6 1 5 7 8 9\n";

// dir/name.config with the given text, and the cube as name.node and name.ele.
inline void writeCubeModel(const std::string& dir, const std::string& name,
                           const std::string& config) {
  writeFile(dir + name + ".config", config);
  writeFile(dir + name + ".node", kCubeNode);
  writeFile(dir + name + ".ele", kCubeEle);
}

}  // namespace zolt::test
