#pragma once
// Scene-object tests: modelsPath and cachesPath point into a fresh
// temporary directory while a ModelDirs lives; models load quietly.

#include <sys/stat.h>

#include <memory>
#include <string>

#include "Capture.h"
#include "CubeModel.h"
#include "Files.h"
#include "Run.h"

namespace zolt::test {

struct ModelDirs {
  TempDir dir;
  std::string models = dir.file("models/");
  std::string caches = dir.file("caches/");

  ModelDirs() {
    mkdir(models.c_str(), 0777);
    mkdir(caches.c_str(), 0777);
    modelsPath = models;
    cachesPath = caches;
  }
  ~ModelDirs() {
    modelsPath = "../models/";
    cachesPath = "../caches/";
  }
  // The cube model `name` with this configuration.
  void cube(const std::string& name, const std::string& config) const {
    writeCubeModel(models, name, config);
  }
};

// The cube's nodes, then level 1: its corners again (parents 1:1) and
// vertex 9, given as its line.
inline std::string twoLevelCubeNode(const std::string& vertex9) {
  std::string node = std::string(kCubeNode) + "9 3 0 1\n";
  for (int i = 1; i <= 8; ++i)
    node += std::string(kCubeNode).substr(8 * i, 7) + " 1 " + std::to_string(i) + " 1\n";
  return node + vertex9;
}

// The cube's levels as two blocks of base.node and base.ele (READ_HIERARCHY
// reads both): level 1 adds the centre, interpolated from all eight
// corners; six tetrahedra share it.
inline void writeTwoLevelCube(const std::string& base) {
  writeFile(base + ".node", twoLevelCubeNode("9 0.5 0.5 0.5 8 1 0.125 2 0.125 3 0.125 4 0.125 "
                                             "5 0.125 6 0.125 7 0.125 8 0.125\n"));
  writeFile(base + ".ele", std::string(kCubeEle) +
                               "6 4 0\n1 1 2 4 9\n2 1 2 6 9\n3 1 3 4 9\n4 1 3 7 9\n5 1 5 6 "
                               "9\n6 1 5 7 9\n");
}

// The model built, with its console output (both streams).
struct Loaded {
  std::unique_ptr<Run> run;
  CapturedOutput output;
};

inline Loaded loadCaptured(const std::string& name, bool rebuild = false, int elementModel = 0) {
  Loaded l;
  l.output =
      captureBoth([&] { l.run = std::make_unique<Run>(name.c_str(), rebuild, elementModel, 0); });
  return l;
}

// The model built with its console output dropped.
inline std::unique_ptr<Run> loadRun(const std::string& name, bool rebuild = false,
                                    int elementModel = 0) {
  return loadCaptured(name, rebuild, elementModel).run;
}

}  // namespace zolt::test
