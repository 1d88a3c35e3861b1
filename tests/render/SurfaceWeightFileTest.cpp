#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Capture.h"
#include "Sealed.h"
#include "SurfaceMesh.h"
#include "SurfaceShapes.h"
#include "TempDir.h"
#include "TestMeshes.h"
#include "TetHierarchy.h"

using zolt::test::captureStdout;
using zolt::test::readAll;

namespace {

void putU32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void putF32(std::string& s, float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  putU32(s, u);
}

// A sphere surface inside a centred box; each object binds its own copy.
struct Model {
  zolt::test::TempDir dir;
  std::unique_ptr<TetHierarchy> h = zolt::test::box(3, 3, 3, 1.0f);
  Model() {
    double centre[3];
    h->setCenterOfGravity(centre);
  }
  std::string cache() const { return dir.file("model.cacheSurface"); }
  std::string file() const { return cache() + ".weight"; }
  uint32_t elements() const { return static_cast<uint32_t>(h->elements[0].size()); }
  uint32_t nodes() const { return static_cast<uint32_t>(h->vertices[0].size()); }

  // Binds a fresh surface read from its surface file, the sphere's first
  // vertex moved by `move` in x; out receives what it printed.
  std::unique_ptr<SurfaceMesh> bind(std::string& out, int rings = 6, float weighting = 2.0f,
                                    float move = 0.0f) const {
    SurfaceMesh sphere;
    zolt::test::uvSphere(sphere, rings, 8, 1.4f);
    sphere.restPositions[0] += move;
    std::ostringstream obj;
    obj.precision(9);
    const std::vector<float>& p = sphere.restPositions;
    for (size_t i = 0; i < p.size(); i += 3)
      obj << "v " << p[i] << ' ' << p[i + 1] << ' ' << p[i + 2] << '\n';
    for (size_t i = 0; i < sphere.indices.size(); ++i)
      obj << (i % 3 ? " " : "f ") << sphere.indices[i] + 1 << (i % 3 == 2 ? "\n" : "");
    auto s = std::make_unique<SurfaceMesh>();
    const float unit[3] = {1.0f, 1.0f, 1.0f};
    const double origin[3] = {0.0, 0.0, 0.0};
    captureStdout(
        [&] { s->readMesh(dir.write("model.obj", obj.str()).c_str(), {}, unit, origin); });
    s->finishMesh();
    s->attachMesh(h.get());
    out = captureStdout([&] { s->generateWeights(cache().c_str(), false, weighting); });
    return s;
  }
};

bool sameBinding(const SurfaceMesh& a, const SurfaceMesh& b) {
  return a.nodeIndices == b.nodeIndices && a.weights == b.weights &&
         a.normalFrame == b.normalFrame && a.faceCoords == b.faceCoords;
}

}  // namespace

TEST(SurfaceWeightFile, WrittenOnceThenRead) {
  Model model;
  std::string first, second;
  auto a = model.bind(first);
  const uint32_t v = a->vertexCount;
  ASSERT_EQ(v, 2u + 5u * 8u);  // the sphere's poles and rings, read from its file
  EXPECT_NE(first.find("\nGenerating surface weights\n"), std::string::npos);
  const std::string bytes = readAll(model.file());
  ASSERT_EQ(bytes.size(), 28u + 64u * v);
  // The file is the hand-assembled record of the arrays, sealed.
  std::string expected;
  putU32(expected, 0x7A91B003);
  putU32(expected, v);
  putU32(expected, model.elements());
  expected += bytes.substr(12, 8);  // the surface's fingerprint
  for (uint32_t k : a->nodeIndices) putU32(expected, k);
  for (const auto* array : {&a->weights, &a->normalFrame, &a->faceCoords})
    for (float x : *array) putF32(expected, x);
  EXPECT_EQ(bytes, zolt::test::sealedFile(expected));
  for (float x : a->normalFrame) EXPECT_TRUE(std::isfinite(x));

  auto b = model.bind(second);
  EXPECT_NE(second.find("Read Weights from File: " + model.file() + "\n"), std::string::npos);
  EXPECT_EQ(second.find("Generating surface weights"), std::string::npos);
  EXPECT_TRUE(sameBinding(*a, *b));
}

TEST(SurfaceWeightFile, StaleOrDamagedFilesAreRebuilt) {
  Model model;
  std::string out;
  auto good = model.bind(out);
  const std::string bytes = readAll(model.file());
  const std::string payload = zolt::test::payloadOf(bytes);
  const uint32_t v = good->vertexCount;
  auto setU32 = [](std::string s, size_t at, uint32_t value) {
    std::string field;
    putU32(field, value);
    return s.replace(at, 4, field);
  };
  const struct {
    const char* what;
    std::string bytes;
  } rows[] = {
      {"vertex count", setU32(payload, 4, v + 1)},
      {"element count", setU32(payload, 8, model.elements() - 1)},
      {"truncated", payload.substr(0, payload.size() - 4)},
      {"header only", payload.substr(0, 20)},
      {"too long", payload + std::string(4, '\0')},
      {"node out of range", setU32(payload, 20 + 4 * 5, model.nodes())},
      {"weight not finite", setU32(payload, 20 + 16 * v, 0x7fc00000u)},
      {"unsealed first format", payload.substr(12)},
      {"second format", setU32(payload, 0, 0x7A91B002).erase(12, 8)},
      {"empty", ""},
  };
  for (const auto& row : rows) {
    model.dir.write("model.cacheSurface.weight", zolt::test::sealedFile(row.bytes));
    auto s = model.bind(out);
    EXPECT_NE(out.find("Stored weight file does not match current object.\n"), std::string::npos)
        << row.what;
    EXPECT_NE(out.find("Generating surface weights"), std::string::npos) << row.what;
    EXPECT_TRUE(sameBinding(*s, *good)) << row.what;
    EXPECT_EQ(readAll(model.file()), bytes) << row.what;
  }
  // Ten seeded bit flips, and the node lists of two vertices swapped (counts
  // and ranges kept): refused in one line.
  std::string swapped = payload;
  std::swap_ranges(swapped.begin() + 20, swapped.begin() + 36, swapped.begin() + 36);
  std::vector<std::string> damaged = {swapped + bytes.substr(bytes.size() - 8)};
  for (size_t bit : zolt::test::seededBits(0, bytes.size(), 5))
    damaged.push_back(zolt::test::flipped(bytes, bit));
  for (const std::string& file : damaged) {
    model.dir.write("model.cacheSurface.weight", file);
    auto s = model.bind(out);
    EXPECT_NE(out.find("Checksum mismatch in " + model.file()) == std::string::npos,
              out.find("Stored weight file does not match") == std::string::npos)
        << out;
    EXPECT_TRUE(sameBinding(*s, *good));
    EXPECT_EQ(readAll(model.file()), bytes);
  }
  // The surface or the weighting changed, counts kept: searched again, as a
  // model without a weight file binds it, and the new file serves the next
  // load.
  for (const auto& [weighting, move] : {std::pair{2.0f, 0.01f}, std::pair{0.0f, 0.0f}}) {
    SCOPED_TRACE(move != 0.0f ? "vertex moved" : "weighting");
    model.dir.write("model.cacheSurface.weight", bytes);
    auto s = model.bind(out, 6, weighting, move);
    EXPECT_NE(out.find("The surface changed since " + model.file()), std::string::npos);
    std::string freshOut;
    EXPECT_TRUE(sameBinding(*s, *Model().bind(freshOut, 6, weighting, move)));
    EXPECT_FALSE(sameBinding(*s, *good));
    model.bind(out, 6, weighting, move);
    EXPECT_EQ(out.find("Generating surface weights"), std::string::npos);
  }
}

// A missing directory, or a directory in place of the file (left alone).
TEST(SurfaceWeightFile, UnwritableFileKeepsTheWeights) {
  Model model;
  std::filesystem::create_directory(model.dir.file("model.weightFur"));
  for (const char* name : {"missing/dir/model", "model"}) {
    auto s = std::make_unique<SurfaceMesh>();
    zolt::test::uvSphere(*s, 4, 6, 1.0f);
    s->attachMesh(model.h.get());
    const std::string cache = model.dir.file(name);
    const std::string out = captureStdout([&] { s->generateWeights(cache.c_str(), true, 2.0f); });
    EXPECT_EQ(s->weights.size(), 4u * s->vertexCount) << name;
    EXPECT_FALSE(std::filesystem::is_regular_file(cache + ".weightFur")) << name;
    EXPECT_NE(out.find(cache + ".weightFur could not be opened"), std::string::npos) << out;
  }
  EXPECT_TRUE(std::filesystem::is_directory(model.dir.file("model.weightFur")));
}
