// The render surface's processor work: skinning plus face normals per frame
// for a 50k-vertex surface, as a ratio to merely copying the rest positions
// and clearing the normals; weight generation for 10k vertices, against the
// literal search (shape functions evaluated per face through the
// polynomials) on a sample of the vertices; reading the weight file back;
// the fur surface's own per-frame work on top of skinning for a 50k-vertex
// surface split by fur coordinates.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "FiniteElement.h"
#include "SurfaceMesh.h"
#include "SurfaceShapes.h"
#include "TempDir.h"
#include "TestMeshes.h"
#include "TetHierarchy.h"
#include "Vertex.h"

using Clock = std::chrono::steady_clock;

namespace {

// Runs f with standard output sent to /dev/null.
template <class F>
void quietly(F f) {
  std::fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  f();
  std::fflush(stdout);
  dup2(saved, 1);
  close(null);
  close(saved);
}

// A centred 2 x 2 x 2 box of 8^3 cubes refined once (24576 tetrahedra)
// and a sphere surface of radius 1 bound to it.
struct Scene {
  std::unique_ptr<TetHierarchy> h = zolt::test::box(8, 8, 8, 0.25f, 2);
  SurfaceMesh s;
  zolt::test::TempDir dir;
  std::string cache = dir.file("surface");

  Scene(int rings, int segments) {
    double centre[3];
    quietly([&] { h->setCenterOfGravity(centre); });
    zolt::test::uvSphere(s, rings, segments, 1.0f);
    s.attachMesh(h.get());
  }
  std::string file() const { return SurfaceMesh::weightFilePath(cache.c_str(), false); }
  void bind() {
    std::remove(file().c_str());
    quietly([&] { s.generateWeights(cache.c_str(), false, 2.0f); });
  }
};

void BM_SkinAndNormals(benchmark::State& state) {
  Scene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  scene.bind();
  SurfaceMesh& s = scene.s;
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-0.05f, 0.05f);
  for (float& d : s.nodeDisplacements) d = u(rng);

  // The floor: copy the rest positions, clear the normals.
  constexpr int kReference = 200;
  const auto t0 = Clock::now();
  for (int r = 0; r < kReference; ++r) {
    std::memcpy(s.positions.data(), s.restPositions.data(), 4 * s.restPositions.size());
    std::memset(s.normals.data(), 0, 4 * s.normals.size());
    benchmark::ClobberMemory();
  }
  const double copy = std::chrono::duration<double>(Clock::now() - t0).count() / kReference;

  const auto t1 = Clock::now();
  for (auto _ : state) {
    s.skinVertices();
    s.accumulateFaceNormals(false);
    benchmark::ClobberMemory();
  }
  const double frame = std::chrono::duration<double>(Clock::now() - t1).count() /
                       static_cast<double>(state.iterations());
  state.counters["vertices"] = s.vertexCount;
  state.counters["triangles"] = static_cast<double>(s.indices.size() / 3);
  state.counters["vs_copy"] = frame / copy;
}

// The search as literally described: per face a projection and the four
// shape functions through Polynom::eval. Returns seconds per vertex.
double literalSearch(Scene& scene, size_t vertices) {
  const auto& elements = scene.h->elements[scene.h->nLevels - 1];
  const auto buckets = SurfaceMesh::octantBuckets(elements);
  static const int kFaces[4][4] = {{8, 0, 1, 2}, {4, 1, 0, 3}, {2, 3, 0, 2}, {1, 2, 1, 3}};
  float sink = 0.0f;
  const auto t0 = Clock::now();
  for (size_t i = 0; i < vertices; ++i) {
    const float* p = &scene.s.restPositions[3 * i];
    float best = 3e37f;
    for (uint32_t id : buckets[SurfaceMesh::octantOf(p)]) {
      FiniteElement* e = elements[id];
      for (const auto& face : kFaces) {
        if (!(e->getFaceMask() & face[0])) continue;
        const float* a = e->getVertex(face[1])->restPosition;
        const float* b = e->getVertex(face[2])->restPosition;
        const float* c = e->getVertex(face[3])->restPosition;
        float q[3], dist;
        SurfaceMesh::projectOntoFacePlane(a, b, c, p, q, dist);
        float penalty = 1.0f;
        for (int j = 0; j < 4; ++j) {
          const float n = static_cast<float>(e->getShapeFunctions()[j].eval(p[0], p[1], p[2]));
          if (n < 0.0f) penalty -= n;
        }
        float d2 = 0.0f;
        for (int k = 0; k < 3; ++k) {
          const float g = (a[k] + b[k] + c[k]) * 0.33333334f - p[k];
          d2 += g * g;
        }
        const float score = std::sqrt(d2) * 2.0f * penalty + dist;
        if (score < best) best = score;
      }
    }
    sink += best;
  }
  benchmark::DoNotOptimize(sink);
  return std::chrono::duration<double>(Clock::now() - t0).count() / static_cast<double>(vertices);
}

void BM_GenerateWeights(benchmark::State& state) {
  Scene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const auto t0 = Clock::now();
  for (auto _ : state) scene.bind();
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count() /
                         static_cast<double>(state.iterations());
  const double literal = literalSearch(scene, 500) * scene.s.vertexCount;
  state.counters["vertices"] = scene.s.vertexCount;
  state.counters["tetrahedra"] = static_cast<double>(scene.h->elements[1].size());
  state.counters["literal_s"] = literal;
  state.counters["vs_literal"] = seconds / literal;
}

void BM_ReadWeights(benchmark::State& state) {
  Scene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  scene.bind();
  for (auto _ : state) quietly([&] { scene.s.generateWeights(scene.cache.c_str(), false, 2.0f); });
  state.counters["vertices"] = scene.s.vertexCount;
}

// The fur update after skinning and face normals: the seam merge, unit
// normals and the copies into the position and normal buffers (measured as
// copies into memory the size of the buffers).
void BM_FurFrame(benchmark::State& state) {
  SurfaceMesh s;
  zolt::test::uvSphere(s, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 1.0f);
  s.buildFurTexCoords(0.35f);
  s.splitByFurTexCoords();
  s.finishMesh();
  std::vector<float> positionBuffer(s.positions.size()), normalBuffer(s.normals.size());
  for (auto _ : state) {
    s.mergeSeamNormals();
    s.normalizeNormals();
    std::memcpy(positionBuffer.data(), s.positions.data(), 4 * s.positions.size());
    std::memcpy(normalBuffer.data(), s.normals.data(), 4 * s.normals.size());
    benchmark::ClobberMemory();
  }
  state.counters["vertices"] = s.vertexCount;
  state.counters["seams"] = static_cast<double>(s.seamFirst.size());
}

}  // namespace

// 2 + 199 x 250 = 49752 vertices, 99500 triangles.
BENCHMARK(BM_SkinAndNormals)
    ->Args({200, 250})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
// 2 + 79 x 126 = 9956 vertices.
BENCHMARK(BM_GenerateWeights)
    ->Args({80, 126})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ReadWeights)
    ->Args({80, 126})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
// 49752 vertices before the fur split, about 50.5k after.
BENCHMARK(BM_FurFrame)
    ->Args({200, 250})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
