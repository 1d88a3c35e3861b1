// The export file of two tetrahedra sharing a face, checked byte by byte at
// the offsets of its layout, and a second write over the same topology.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "TempDir.h"
#include "VolumeMeshExport.h"

namespace {

template <class T>
T at(const std::string& b, size_t offset) {
  T v;
  std::memcpy(&v, b.data() + offset, sizeof(T));
  return v;
}

constexpr size_t kN = 5, kE = 9, kT = 2;
constexpr size_t kEdges = 84 + 96 * kN, kTets = kEdges + 8 * kE;

TEST(VolumeMeshExport, TwoTetrahedraSharingAFace) {
  zolt::test::TempDir dir;
  std::vector<float> positions(3 * kN), weights(4 * kN);
  std::vector<int> indices(4 * kN);
  for (size_t i = 0; i < positions.size(); ++i) positions[i] = 0.5f * float(i);
  for (size_t i = 0; i < weights.size(); ++i) weights[i] = 0.25f + float(i);
  for (size_t i = 0; i < indices.size(); ++i) indices[i] = int(100 + i);
  // The second lists the shared face (1, 2, 3) as 3, 2, 1: its order wins.
  const int tets[8] = {0, 1, 2, 3, 3, 2, 1, 4};
  VolumeMeshExport e(int(kN), int(kT), positions.data(), indices.data(), weights.data(), tets);
  const std::vector<float> scalars = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
  ASSERT_TRUE(e.write(dir.file("a.vol").c_str(), nullptr, scalars.data(), nullptr));
  const std::string b = zolt::test::readAll(dir.file("a.vol"));
  ASSERT_EQ(b.size(), 84 + 96 * kN + 8 * kE + 40 * kT + 4);
  EXPECT_EQ(at<uint32_t>(b, 0), 0xDEADBEEFu);
  EXPECT_EQ(at<uint32_t>(b, b.size() - 4), 0xBEEFDEADu);
  const float frame[15] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1};
  for (int k = 0; k < 15; ++k) EXPECT_EQ(at<float>(b, 4 + 4 * k), frame[k]) << k;
  const uint32_t counts[5] = {kN, kE, kT, 0, 0};
  for (int k = 0; k < 5; ++k) EXPECT_EQ(at<uint32_t>(b, 64 + 4 * k), counts[k]) << k;
  for (size_t i = 0; i < kN; ++i) {
    const size_t n = 84 + 96 * i;
    for (int k = 0; k < 3; ++k) EXPECT_EQ(at<float>(b, n + 4 * k), positions[3 * i + k]);
    for (int k = 3; k < 16; ++k)  // zero and no colour around the scalar
      EXPECT_EQ(k == 10 ? 0u : at<uint32_t>(b, n + 4 * k), 0u) << k;
    EXPECT_EQ(at<float>(b, n + 40), scalars[i]);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(at<float>(b, n + 64 + 4 * k), weights[4 * i + k]);
      EXPECT_EQ(at<int32_t>(b, n + 80 + 4 * k), indices[4 * i + k]);
    }
  }
  // Pairs in ascending order: 01 02 03 12 13 14 23 24 34.
  const int32_t edges[kE][2] = {{0, 1}, {0, 2}, {0, 3}, {2, 1}, {3, 1},
                                {1, 4}, {3, 2}, {2, 4}, {3, 4}};
  for (size_t k = 0; k < kE; ++k)
    for (int c = 0; c < 2; ++c) EXPECT_EQ(at<int32_t>(b, kEdges + 8 * k + 4 * c), edges[k][c]) << k;
  const int32_t tetRecords[kT][10] = {{0, 1, 2, 3, 0, 1, 2, 3, 4, 6},
                                      {3, 2, 1, 4, 6, 4, 8, 3, 7, 5}};
  for (size_t t = 0; t < kT; ++t)
    for (int k = 0; k < 10; ++k)
      EXPECT_EQ(at<int32_t>(b, kTets + 40 * t + 4 * k), tetRecords[t][k]);

  // A second write keeps the topology and takes the new positions and colours.
  for (float& p : positions) p += 10.0f;
  const std::vector<float> colours(3 * kN, 0.5f);
  ASSERT_TRUE(e.write(dir.file("b.vol").c_str(), positions.data(), nullptr, colours.data()));
  const std::string c = zolt::test::readAll(dir.file("b.vol"));
  ASSERT_EQ(c.size(), b.size());
  EXPECT_EQ(c.substr(kEdges), b.substr(kEdges));
  EXPECT_EQ(at<float>(c, 84 + 96 * 4 + 8), positions[14]);
  EXPECT_EQ(at<float>(c, 84 + 96 * 4 + 36), 1.0f);  // alpha once colours are given
  EXPECT_EQ(at<float>(c, 84 + 96 * 4 + 40), scalars[4]);

  EXPECT_FALSE(e.write(dir.file("none/c.vol").c_str(), nullptr, nullptr, nullptr));
  EXPECT_FALSE(std::filesystem::exists(dir.file("none/c.vol")));
}

}  // namespace
