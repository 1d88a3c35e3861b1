#include "Run.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>

#include "DeformationForce.h"
#include "MemoryLimits.h"
#include "SealedFile.h"
#include "Simulation.h"
#include "TetHierarchy.h"

std::string modelsPath = "../models/";
std::string cachesPath = "../caches/";
std::string moviesPath = "../movies/";
Run* currentRun = nullptr;

const char* cacheWord(ElementModel model) {
  switch (model) {
    case ElementModel::Cauchy:
      return "cacheCauchy";
    case ElementModel::Rotated:
      return "cacheRotated";
    case ElementModel::Green:
      return "cacheGreen";
    case ElementModel::Partition:
      return "cachePartition";
    case ElementModel::CutCauchy:
      return "cacheCutCauchy";
    case ElementModel::Explicit:
      return "cacheExplicit";
  }
  return "cache";
}

namespace {

// The configuration keyword that sets the element type.
const char* elementKeyword(ElementType type) {
  switch (type) {
    case ElementType::TRIANGLE:
      return "TRIANGLE";
    case ElementType::QUAD:
      return "QUAD";
    case ElementType::TRIANGLE3D:
      return "TRIANGLE3D";
    case ElementType::TETRAHEDRON:
      return "TETRAHEDRON";
    case ElementType::SERENDIPITY_TET:
      return "SERENDIPITY_TET";
    case ElementType::QUADRATIC_QUAD:
      return "QUADRATIC_QUAD";
    case ElementType::HEXAHEDRON:
      return "HEXAHEDRON";
  }
  return "unknown";
}

}  // namespace

Run::Run(const char* name, bool rebuildCaches, int model, int scheme)
    : elementModel(static_cast<ElementModel>(model)), integrationScheme(scheme) {
  // E = 1e6 N/m^2 and nu = 0.33 through the MATERIAL formulas.
  settings.material =
      new MaterialProperties{729765.590446705, 375939.84962406015, 1000.0, 5.0, 1.0, 0.05};
  construct(name, rebuildCaches);
}

void Run::construct(const char* name, bool rebuildCaches) {
  const std::string configPath = modelsPath + name + ".config";
  renderSettings.basePath = modelsPath + name;

  std::cout << "Using configure file " << configPath << std::endl << std::endl;
  if (!readConfig(configPath.c_str())) {
    refused = 1;
    return;
  }
  std::cout << std::endl;
  // Only tetrahedra are read from the element files and the mesh cache.
  if (elementType != ElementType::TETRAHEDRON) {
    std::cerr << "[Run] Error: \"" << configPath << "\" sets " << elementKeyword(elementType)
              << " elements but only tetrahedral meshes are read; the model is not loaded"
              << std::endl;
    refused = 1;
    return;
  }

  const std::string meshPath = cachesPath + name + ".mesh";
  settings.sourceFingerprint = sourceFingerprint(name);
  if (!rebuildCaches) meshFromCache = readMesh(meshPath.c_str());
  meshCachePath = meshPath;
  bool generate = rebuildCaches;
  if (!meshFromCache) {
    if (!readMeshText(name)) {
      refused = 1;
      return;
    }
    generate = true;
  }
  const int finest = hierarchy->nLevels - 1;
  if (hierarchy->elements[finest].empty()) {
    std::cerr << "[Run] Error: Model \"" << name << "\" has no elements on level " << finest
              << "; it is not loaded" << std::endl;
    refused = 1;
    return;
  }

  hierarchy->source = modelsPath + name + ".node";
  if (meshEntries && !meshEntries->empty()) {
    hierarchy->source.clear();
    for (const MeshEntry& m : *meshEntries)
      hierarchy->source += (hierarchy->source.empty() ? "" : ", ") + modelsPath + m.name + ".node";
  }

  settings.deformationForce =
      new DeformationForce(hierarchy.get(), &settings.forceNorm, &settings.forceFieldOn, dim);
  if (!readForces(configPath.c_str())) {
    refused = 1;
    return;
  }
  renderSettings.barrier = settings.barrier;
  if (!meshFromCache) readParamsValues((modelsPath + name + ".params").c_str());
  if (!checkFixedVertices(name)) return;

  openCaches(name, generate);

  std::cout << std::endl;
  for (int l = 0; l < hierarchy->nLevels; ++l)
    std::cout << "Vertices / Elements on level " << l << ": " << hierarchy->vertices[l].size()
              << " / " << hierarchy->elements[l].size() << std::endl;
  std::cout << std::endl;
}

uint64_t refinedModelBytes(uint64_t coarseElements, int levels) {
  // Measured on a refined cube (hierarchy, matrices, restrictions, caches
  // written): about 1.7 kB per finest element; 2 kB leaves room for peaks.
  constexpr double kBytesPerElement = 2048.0;
  const double finest = static_cast<double>(coarseElements) * std::pow(8.0, levels - 1);
  const double bytes = finest * kBytesPerElement;
  return bytes >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(bytes);
}

bool Run::readMeshText(const char* name) {
  hierarchy = std::make_unique<TetHierarchy>(levels);
  const int fileLevels = readHierarchy ? levels : 1;
  if (!meshEntries || meshEntries->empty()) {
    readNodeLevel((modelsPath + name + ".node").c_str(), fileLevels, nullptr);
    readEleLevel((modelsPath + name + ".ele").c_str(), fileLevels);
  } else {
    for (const MeshEntry& m : *meshEntries) {
      readNodeLevel((modelsPath + m.name + ".node").c_str(), fileLevels, m.matrix);
      readEleLevel((modelsPath + m.name + ".ele").c_str(), fileLevels);
    }
  }
  double* c = renderSettings.centre;
  hierarchy->setCenterOfGravity(c);
  std::cout << "Center of object: " << c[0] << ", " << c[1] << ", " << c[2] << std::endl;
  if (!readHierarchy) {
    const uint64_t need = refinedModelBytes(hierarchy->elements[0].size(), levels);
    const uint64_t have = usableMemory();
    if (have > 0 && need > have) {
      std::cerr << "[Run] Error: Model \"" << name << "\" refined to LEVEL " << levels
                << " needs about " << need / (1024 * 1024) << " MB, more than the "
                << have / (1024 * 1024)
                << " MB this process may use; it is not loaded (use a lower LEVEL)" << std::endl;
      return false;
    }
    std::cout << "Build nested hierarchy ... " << std::endl;
    hierarchy->buildNestedHierarchy();
  }
  return true;
}

namespace {

// Configuration entries that shape what the mesh and matrix caches hold, and
// the number of values each takes: the fixed-first numbering (a count, then
// that many numbers), the transform of the nodes, how the levels are built,
// and the element factors that pass 2 sets (VOLUME_CLASSIFICATION also reads
// the three files it names).
struct ShapingKeyword {
  const char* word;
  int values;     // -1: a count, then that many
  int firstFile;  // the values from this one on name files; -1: none
};
constexpr ShapingKeyword kShaping[] = {
    {"FIXED_VERTICES", -1, -1},
    {"SCALE", 3, -1},
    {"SWAP_X_Y", 0, -1},
    {"READ_HIERARCHY", 0, -1},
    {"BOX_CLASSIFICATION", 8, -1},
    {"VOLUME_CLASSIFICATION", 12, 9},
    {"BELLOW", 4, -1},
};

// Those entries as written, in file order, and the files they name.
std::string shapingEntries(const std::string& configPath, std::vector<std::string>& files) {
  std::ifstream in(configPath);
  std::string text, word;
  while (in >> word) {
    const ShapingKeyword* k = std::find_if(std::begin(kShaping), std::end(kShaping),
                                           [&](const ShapingKeyword& s) { return word == s.word; });
    if (k == std::end(kShaping)) continue;
    text += word;
    long n = k->values;
    if (n < 0 && in >> word) {
      text += " " + word;
      n = std::max(0L, std::strtol(word.c_str(), nullptr, 10));
    }
    for (long i = 0; i < n && in >> word; ++i) {
      text += " " + word;
      if (k->firstFile >= 0 && i >= k->firstFile) files.push_back(word);
    }
    text += "\n";
  }
  return text;
}

}  // namespace

uint64_t Run::sourceFingerprint(const char* name) const {
  std::vector<std::string> files;
  if (!meshEntries || meshEntries->empty()) {
    files = {modelsPath + name + ".node", modelsPath + name + ".ele"};
  } else {
    for (const MeshEntry& m : *meshEntries) {
      files.push_back(modelsPath + m.name + ".node");
      files.push_back(modelsPath + m.name + ".ele");
    }
  }
  files.push_back(modelsPath + name + ".params");
  const std::string entries = shapingEntries(modelsPath + name + ".config", files);
  return zolt::filesFingerprint(files, entries);
}

bool Run::checkFixedVertices(const char* name) {
  const long long nFinest =
      static_cast<long long>(hierarchy->vertices[hierarchy->nLevels - 1].size());
  for (int v : fixedVertices) {
    if (v >= 0 && v < nFinest) continue;
    std::cerr << "[Run] Error: Fixed vertex "
              << (v < 0 ? std::string("below 1") : std::to_string(v + 1)) << " of model \"" << name
              << "\" does not exist (" << nFinest << " vertices); it is not loaded" << std::endl;
    refused = 1;
    return false;
  }
  return true;
}

// The matrix cache is read when the mesh came from its cache and the
// caches are not rebuilt, else (re)written; the caches derived from the
// mesh are then removed.
void Run::openCaches(const char* name, bool generate) {
  matrixCachePath = cachesPath + name + "." + cacheWord(elementModel);
  std::cout << std::endl << "Using cache file " << matrixCachePath << std::endl << std::endl;
  generateCache = 1;
  const std::string notAFile = zolt::notAFile(matrixCachePath);
  if (!generate && notAFile.empty()) {
    matrixCache.open(matrixCachePath, std::ios::in | std::ios::binary);
    generateCache = matrixCache.is_open() ? 0 : 1;
    matrixCache.clear();
    if (generateCache)
      std::cout << "[Run] Matrix cache \"" << matrixCachePath
                << "\" is missing; the matrices are rebuilt" << std::endl;
  }
  if (generateCache) {
    matrixCache.open(matrixCachePath, std::ios::out | std::ios::binary | std::ios::trunc);
    if (matrixCache.fail())
      std::cout << "[Run] Error opening file \"" << matrixCachePath << "\" for writing"
                << (notAFile.empty() ? "" : " (it " + notAFile + ")") << std::endl;
  }
  settings.hierarchyCachePath = matrixCachePath + ".Mgrid";
  settings.matrixCachePath = matrixCachePath;
  renderSettings.volumeCachePath = cachesPath + name + ".cacheVolume";
  renderSettings.surfaceCachePath = cachesPath + name + ".cacheSurface";
  if (!generate) return;
  const std::string& surface = renderSettings.surfaceCachePath;
  for (const std::string& derived : {settings.hierarchyCachePath, renderSettings.volumeCachePath,
                                     surface, surface + ".weight", surface + ".weightFur"})
    if (zolt::notAFile(derived).empty()) std::remove(derived.c_str());
}

Run::~Run() {
  matrixCache.close();
  if (renderable && frontEnd.deleteDrawable) frontEnd.deleteDrawable(renderable);
  renderable = nullptr;
  if (control && frontEnd.deleteControl) frontEnd.deleteControl(control);
  control = nullptr;
  simulation.reset();
  hierarchy.reset();
  fixedVertices.clear();
  meshEntries.reset();
  // settings (barrier, force field, material) and then renderSettings go
  // with the members, in reverse declaration order.
}

int framesPerSecond(double timeStep) { return static_cast<int>(1.0 / timeStep); }

void startSimulation(Run* run, bool withControl, bool withDrawable, const FrontEnd& frontEnd) {
  run->frontEnd = frontEnd;
  run->control = withControl && frontEnd.createControl ? frontEnd.createControl(*run) : nullptr;
  run->renderable = withDrawable && frontEnd.createDrawable
                        ? frontEnd.createDrawable(*run, run->control)
                        : nullptr;
  if (withControl && frontEnd.setRenderData) frontEnd.setRenderData(run->control, run->renderable);
  const int rate = framesPerSecond(run->settings.material->timeStep);
  if (frontEnd.startLoop) frontEnd.startLoop(run->control, run->renderable, rate);
}
