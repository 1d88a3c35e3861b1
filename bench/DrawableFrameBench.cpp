// The drawable's per-frame path on a 21141-vertex box body: displaced
// positions, surface normals, one colouring pass (or all three) and the
// collision offsets, against a STREAM-like triad over the same float bytes
// in the same run. Heap allocations are counted per frame and must be 0.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "DrawableArrays.h"
#include "DrawableFrame.h"
#include "TestMeshes.h"
#include "TetHierarchy.h"

namespace {
std::atomic<long> allocations{0};
}

// Counting replacements of the global allocation functions: malloc and free
// underneath, which GCC mistakes for a mismatch once they are inlined.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// 26 x 26 x 28 cells: 27 * 27 * 29 = 21141 vertices, the first 729 fixed.
struct Body {
  std::unique_ptr<TetHierarchy> mesh = zolt::test::box(26, 26, 28, 0.04f);
  int n = 0, fixed = 729, surfaceCount = 0, boundaryCount = 0;
  std::vector<int> renderOf, vertexOf;
  std::vector<float> rest, positions, normals, colours, scalars, offsets;
  std::vector<uint32_t> triangles;
  std::vector<double> displacement, rightSide, residual, stress;

  Body() {
    const auto& vs = mesh->vertices[0];
    n = static_cast<int>(vs.size());
    renderOf.resize(n);
    vertexOf.resize(n);
    surfaceCount = buildRenderOrder(vs, false, renderOf.data(), vertexOf.data());
    rest.resize(3 * n);
    positions.resize(3 * n);
    attachPositions(vs, renderOf.data(), rest.data(), positions.data());
    boundaryCount = collectTriangles(mesh->elements[0], renderOf.data(), triangles);
    normals.assign(3 * n, 0.0f);
    colours.assign(3 * n, 1.0f);
    scalars.assign(n, 0.0f);
    offsets.assign(3 * n, 0.0f);
    const int dofs = 3 * (n - fixed);
    displacement.resize(dofs);
    rightSide.resize(dofs);
    residual.resize(dofs);
    stress.resize(6 * n);
    for (int i = 0; i < dofs; ++i) {
      displacement[i] = 0.01 * std::sin(0.001 * i);
      rightSide[i] = 900.0 * std::cos(0.002 * i);
      residual[i] = 1e-3 * std::sin(0.003 * i);
    }
    for (int i = 0; i < 6 * n; ++i) stress[i] = 500.0 * std::sin(0.004 * i);
    // A barrier pushing a few hundred vertices.
    for (int v = 0; v < n; v += 50) offsets[3 * v + 1] = 1e-3f;
  }
};

Body& body() {
  static Body b;
  return b;
}

const float kBase[3] = {0.8f, 0.8f, 0.8f};
const float kAccent[3] = {1.0f, 0.0f, 0.0f};

// range(0): 1 colouring pass (right-hand side), 3: all three.
void BM_DrawableFrame(benchmark::State& state) {
  Body& b = body();
  const DofLayout layout{b.vertexOf.data(), b.n, b.fixed, 3};
  const bool all = state.range(0) == 3;
  const ColourSources sources{all,
                              all,
                              true,
                              {b.residual.data(), int(b.residual.size())},
                              {b.stress.data(), int(b.stress.size())},
                              {b.rightSide.data(), int(b.rightSide.size())}};
  const ColourBlend blend{kBase, kAccent, 1000.0f};
  long frames = 0;
  const long before = allocations.load();
  for (auto _ : state) {
    displacePositions(layout, {b.displacement.data(), int(b.displacement.size())}, b.rest.data(),
                      b.positions.data());
    colourVertices(layout, sources, blend, b.colours.data(), b.scalars.data());
    addOffsets(layout, b.offsets.data(), b.positions.data());
    computeNormals(b.positions.data(), b.triangles.data(), b.boundaryCount, b.surfaceCount,
                   b.normals.data());
    benchmark::DoNotOptimize(b.normals.data());
    benchmark::ClobberMemory();
    ++frames;
  }
  const long allocated = allocations.load() - before;
  state.counters["vertices"] = b.n;
  state.counters["boundaryTriangles"] = b.boundaryCount;
  state.counters["allocationsPerFrame"] = frames ? double(allocated) / double(frames) : 0.0;
  if (allocated != 0) state.SkipWithError("heap allocation inside the frame");
}
BENCHMARK(BM_DrawableFrame)->Arg(1)->Arg(3)->Unit(benchmark::kMicrosecond);

// a = b + s c over the bytes one frame touches most (positions, rest,
// colours, normals: 4 arrays of 3 floats per vertex).
void BM_TriadReference(benchmark::State& state) {
  const size_t count = 3 * body().n * 4 / 3;
  std::vector<float> a(count), b(count, 1.0f), c(count, 2.0f);
  for (auto _ : state) {
    for (size_t i = 0; i < count; ++i) a[i] = b[i] + 0.5f * c[i];
    benchmark::DoNotOptimize(a.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TriadReference)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
