// The matrix-cache header: what the cached K, M, lumped masses and S depend
// on. 96 bytes, little-endian: u32 magic, u32 real size, u32 levels,
// u32 finest vertices, u32 finest elements, u32 fixed count, six f64 of the
// material, f64 factor fingerprint, f64 mesh fingerprint, u64 fingerprint
// of the model files. The file ends with its seal (SealedFile.h).

#include <cmath>
#include <fstream>
#include <iomanip>
#include <iostream>

#include "BinaryIO.h"
#include "FEMSimulation.h"
#include "FiniteElement.h"
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

// "  (stored != current)" with every digit a double has.
void printPair(const char* warning, double stored, double cur) {
  const std::streamsize precision = std::cout.precision(17);
  std::cout << warning << "  (" << stored << " != " << cur << ")" << std::endl;
  std::cout.precision(precision);
}

}  // namespace

void FEMSimulation::readWriteCacheHeader(bool write, std::iostream& stream) {
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

  auto invalid = [](const char* warning) {
    if (warning) std::cout << warning << std::endl;
    cacheInvalid = 1;
  };
  const char* kShort = "WARNING: Cache header incomplete!";
  uint32_t magic, realSize, levels, vertices, nElem, fixed;
  if (!readU32(stream, magic) || magic != kMagic) return invalid(nullptr);
  if (!readU32(stream, realSize)) return invalid(kShort);
  if (realSize != kRealSize) return invalid("WARNING: FLOAT/DOUBLE Precision changed!");
  if (!readU32(stream, levels)) return invalid(kShort);
  if (levels != nLevels) return invalid("WARNING: Levels of Hierarchy changed!");
  if (!readU32(stream, vertices) || !readU32(stream, nElem)) return invalid(kShort);
  if (vertices != nVertices || nElem != nElements)
    return invalid("WARNING: Number of Vertices/Elements changed!");
  if (!readU32(stream, fixed)) return invalid(kShort);
  if (fixed != nFixed) return invalid("WARNING: Number of fixed Vertices changed!");
  double stored[6];
  for (double& v : stored)
    if (!readF64(stream, v)) return invalid(kShort);
  if (!sameMaterialValue(material.lambda, stored[0]) || !sameMaterialValue(material.mu, stored[1]))
    return invalid("WARNING: Material Properties changed!");
  double s, g;
  if (!readF64(stream, s)) return invalid(kShort);
  if (!sameFingerprint(s, current.factors)) {
    printPair("WARNING: Stiffness/Density distribution changed!", s, current.factors);
    cacheMeshMismatch = 1;
    return invalid(nullptr);
  }
  if (!readF64(stream, g)) return invalid(kShort);
  if (!sameFingerprint(g, current.mesh)) {
    printPair("WARNING: Mesh changed!", g, current.mesh);
    cacheMeshMismatch = 1;
    return invalid(nullptr);
  }
  uint32_t low, high;
  if (!readU32(stream, low) || !readU32(stream, high)) return invalid(kShort);
  if ((uint64_t(high) << 32 | low) != settings->sourceFingerprint)
    return invalid("WARNING: Model files changed!");
}
