#include "Run.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

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
              << (emptyElementBlock.empty() ? "" : " (" + emptyElementBlock + ")")
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

namespace {

uint64_t bytesOf(double finestElements, double bytesPerElement) {
  const double bytes = finestElements * bytesPerElement;
  return bytes >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(bytes);
}

}  // namespace

double finestElements(uint64_t coarseElements, int levels) {
  return static_cast<double>(coarseElements) * std::pow(8.0, levels - 1);
}

uint64_t refinedModelBytes(double finestElements) {
  // Peak while the finest stiffness matrix is assembled, measured as the
  // least RLIMIT_DATA a cold load passes: 1,781 bytes per finest element
  // on bunnyLarge (460,800), 1,481 on bunnyFurTex (57,600).
  return bytesOf(finestElements, 1850.0);
}

uint64_t modelBytesAtCoarseSolve(double finestElements, int levels) {
  // What stays mapped while the coarsest level is factored, the factor
  // aside: 1,716 bytes per finest element on TetGen's part at LEVEL 2
  // (665,744), 1,231 at LEVEL 1, which holds no second level nor
  // restriction.
  return bytesOf(finestElements, levels > 1 ? 1760.0 : 1300.0);
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
  roomBeforeRefined = mappingRoom();
  if (!readHierarchy) {
    // Before the refinement, which could exhaust memory; at one level
    // preprocessing checks the same figure alone.
    if (levels > 1 && !checkMemory("[Run] Error: Model \"" + std::string(name) +
                                       "\" refined to LEVEL " + std::to_string(levels),
                                   "use a lower LEVEL"))
      return false;
    std::cout << "Build nested hierarchy ... " << std::endl;
    hierarchy->buildNestedHierarchy();
  }
  return true;
}

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
  files.insert(files.end(), shapingFiles.begin(), shapingFiles.end());
  // What pass 1 applied, bit for bit, then the pass-2 entries it noted.
  std::ostringstream text;
  auto bitsOf = [&text](float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    text << " " << bits;
  };
  text << "SCALE";
  for (float s : renderSettings.scale) bitsOf(s);
  // The placements of MESH entries shape the mesh as much as their files.
  if (meshEntries)
    for (const MeshEntry& m : *meshEntries) {
      text << "\nMESH " << m.name;
      for (float f : m.matrix) bitsOf(f);
    }
  text << "\nSWAP_X_Y " << int(renderSettings.swapXY) << "\nREAD_HIERARCHY " << int(readHierarchy)
       << "\nFIXED_VERTICES " << fixedVertices.size();
  for (int v : fixedVertices) text << " " << v;
  text << "\n" << shapingEntries;
  return zolt::filesFingerprint(files, text.str());
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
  if (generateCache && !newMatrixCache.open(matrixCachePath))
    std::cout << "[Run] Error opening file \"" << matrixCachePath << "\" for writing"
              << (notAFile.empty() ? "" : " (it " + notAFile + ")") << std::endl;
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
