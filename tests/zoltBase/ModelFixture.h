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
