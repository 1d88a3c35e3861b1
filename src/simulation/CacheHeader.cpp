// The matrix-cache header: what the cached K, M, lumped masses and S depend
// on. 96 bytes, little-endian: u32 magic, u32 real size, u32 levels,
// u32 finest vertices, u32 finest elements, u32 fixed count, six f64 of the
// material, f64 factor fingerprint, f64 mesh fingerprint, u64 fingerprint
// of the model files. The file ends with its seal (SealedFile.h).

#include <cmath>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>

#include "BinaryIO.h"
#include "FEMSimulation.h"
#include "FiniteElement.h"
#include "SealedFile.h"
#include "SimulationSettings.h"
#include "TetHierarchy.h"

int cacheInvalid = 0;
int cacheMeshMismatch = 0;

namespace {

constexpr uint32_t kMagic = 0x7A910006;  // 5: no seal, no file fingerprint
constexpr uint32_t kRealSize = 8;

struct Fingerprints {
  double factors = 0.0;  // mean of stiffness + density factor
  double mesh = 0.0;     // sum of node coordinate sums per element
};

Fingerprints fingerprints(const std::vector<FiniteElement*>& elements) {
  Fingerprints f;
  if (elements.empty()) return f;
  for (const FiniteElement* e : elements) {
    const float s = e->getStiffness() + e->getDensity();
    f.factors += s;
    for (int j = 0; j < e->degreeOfFreedom(); ++j) {
      const float* p = e->getVertex(j)->restPosition;
      const float q = (p[0] + p[1]) + p[2];
      f.mesh += q;
    }
  }
  const double n = static_cast<double>(elements.size());
  f.factors /= n;
  f.mesh /= n;
  return f;
}

// |cur - stored| within 1e-9 of the larger magnitude; NaN never matches.
bool sameMaterialValue(double cur, double stored) {
  return std::fabs(cur - stored) <= 1e-9 * std::fmax(std::fabs(cur), std::fabs(stored));
}

// Relative to the stored value's magnitude; NaN never matches. Both sides
// come from the same floats in the same order, so a centred mesh near 0
// matches itself exactly.
bool sameFingerprint(double stored, double cur) {
  return std::fabs(stored - cur) <= 1e-8 * std::fabs(stored);
}

// warning "  (stored != current)" with every digit a double has.
std::string withValues(const char* warning, double stored, double cur) {
  std::ostringstream text;
  text << std::setprecision(17) << warning << "  (" << stored << " != " << cur << ")";
  return text.str();
}

}  // namespace

void FEMSimulation::readWriteCacheHeader(bool write, std::iostream& stream,
                                         zolt::SealedInBuf* seal) {
  using namespace zolt::bin;
  const int finest = hierarchy->nLevels - 1;
  const std::vector<FiniteElement*>& elements = hierarchy->elements[finest];
  const uint32_t nLevels = static_cast<uint32_t>(hierarchy->nLevels);
  const uint32_t nVertices = static_cast<uint32_t>(hierarchy->vertices[finest].size());
  const uint32_t nElements = static_cast<uint32_t>(elements.size());
  const uint32_t nFixed = static_cast<uint32_t>(settings->fixedCount);
  const MaterialProperties& material = *settings->material;
  const Fingerprints current = fingerprints(elements);

  if (write) {
    for (uint32_t v : {kMagic, kRealSize, nLevels, nVertices, nElements, nFixed})
      writeU32(stream, v);
    for (double v : {material.lambda, material.mu, material.density, material.damping,
                     material.friction, material.timeStep})
      writeF64(stream, v);
    writeF64(stream, current.factors);
    writeF64(stream, current.mesh);
    writeU32(stream, static_cast<uint32_t>(settings->sourceFingerprint));
    writeU32(stream, static_cast<uint32_t>(settings->sourceFingerprint >> 32));
    return;
  }

  // The whole header is read first. A mismatch is damage when the seal
  // fails; otherwise its warning names the file that is rebuilt.
  const std::string& path = settings->matrixCachePath;
  auto invalid = [&](const std::string& warning) {
    cacheInvalid = 1;
    if (seal && !seal->verify())
      std::cout << "[FEMSimulation, readWriteCacheHeader] Error: Checksum mismatch in \"" << path
                << "\"; the matrices are rebuilt" << std::endl;
    else
      std::cout << warning << " Rebuilding \"" << path << "\"." << std::endl;
  };
  uint32_t magic = 0, realSize = 0, levels = 0, vertices = 0, nElem = 0, fixed = 0, low = 0,
           high = 0;
  double stored[6], s = 0.0, g = 0.0;
  bool complete = readU32(stream, magic);
  if (complete && magic != kMagic) return invalid("WARNING: Not a matrix cache of this format!");
  for (uint32_t* v : {&realSize, &levels, &vertices, &nElem, &fixed})
    complete = complete && readU32(stream, *v);
  for (double& v : stored) complete = complete && readF64(stream, v);
  complete = complete && readF64(stream, s) && readF64(stream, g) && readU32(stream, low) &&
             readU32(stream, high);
  if (!complete) return invalid("WARNING: Cache header incomplete!");
  if (realSize != kRealSize) return invalid("WARNING: FLOAT/DOUBLE Precision changed!");
  if (levels != nLevels) return invalid("WARNING: Levels of Hierarchy changed!");
  if (vertices != nVertices || nElem != nElements)
    return invalid("WARNING: Number of Vertices/Elements changed!");
  if (fixed != nFixed) return invalid("WARNING: Number of fixed Vertices changed!");
  if (!sameMaterialValue(material.lambda, stored[0]) || !sameMaterialValue(material.mu, stored[1]))
    return invalid("WARNING: Material Properties changed!");
  // Before the fingerprints: built from the same files, factors or geometry
  // that differ mean the mesh now loaded disagrees with the matrices.
  if ((uint64_t(high) << 32 | low) != settings->sourceFingerprint)
    return invalid("WARNING: Model files changed!");
  if (!sameFingerprint(s, current.factors)) {
    invalid(withValues("WARNING: Stiffness/Density distribution changed!", s, current.factors));
    cacheMeshMismatch = !seal || seal->verify();
    return;
  }
  if (!sameFingerprint(g, current.mesh)) {
    invalid(withValues("WARNING: Mesh changed!", g, current.mesh));
    cacheMeshMismatch = !seal || seal->verify();
  }
}
