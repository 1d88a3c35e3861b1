#pragma once
// The sample models and the working directory they are loaded from:
//   bin/ZOLT.init         names ../models/, ../caches/ and ../movies/
//   models/<name>.config  and the .node, .ele, .params, surface and texture
//                         files the configuration names
//   caches/, movies/      empty
//   imageData/texture.bmp the texture of the simulation mesh
// Everything is computed here, the same bytes on every run.

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "ImageWriters.h"
#include "SurfaceExtraction.h"
#include "TetMesh.h"

namespace zolt::modelgen {

struct SampleModel {
  std::string name;
  int levels = 1;  // LEVEL: level 0 and levels - 1 refinements
  TetMesh mesh;    // level 0, as written to the .node and .ele files
  bool hasParams = false;
  std::vector<int> fixed;                    // finest-level vertex numbers of the .params file
  std::vector<std::vector<int>> levelFixed;  // clamped vertex numbers per level
  std::vector<int> levelVertices;            // per level, from the refinement
  std::vector<int> levelElements;
  std::vector<std::vector<float>> levelStiffness;  // per level and element; empty: all 1
  std::string config;                              // the text of <name>.config
  // Render surface (empty when the model has none) and its texture.
  std::string surfaceFile;
  TriangleSurface surface;
  std::vector<std::array<double, 2>> texCoords;
  std::string textureFile;
  Image texture;
};

std::vector<std::string> sampleModelNames();
// The named model; an unknown name gives a model with an empty name.
SampleModel buildSampleModel(const std::string& name);
// The files of one model in modelsDir (ending in '/').
bool writeSampleModel(const SampleModel& model, const std::string& modelsDir);
// The whole working directory under runDir; removes the cache files of the
// models it writes (caches/<name>.*), which no longer match them. One line
// per model on `log`.
bool writeRunDirectory(const std::string& runDir, std::ostream& log);

}  // namespace zolt::modelgen
