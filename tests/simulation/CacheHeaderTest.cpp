// The matrix-cache header: its byte layout, and for every stored field a
// changed value that gives exactly its warning (or none) and marks the
// cache stale.

#include <gtest/gtest.h>

#include <cstring>
#include <iomanip>
#include <sstream>

#include "LinearModel.h"
#include "Sealed.h"
#include "SealedFile.h"

using namespace zolt::test;

namespace {

struct HeaderModel : LinearModel {
  std::string path = dir.file("header");
  HeaderModel() : LinearModel(2, 1, 1, 0.5f, 2, onFloor) {}

  std::string written() {
    FEMOnlySimulation sim(h.get(), &settings, 3);
    std::fstream f(path, std::ios::binary | std::ios::out | std::ios::trunc);
    sim.readWriteCacheHeader(true, f);
    f.close();
    return readFile(path);
  }
  // What checking `bytes` prints, and cacheInvalid afterwards; `sealed`:
  // through the sealed reader, which checks the file's seal on a mismatch.
  std::pair<std::string, int> check(const std::string& bytes, bool sealed = false) {
    writeFile(path, bytes);
    FEMOnlySimulation sim(h.get(), &settings, 3);
    std::fstream f(path, std::ios::binary | std::ios::in);
    cacheInvalid = 0;
    std::string out = captureStdout([&] {
      if (!sealed) return sim.readWriteCacheHeader(false, f);
      zolt::SealedInBuf seal(*f.rdbuf());
      std::iostream in(&seal);
      sim.readWriteCacheHeader(false, in, &seal);
    });
    return {out, cacheInvalid};
  }
};

template <class T>
T at(const std::string& bytes, size_t offset) {
  T v;
  std::memcpy(&v, bytes.data() + offset, sizeof v);
  return v;
}

template <class T>
std::string with(std::string bytes, size_t offset, T v) {
  std::memcpy(&bytes[offset], &v, sizeof v);
  return bytes;
}

std::string numbers(double stored, double current) {
  std::ostringstream s;
  s << std::setprecision(17) << "  (" << stored << " != " << current << ")";
  return s.str();
}

}  // namespace

TEST(CacheHeader, EachChangedFieldGivesItsWarning) {
  HeaderModel m;
  const std::string good = m.written();
  ASSERT_EQ(good.size(), 96u);
  EXPECT_EQ(good.substr(0, 8), std::string("\x06\x00\x91\x7A\x08\x00\x00\x00", 8));
  EXPECT_EQ(at<double>(good, 72), 2.0);  // unit stiffness and density factors
  const double lambda = at<double>(good, 24), s = at<double>(good, 72), g = at<double>(good, 80);
  const std::string counts = "WARNING: Number of Vertices/Elements changed!";
  const std::string material = "WARNING: Material Properties changed!";
  const std::string incomplete = "WARNING: Cache header incomplete!";
  struct Row {
    std::string bytes, warning;
    int invalid;
  } rows[] = {
      {good, "", 0},
      {with<uint32_t>(good, 0, 0x7A910005), "WARNING: Not a matrix cache of this format!", 1},
      {with<uint32_t>(good, 4, 4), "WARNING: FLOAT/DOUBLE Precision changed!", 1},
      {with<uint32_t>(good, 8, 3), "WARNING: Levels of Hierarchy changed!", 1},
      {with<uint32_t>(good, 12, 44), counts, 1},
      {with<uint32_t>(good, 16, 95), counts, 1},
      {with<uint32_t>(good, 20, 2), "WARNING: Number of fixed Vertices changed!", 1},
      {with<double>(good, 24, lambda * (1 + 1e-10)), "", 0},
      {with<double>(good, 24, lambda * (1 + 1e-8)), material, 1},
      {with<double>(good, 32, 3e5 * (1 - 1e-8)), material, 1},
      {with<double>(good, 40, 2.0), "", 0},  // density to time step: hierarchy only
      {with<double>(good, 64, 2.0), "", 0},
      {with<double>(good, 72, s * (1 + 1e-6)),
       "WARNING: Stiffness/Density distribution changed!" + numbers(s * (1 + 1e-6), s), 1},
      {with<double>(good, 72, s * (1 + 1e-9)), "", 0},
      {with<double>(good, 80, g * 1.5), "WARNING: Mesh changed!" + numbers(g * 1.5, g), 1},
      {with<double>(good, 80, -0.001), "WARNING: Mesh changed!" + numbers(-0.001, g), 1},
      {with<uint32_t>(good, 88, 0x05060709), "WARNING: Model files changed!", 1},
      {good.substr(0, 95), incomplete, 1},
      {good.substr(0, 30), incomplete, 1},
      {"", incomplete, 1},
  };
  // Each line names the file. Sealed, a changed field gives the same line;
  // with a broken seal every mismatch reads as damage, never as a change.
  const std::string file = " Rebuilding \"" + m.settings.matrixCachePath + "\".\n";
  const std::string damage =
      "[FEMSimulation, readWriteCacheHeader] Error: Checksum mismatch in \"" +
      m.settings.matrixCachePath + "\"; the matrices are rebuilt\n";
  for (const Row& r : rows) {
    const std::string line = r.warning.empty() ? "" : r.warning + file;
    auto [out, invalid] = m.check(r.bytes);
    EXPECT_EQ(out, line) << r.bytes.size();
    EXPECT_EQ(invalid, r.invalid) << r.warning << " " << r.bytes.size();
    EXPECT_EQ(m.check(sealedFile(r.bytes), true), std::make_pair(line, r.invalid)) << r.warning;
    const std::string broken = flipped(sealedFile(r.bytes), 8 * r.bytes.size() + 3);
    EXPECT_EQ(m.check(broken, true), std::make_pair(r.invalid ? damage : "", r.invalid))
        << r.warning;
  }
  // Poisson ratio 0: lambda 0 matches itself and nothing else.
  m.settings.material->lambda = 0.0;
  const std::string zero = m.written();
  EXPECT_EQ(m.check(zero).second, 0);
  m.settings.material->lambda = 1e-300;
  EXPECT_EQ(m.check(zero).second, 1);
}
