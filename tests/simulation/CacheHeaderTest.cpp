// The matrix-cache header: its byte layout, and for every stored field a
// changed value that gives exactly its warning (or none) and marks the
// cache stale.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "Capture.h"
#include "FEMSimulation.h"
#include "FiniteElement.h"
#include "SimulationSettings.h"
#include "TempDir.h"
#include "TestMeshes.h"

using namespace zolt::test;

namespace {

class HeaderSimulation : public FEMSimulation {
 public:
  using FEMSimulation::FEMSimulation;
  void setSolver(int) override {}
  void computeStep(bool, bool, int, bool) override {}
  void updateHierarchy() override {}
};

// 2 x 1 x 1 cubes of edge 0.5 away from the origin, refined once; three
// fixed vertices.
struct HeaderModel {
  std::unique_ptr<TetHierarchy> h = box(2, 1, 1, 0.5f, 2);
  SimulationSettings settings;
  TempDir dir;
  std::string path = dir.file("cache");

  explicit HeaderModel(double lambda = 400.0) {
    settings.material = new MaterialProperties{lambda, 300.0, 1000.0, 0.5, 0.1, 0.01};
    settings.fixedCount = 3;
  }

  std::string written() {
    HeaderSimulation sim(h.get(), &settings, 3);
    std::fstream f(path, std::ios::binary | std::ios::out | std::ios::trunc);
    sim.readWriteCacheHeader(true, f);
    f.close();
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // What checking `bytes` prints, and whether it marks the cache stale.
  std::pair<std::string, int> check(const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    HeaderSimulation sim(h.get(), &settings, 3);
    std::fstream f(path, std::ios::binary | std::ios::in);
    cacheInvalid = 0;
    std::string out = captureStdout([&] { sim.readWriteCacheHeader(false, f); });
    return {out, cacheInvalid};
  }
};

template <class T>
T fieldAt(const std::string& bytes, size_t offset) {
  T v;
  std::memcpy(&v, bytes.data() + offset, sizeof v);
  return v;
}

template <class T>
std::string withField(std::string bytes, size_t offset, T v) {
  std::memcpy(&bytes[offset], &v, sizeof v);
  return bytes;
}

std::string pair(double stored, double current) {
  std::ostringstream s;
  s << "  (" << stored << " != " << current << ")\n";
  return s.str();
}

}  // namespace

TEST(CacheHeader, LayoutAndFingerprints) {
  HeaderModel m;
  const std::string bytes = m.written();
  ASSERT_EQ(bytes.size(), 88u);
  const uint32_t counts[6] = {0x7A910005,
                              8,
                              2,
                              static_cast<uint32_t>(m.h->vertices[1].size()),
                              static_cast<uint32_t>(m.h->elements[1].size()),
                              3};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(fieldAt<uint32_t>(bytes, 4 * k), counts[k]) << k;
  EXPECT_EQ(bytes.substr(0, 4), std::string("\x05\x00\x91\x7A", 4));  // little-endian
  const double material[6] = {400.0, 300.0, 1000.0, 0.5, 0.1, 0.01};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(fieldAt<double>(bytes, 24 + 8 * k), material[k]) << k;
  // Unit stiffness and density factors; corner coordinate sums per element.
  EXPECT_EQ(fieldAt<double>(bytes, 72), 2.0);
  double mesh = 0.0;
  for (const FiniteElement* e : m.h->elements[1])
    for (int j = 0; j < 4; ++j)
      for (float c : e->getVertex(j)->restPosition) mesh += c;
  EXPECT_NEAR(fieldAt<double>(bytes, 80), mesh / m.h->elements[1].size(), 1e-6);
}

TEST(CacheHeader, EachChangedFieldGivesItsWarning) {
  HeaderModel m;
  const std::string good = m.written();
  const double lambda = fieldAt<double>(good, 24), mu = fieldAt<double>(good, 32);
  const double s = fieldAt<double>(good, 72), g = fieldAt<double>(good, 80);
  const std::string vertices = "WARNING: Number of Vertices/Elements changed!\n";
  const std::string material = "WARNING: Material Properties changed!\n";
  const std::string incomplete = "WARNING: Cache header incomplete!\n";
  struct Row {
    std::string bytes;
    std::string warning;
    int invalid;
  } rows[] = {
      {good, "", 0},
      {withField<uint32_t>(good, 0, 0x7A910004), "", 1},
      {withField<uint32_t>(good, 4, 4), "WARNING: FLOAT/DOUBLE Precision changed!\n", 1},
      {withField<uint32_t>(good, 8, 3), "WARNING: Levels of Hierarchy changed!\n", 1},
      {withField<uint32_t>(good, 12, 44), vertices, 1},
      {withField<uint32_t>(good, 16, 95), vertices, 1},
      {withField<uint32_t>(good, 20, 2), "WARNING: Number of fixed Vertices changed!\n", 1},
      {withField<double>(good, 24, lambda * (1 + 1e-10)), "", 0},
      {withField<double>(good, 24, lambda * (1 + 1e-8)), material, 1},
      {withField<double>(good, 32, mu * (1 - 1e-8)), material, 1},
      // Density, damping, friction and time step enter only the hierarchy.
      {withField<double>(good, 40, 2.0), "", 0},
      {withField<double>(good, 48, 2.0), "", 0},
      {withField<double>(good, 56, 2.0), "", 0},
      {withField<double>(good, 64, 2.0), "", 0},
      {withField<double>(good, 72, s * (1 + 1e-6)),
       "WARNING: Stiffness/Density distribution changed!" + pair(s * (1 + 1e-6), s), 1},
      {withField<double>(good, 72, s * (1 + 1e-9)), "", 0},
      {withField<double>(good, 80, g * 1.5), "WARNING: Mesh changed!" + pair(g * 1.5, g), 1},
      {withField<double>(good, 80, -0.001), "", 0},  // small fingerprints say nothing
      {good.substr(0, 87), incomplete, 1},
      {good.substr(0, 30), incomplete, 1},
      {"", "", 1},
  };
  for (const Row& r : rows) {
    auto [out, invalid] = m.check(r.bytes);
    EXPECT_EQ(out, r.warning) << r.bytes.size();
    EXPECT_EQ(invalid, r.invalid) << r.warning << " " << r.bytes.size();
  }
}

// Poisson ratio 0 (lambda 0) compares equal to itself, and to nothing else.
TEST(CacheHeader, ZeroLambdaKeepsTheCache) {
  HeaderModel m(0.0);
  const std::string zero = m.written();
  EXPECT_EQ(m.check(zero).second, 0);
  m.settings.material->lambda = 1e-300;
  EXPECT_EQ(m.check(zero).second, 1);
}
