// Render volume: orientation, scalars, binding against rest positions and a
// linear field, the cache and its refusal, image sampling at voxel centres.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>

#include "Capture.h"
#include "FiniteElement.h"
#include "RenderSettings.h"
#include "Sealed.h"
#include "TempDir.h"
#include "TestMeshes.h"
#include "Vertex.h"
#include "VolumeMesh.h"

namespace {

using Point = std::array<float, 3>;

std::string nodeText(const std::vector<Point>& points, const std::vector<float>& scalars = {}) {
  std::ostringstream s;
  s << points.size() << " 3 0 " << (scalars.empty() ? 0 : 1) << "\n";
  for (size_t i = 0; i < points.size(); ++i) {
    s << i + 1 << " " << points[i][0] << " " << points[i][1] << " " << points[i][2];
    s << (scalars.empty() ? "" : " " + std::to_string(scalars[i])) << "\n";
  }
  return s.str();
}

// A render volume beside the simulation mesh box(2, 1, 1).
struct VolumeModel {
  zolt::test::TempDir dir;
  std::unique_ptr<TetHierarchy> mesh = zolt::test::box(2, 1, 1);
  RenderSettings settings;
  VolumeLink link;
  std::string cache;

  VolumeModel() {
    settings.volumePath = dir.file("vol");
    cache = settings.volumeCachePath = dir.file("vol.cacheVolume");
    link.hasSimulation = true;
    link.boxMax[0] = 2.0f;
    link.boxMax[1] = link.boxMax[2] = 1.0f;
  }
  void write(const std::vector<Point>& points, const std::string& ele = "0 4 0\n",
             const std::vector<float>& scalars = {}) {
    dir.write("vol.node", nodeText(points, scalars));
    dir.write("vol.ele", ele);
  }
  std::unique_ptr<VolumeMesh> load(bool shift = false, bool wantImage = false) {
    auto v = std::make_unique<VolumeMesh>();
    v->load(mesh.get(), &settings, link, shift, 0, wantImage);
    return v;
  }
};

double orientation(const VolumeMesh& v, int t) {
  auto e = [&](int k, int c) {
    return double(v.positions[3 * size_t(v.tets[4 * t + k]) + c]) -
           v.positions[3 * size_t(v.tets[4 * t]) + c];
  };
  return e(1, 0) * (e(2, 1) * e(3, 2) - e(2, 2) * e(3, 1)) -
         e(1, 1) * (e(2, 0) * e(3, 2) - e(2, 2) * e(3, 0)) +
         e(1, 2) * (e(2, 0) * e(3, 1) - e(2, 1) * e(3, 0));
}

TEST(VolumeMesh, StoredTetrahedraAreNegativeAndNameExistingNodes) {
  VolumeModel m;
  m.write({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}},
          "4 4 1\n1 1 2 3 4 7\n2 1 3 2 4 7\n3 2 3 4 9 7\n4 2 3 4 5 7\n");
  auto v = m.load();
  ASSERT_EQ(v->tetCount, 3);  // the element naming node 9 is left out
  const std::vector<std::vector<int>> sets = {{0, 1, 2, 3}, {0, 1, 2, 3}, {1, 2, 3, 4}};
  for (int t = 0; t < 3; ++t) {
    EXPECT_LT(orientation(*v, t), 0.0) << t;
    std::vector<int> nodes(v->tets.begin() + 4 * t, v->tets.begin() + 4 * t + 4);
    std::sort(nodes.begin(), nodes.end());
    EXPECT_EQ(nodes, sets[size_t(t)]) << t;
  }
}

struct ScalarRow {
  const char* name;
  std::vector<float> in;
  bool log, inv;
  std::vector<float> out;
};

TEST(VolumeMesh, NodeScalarsAreNormalisedUnlessConstant) {
  const float e = std::exp(1.0f);
  const ScalarRow rows[] = {{"range", {2, 4, 6}, false, false, {0, 0.5f, 1}},
                            {"constant", {3, 3, 3}, false, false, {3, 3, 3}},
                            {"inverse", {2, 4, 6}, false, true, {1, 0.5f, 0}},
                            {"log", {1, e, e * e}, true, false, {0, 0.5f, 1}},
                            {"none", {}, false, false, {0, 0, 0}}};
  for (const ScalarRow& r : rows) {
    VolumeModel m;
    m.settings.volumeLogScalars = r.log;
    m.settings.volumeInvScalars = r.inv;
    m.write({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, "0 4 0\n", r.in);
    auto v = m.load();
    ASSERT_EQ(v->scalars.size(), 3u) << r.name;
    for (int i = 0; i < 3; ++i)
      EXPECT_NEAR(v->scalars[size_t(i)], r.out[size_t(i)], 1e-6) << r.name;
  }
  VolumeModel m;  // swap, scale, then the centre
  m.settings.swapXY = 1;
  m.settings.scale[0] = m.settings.scale[1] = m.settings.scale[2] = 2.0f;
  m.settings.centre[0] = 1.0;
  m.write({{1, 2, 3}});
  EXPECT_EQ(m.load()->positions, (std::vector<float>{3, 2, 6}));
}

TEST(VolumeMesh, WeightsReproduceTheNodeAndFollowALinearField) {
  VolumeModel m;
  const std::vector<FiniteElement*>& elements = m.mesh->elements[0];
  std::vector<Point> points = {{0.3f, 0.6f, 0.2f}, {1.7f, 0.1f, 0.9f}, {2.5f, -0.3f, 0.5f}};
  Point centroid = {0, 0, 0};  // of element 7: bound to it with weights 1/4
  for (int k = 0; k < 4; ++k)
    for (int c = 0; c < 3; ++c) centroid[c] += 0.25f * elements[7]->getVertex(k)->restPosition[c];
  points.push_back(centroid);
  m.write(points);
  auto v = m.load();
  const auto& vertices = m.mesh->vertices[0];
  for (size_t i = 0; i < points.size(); ++i) {
    double p[3] = {0, 0, 0}, sum = 0;
    for (int k = 0; k < 4; ++k) {
      sum += v->weights[4 * i + k];
      for (int c = 0; c < 3; ++c)
        p[c] +=
            v->weights[4 * i + k] * vertices[size_t(v->nodeIndices[4 * i + k])]->restPosition[c];
    }
    EXPECT_NEAR(sum, 1.0, 1e-6) << i;
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(p[c], points[i][c], 1e-5) << i;
  }
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(v->nodeIndices[12 + k], elements[7]->getVertex(k)->index);
    EXPECT_NEAR(v->weights[12 + k], 0.25, 1e-6);
  }

  // u(x) = A x + b at every mesh vertex moves every node by A p + b; colour
  // scalars y + 2z by render index (vertex order reversed) interpolate alike.
  const double A[3][3] = {{0.1, -0.2, 0.05}, {0.3, 0.0, -0.1}, {-0.05, 0.2, 0.15}};
  auto field = [&](const float* x, int r) {
    return r - 2.0 + A[r][0] * x[0] + A[r][1] * x[1] + A[r][2] * x[2];
  };
  const size_t nv = vertices.size();
  std::vector<double> u(3 * nv);
  std::vector<float> colourScalars(nv);
  std::vector<int> renderIndex(nv);
  for (const Vertex* x : vertices) {
    for (int r = 0; r < 3; ++r) u[3 * size_t(x->index) + r] = field(x->restPosition, r);
    renderIndex[size_t(x->index)] = int(nv) - 1 - x->index;
    colourScalars[nv - 1 - size_t(x->index)] = x->restPosition[1] + 2 * x->restPosition[2];
  }
  v->displace(u.data(), int(u.size()));
  const std::vector<float> displaced = v->positions;
  v->positions = v->restPositions;
  const std::vector<float> offsets(u.begin(), u.end());
  v->addNodeOffsets(offsets.data(), int(offsets.size()));
  v->interpolateFrom(colourScalars.data(), renderIndex.data(), int(nv), 0);
  for (size_t i = 0; i < points.size(); ++i) {
    EXPECT_NEAR(v->scalars[i], points[i][1] + 2 * points[i][2], 1e-5) << i;
    for (int r = 0; r < 3; ++r) {
      EXPECT_NEAR(displaced[3 * i + r], points[i][r] + field(points[i].data(), r), 1e-5) << i;
      EXPECT_NEAR(v->positions[3 * i + r], points[i][r] + field(points[i].data(), r), 1e-5) << i;
    }
  }
}

TEST(VolumeMesh, FixedVerticesGetNoWeightAndNumbersCountFreeNodes) {
  VolumeModel m;
  m.link.firstFreeNode = 4;
  m.write({{0.1f, 0.1f, 0.1f}, {1.9f, 0.9f, 0.9f}});
  auto plain = m.load();
  auto shifted = m.load(true);  // from the cache, which holds the numbers unshifted
  int fixedEntries = 0;
  for (size_t k = 0; k < 8; ++k) {
    const int j = plain->nodeIndices[k];
    if (j < 4) {
      ++fixedEntries;
      EXPECT_EQ(j, 0) << k;
      EXPECT_EQ(plain->weights[k], 0.0f) << k;
    }
    EXPECT_EQ(shifted->nodeIndices[k], j ? j - 4 : 0) << k;
  }
  EXPECT_GT(fixedEntries, 0);
}

template <class T>
T fileValue(const std::string& bytes, size_t at) {
  T v;
  std::memcpy(&v, bytes.data() + at, sizeof(T));
  return v;
}

template <class T>
void patch(const std::string& path, size_t at, T v) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(std::streamoff(at));
  f.write(reinterpret_cast<const char*>(&v), sizeof(T));
}

struct CacheRow {
  const char* name;
  void (*change)(VolumeModel&, size_t n);
  bool reused;
};

TEST(VolumeMesh, TheCacheHoldsTheBindingAndIsReusedOnlyWhenItFits) {
  const std::vector<Point> points = {{0.2f, 0.3f, 0.4f}, {1.2f, 0.5f, 0.5f}, {1.8f, 0.9f, 0.1f}};
  const CacheRow rows[] = {
      {"as written", [](VolumeModel&, size_t) {}, true},
      {"another node count",
       [](VolumeModel& m, size_t) {
         m.write({{0, 0, 0}});
       },
       false},
      {"a node number beyond the mesh",
       [](VolumeModel& m, size_t n) { patch<int32_t>(m.cache, 9 + 16 * n, 12); }, false},
      {"scalars claimed but missing", [](VolumeModel& m, size_t) { patch<uint8_t>(m.cache, 8, 1); },
       false},
      {"the unsealed first format",
       [](VolumeModel& m, size_t) {
         m.dir.write("vol.cacheVolume", zolt::test::readAll(m.cache).substr(4));
       },
       false}};
  for (const CacheRow& r : rows) {
    VolumeModel m;
    m.write(points);
    auto first = m.load();
    const size_t n = points.size();
    const std::string bytes = zolt::test::readAll(m.cache);
    ASSERT_EQ(bytes.size(), 17 + 32 * n) << r.name;
    EXPECT_TRUE(fileValue<int32_t>(bytes, 4) == 3 && bytes[8] == 0);
    for (size_t k = 0; k < 4 * n; ++k) {
      EXPECT_EQ(fileValue<float>(bytes, 9 + 4 * k), first->weights[k]) << k;
      EXPECT_EQ(fileValue<int32_t>(bytes, 9 + 16 * n + 4 * k), first->nodeIndices[k]) << k;
    }
    patch<float>(m.cache, 9, 0.125f);  // marks a weight that only the cache holds
    r.change(m, n);
    m.dir.write("vol.cacheVolume", zolt::test::sealedFile(zolt::test::payloadOf(
                                       zolt::test::readAll(m.cache))));  // sealed again
    auto second = m.load();
    EXPECT_EQ(second->weights[0] == 0.125f, r.reused) << r.name;
  }
  VolumeModel m;  // no simulation: nothing computed, nothing written
  m.link.hasSimulation = false;
  m.write(points);
  auto v = m.load();
  EXPECT_FALSE(std::filesystem::exists(m.cache));
  for (float w : v->weights) EXPECT_EQ(w, 0.0f);
}

TEST(VolumeMesh, ImageSamplesAtVoxelCentresAndCachesOnlyWhatWasSampled) {
  VolumeModel m;
  m.settings.volumeTexturePath = m.dir.file("vol.raw");
  for (int& s : m.settings.volumeSamples) s = 3;
  // Box [0, 2] x [0, 1] x [0, 1] on 3 samples: voxel (x, 2y, 2z).
  const std::vector<Point> points = {{1, 0.5f, 0.5f}, {2, 1, 1}, {0, 0, 0.5f}, {3, 0, 0}};
  const std::vector<Point> expected = {{0.5f, 0.5f, 0.5f}, {1, 1, 1}, {0, 0, 0.5f}, {1, 0, 0}};
  const float voxel[] = {65, 125, 35, 0};  // 10 x + 20 y + 30 z + 5; outside: 0
  m.write(points);
  m.load();  // no image yet: the cache says no scalars
  EXPECT_EQ(std::filesystem::file_size(m.cache), 17 + 32 * points.size());

  std::string raw;
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 3; ++x) raw.push_back(char(10 * x + 20 * y + 30 * z + 5));
  m.dir.write("vol.raw", raw);
  auto v = m.load(false, true);  // recomputed: the image is there now
  for (size_t i = 0; i < points.size(); ++i) {
    EXPECT_NEAR(v->scalars[i], voxel[i] / 255.0f, 1e-6) << i;
    for (int c = 0; c < 3; ++c) EXPECT_EQ(v->texCoords[3 * i + c], expected[i][c]) << i;
  }
  EXPECT_EQ(v->image.voxels.size(), 27u);
  EXPECT_EQ(std::filesystem::file_size(m.cache), 17 + 48 * points.size() + 12 + 27);
  std::filesystem::remove(m.settings.volumeTexturePath);
  auto cached = m.load(false, true);
  EXPECT_TRUE(cached->scalars == v->scalars && cached->image.voxels == v->image.voxels);

  // Ten seeded bit flips: refused, said at most once, and nothing sampled.
  const std::string good = zolt::test::readAll(m.cache);
  for (size_t bit : zolt::test::seededBits(0, good.size(), 3)) {
    m.dir.write("vol.cacheVolume", zolt::test::flipped(good, bit));
    const std::string out = zolt::test::captureStdout(
        [&] { EXPECT_TRUE(m.load(false, true)->image.voxels.empty()) << bit; });
    const std::string notice = "[RenderVolume, readCache]";
    EXPECT_EQ(out.find(notice, out.find(notice) + 1), std::string::npos) << out;
  }
}

std::array<int32_t, 2> pair(int32_t a, int32_t b) { return {std::min(a, b), std::max(a, b)}; }

TEST(VolumeMesh, ExportOfTwoTetrahedraReadsBack) {
  VolumeModel m;
  m.write({{.2f, .2f, .2f}, {1, .2f, .2f}, {.2f, .8f, .2f}, {.2f, .2f, .8f}, {1, .8f, .8f}},
          "2 4 0\n1 1 2 3 4\n2 2 3 4 5\n", {1, 2, 3, 4, 5});
  auto v = m.load();
  ASSERT_EQ(v->tetCount, 2);
  std::vector<double> u(3 * m.mesh->vertices[0].size(), 0.25);  // a uniform move
  v->displace(u.data(), int(u.size()));
  const std::string file = m.dir.file("export.vol");
  ASSERT_TRUE(v->exportMesh(file.c_str()));
  const std::string f = zolt::test::readAll(file);
  // A magic word, 15 floats of frame, five counts; per node 24 words
  // (position 0-2, scalar 10); per edge two nodes; per tetrahedron four
  // nodes and six edges; a closing magic.
  const size_t nodes = 84, edges = nodes + 96 * 5, tets = edges + 8 * 9;
  const auto word = [&](size_t at) { return fileValue<int32_t>(f, at); };
  ASSERT_EQ(f.size(), tets + 40 * 2 + 4);
  EXPECT_TRUE(uint32_t(word(0)) == 0xDEADBEEFu && uint32_t(word(f.size() - 4)) == 0xBEEFDEADu);
  EXPECT_TRUE(word(64) == 5 && word(68) == 9 && word(72) == 2);
  for (size_t i = 0; i < 5; ++i) {
    const size_t at = nodes + 96 * i;
    for (size_t c = 0; c < 3; ++c)
      EXPECT_NEAR(fileValue<float>(f, at + 4 * c), v->restPositions[3 * i + c] + 0.25f, 1e-6);
    EXPECT_FLOAT_EQ(fileValue<float>(f, at + 40), 0.25f * float(i));
  }
  // Each edge of a tetrahedron joins its corners; one shared face: nine edges.
  const int corners[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
  const auto edge = [&](size_t e) { return pair(word(edges + 8 * e), word(edges + 8 * e + 4)); };
  std::set<std::array<int32_t, 2>> used;
  for (size_t t = 0; t < 2; ++t) {
    const auto node = [&](int k) { return word(tets + 40 * t + 4 * size_t(k)); };
    for (int k = 0; k < 4; ++k) EXPECT_EQ(node(k), v->tets[4 * t + size_t(k)]);
    for (int k = 0; k < 6; ++k) {
      ASSERT_TRUE(node(4 + k) >= 0 && node(4 + k) < 9);
      EXPECT_EQ(edge(size_t(node(4 + k))), pair(node(corners[k][0]), node(corners[k][1])));
      used.insert(edge(size_t(node(4 + k))));
    }
  }
  EXPECT_EQ(used.size(), 9u);
  EXPECT_FALSE(v->exportMesh(m.dir.file("none/c.vol").c_str()));
}

}  // namespace
