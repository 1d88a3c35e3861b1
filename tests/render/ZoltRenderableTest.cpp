// The drawable in a real GL context: buffer sizes read back from GL, the
// textures it uploads, the simulation vectors read in place, a barrier that
// pushes vertices out of a sphere, and a model without render surface whose
// mesh covers pixels.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "Barrier.h"
#include "Capture.h"
#include "DrawableArrays.h"
#include "GLUtils.h"
#include "GLWindow.h"
#include "GuiSettings.h"
#include "RenderSettings.h"
#include "RenderSurface.h"
#include "StateSimulation.h"
#include "TempDir.h"
#include "TestMeshes.h"
#include "Tetrahedron.h"
#include "ZoltControl.h"
#include "ZoltRenderable.h"

namespace {

using zolt::test::StateSimulation;

const int W = 160, H = 120;

void openWindow() { zolt::test::openGLWindow("drawable", W, H); }

// A box body with settings, a control object and its drawable.
struct Scene {
  zolt::test::TempDir dir;
  std::unique_ptr<TetHierarchy> mesh;
  SimulationSettings settings;
  RenderSettings render;
  std::unique_ptr<StateSimulation> simulation;
  std::unique_ptr<ZoltControl> control;
  std::unique_ptr<ZoltRenderable> drawable;
  std::string log;

  // A body of k x l x m cubes of edge `edge` centred on the origin, with a
  // simulation with `fixed` fixed vertices, and the render surface file
  // `surface` when that is not empty.
  Scene(int k, int l, int m, float edge, int fixed, bool withSimulation = true,
        const std::string& surface = "") {
    openWindow();
    initGuiDefaults();
    guiSettings.windowWidth = W;
    guiSettings.windowHeight = H;
    mesh = zolt::test::box(k, l, m, edge);
    double centre[3];
    log = zolt::test::captureStdout([&] { mesh->setCenterOfGravity(centre); });
    settings.fixedCount = fixed;
    if (!surface.empty()) render.surfacePath = dir.write("body.obj", surface);
    render.surfaceCachePath = dir.file("body.cacheSurface");
    const int n = static_cast<int>(mesh->vertices[0].size());
    if (withSimulation) simulation = std::make_unique<StateSimulation>(&settings, n, 3);
    control = std::make_unique<ZoltControl>(mesh.get(), simulation.get(), &settings, &render);
    log += zolt::test::captureStdout(
        [&] { drawable = std::make_unique<ZoltRenderable>(mesh.get(), &render, control.get()); });
    control->setRenderData(drawable.get());
  }
};

std::vector<uint32_t> indexBufferContents(const ZoltRenderable& d) {
  std::vector<uint32_t> indices(3 * d.triangleCount);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, d.indexBuffer);
  glGetBufferSubData(GL_ELEMENT_ARRAY_BUFFER, 0, 12 * d.triangleCount, indices.data());
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  return indices;
}

GLint bufferSize(GLenum target, GLuint id) {
  GLint size = -1;
  glBindBuffer(target, id);
  glGetBufferParameteriv(target, GL_BUFFER_SIZE, &size);
  glBindBuffer(target, 0);
  return size;
}

TEST(ZoltRenderable, BuffersHoldTheArrays) {
  Scene s(3, 2, 2, 0.5f, 0);
  const ZoltRenderable& d = *s.drawable;
  const int n = d.vertexCount, t = d.triangleCount;
  EXPECT_EQ(n, 4 * 3 * 3);
  EXPECT_EQ(t, 4 * 6 * 12);
  EXPECT_NE(s.log.find("Generate Vertex Buffer Objects ...\n"), std::string::npos);
  EXPECT_EQ(s.log.find("Error"), std::string::npos);
  EXPECT_EQ(bufferSize(GL_ARRAY_BUFFER, d.positionBuffer), n * 12);
  EXPECT_EQ(bufferSize(GL_ARRAY_BUFFER, d.normalBuffer), n * 12);
  EXPECT_EQ(bufferSize(GL_ARRAY_BUFFER, d.colourBuffer), n * 12);
  EXPECT_EQ(bufferSize(GL_ARRAY_BUFFER, d.texCoordBuffer), n * 8);
  EXPECT_EQ(bufferSize(GL_ELEMENT_ARRAY_BUFFER, d.indexBuffer), t * 12);
  EXPECT_EQ(indexBufferContents(d), d.triangles);
}

// The texels of a texture's level 0 as RGB bytes.
std::vector<uint8_t> texels(GLenum target, GLuint id, int* w, int* h) {
  glBindTexture(target, id);
  glGetTexLevelParameteriv(target, 0, GL_TEXTURE_WIDTH, w);
  glGetTexLevelParameteriv(target, 0, GL_TEXTURE_HEIGHT, h);
  std::vector<uint8_t> rgb(3 * (*w) * (*h));
  GLUtils::PixelStore pack(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(target, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
  glBindTexture(target, 0);
  return rgb;
}

TEST(ZoltRenderable, TexturesFromTheFileOrOneWhiteTexel) {
  zolt::test::TempDir dir;
  // A 3 x 2 BMP: blue, green, red bytes; rows bottom-up.
  const unsigned char bgr[18] = {10, 20, 30, 40, 50, 60, 70, 80, 90,
                                 15, 25, 35, 45, 55, 65, 75, 85, 95};
  const std::string bmp = dir.file("skin.bmp");
  zolt::test::captureStdout([&] { GLUtils::writeBMP(bmp.c_str(), bgr, 3, 2); });
  const struct {
    std::string path;
    int width, height;
  } rows[] = {{bmp, 3, 2}, {dir.file("missing.bmp"), 1, 1}, {dir.file("notAnImage.tga"), 1, 1}};
  for (const auto& row : rows) {
    openWindow();
    initGuiDefaults();
    auto mesh = zolt::test::singleTetrahedron();
    RenderSettings render;
    render.texturePath = row.path;
    std::unique_ptr<ZoltRenderable> d;
    zolt::test::captureStdout(
        [&] { d = std::make_unique<ZoltRenderable>(mesh.get(), &render, nullptr); });
    int w = 0, h = 0;
    const std::vector<uint8_t> rgb = texels(GL_TEXTURE_2D, d->surfaceTexture, &w, &h);
    EXPECT_EQ(w, row.width) << row.path;
    EXPECT_EQ(h, row.height) << row.path;
    if (row.width == 1) {
      EXPECT_EQ(rgb, std::vector<uint8_t>(3, 255)) << row.path;
    } else {
      // Red, green, blue of each pixel, the bottom row first.
      const std::vector<uint8_t> expected = {30, 20, 10, 60, 50, 40, 90, 80, 70,
                                             35, 25, 15, 65, 55, 45, 95, 85, 75};
      EXPECT_EQ(rgb, expected);
    }
    texels(GL_TEXTURE_1D, d->skinLutTexture, &w, &h);
    EXPECT_EQ(w, kSkinRampSize);
  }
}

TEST(ZoltRenderable, UpdateReadsTheSimulationInPlace) {
  Scene s(2, 2, 2, 0.5f, 4);
  ZoltRenderable& d = *s.drawable;
  StateSimulation& sim = *s.simulation;
  // Written after construction: only a drawable that kept the pointer sees it.
  for (int i = 0; i < sim.displacement.n; ++i) sim.displacement[i] = 0.01 * (i % 3 + 1);
  frameDrawn = 1;
  d.update();
  EXPECT_EQ(d.needsPrepare, 1);
  EXPECT_EQ(frameDrawn, 0);
  for (const Vertex* v : s.mesh->vertices[0]) {
    const float* p = v->currentPosition;
    EXPECT_EQ(p, &d.positions[3 * d.renderIndexOfVertex[v->index]]);
    for (int k = 0; k < 3; ++k) {
      const float shift = v->index < 4 ? 0.0f : 0.01f * (k + 1);
      EXPECT_FLOAT_EQ(p[k], v->restPosition[k] + shift) << v->index;
    }
  }
  // Without a simulation nothing moves.
  Scene still(2, 2, 2, 0.5f, 0, false);
  const std::vector<float> rest = still.drawable->positions;
  still.drawable->update();
  EXPECT_EQ(still.drawable->positions, rest);
  EXPECT_EQ(still.drawable->needsPrepare, 1);
}

TEST(ZoltRenderable, ASphereBarrierPushesVerticesOntoItsSurface) {
  Scene s(4, 4, 4, 0.25f, 0);
  const float centre[3] = {0.1f, 0.5f, 0.0f}, radius = 0.3f;
  s.settings.barrier = new SphereBarrier(centre, radius);
  s.control->setRenderData(s.drawable.get());
  auto distance = [&](const float* p) {
    return std::sqrt((p[0] - centre[0]) * (p[0] - centre[0]) +
                     (p[1] - centre[1]) * (p[1] - centre[1]) +
                     (p[2] - centre[2]) * (p[2] - centre[2]));
  };
  int inside = 0;
  for (int r = 0; r < s.drawable->vertexCount; ++r)
    inside += distance(&s.drawable->positions[3 * r]) < radius;
  ASSERT_GT(inside, 0);
  // One frame: update, barrier, then the offsets.
  s.drawable->update();
  s.control->updateRenderData();
  s.drawable->addCollisionOffsets();
  for (int r = 0; r < s.drawable->vertexCount; ++r)
    EXPECT_GE(distance(&s.drawable->positions[3 * r]), radius - 1e-5f) << r;
}

// Pixels that differ from black after drawing the drawable's triangles from
// its buffers, looking at the body from z = 3.
long coveredPixels(const ZoltRenderable& d) {
  glViewport(0, 0, W, H);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(45.0, double(W) / H, 0.2, 100.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0, 0, -3);
  glColor3f(1, 1, 1);
  glBindBuffer(GL_ARRAY_BUFFER, d.positionBuffer);
  glBufferSubData(GL_ARRAY_BUFFER, 0, 12 * d.vertexCount, d.positions.data());
  glEnableClientState(GL_VERTEX_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, nullptr);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, d.indexBuffer);
  glDrawElements(GL_TRIANGLES, 3 * d.triangleCount, GL_UNSIGNED_INT, nullptr);
  glDisableClientState(GL_VERTEX_ARRAY);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  return zolt::test::countDiffering(zolt::test::readFrame(W, H), {0, 0, 0}, 0);
}

TEST(ZoltRenderable, AModelWithoutRenderSurfaceDrawsItsMesh) {
  Scene s(2, 2, 2, 0.5f, 0);
  EXPECT_EQ(guiSettings.drawSimulationMesh, 1);
  EXPECT_EQ(guiSettings.renderSurfaceOn, 0);
  s.drawable->update();
  // A unit cube at distance 3 under a 45 degree view covers a good part.
  const long lit = coveredPixels(*s.drawable);
  EXPECT_GT(lit, W * H / 10);
  EXPECT_LT(lit, W * H);

  // A surface that cannot be built switches itself off and the mesh on.
  s.render.surfacePath = s.dir.file("missing.obj");
  guiSettings.renderSurfaceOn = guiSettings.furOn = 1;
  guiSettings.drawSimulationMesh = 0;
  const std::string out = zolt::test::captureStdout([&] { s.drawable->update(); });
  EXPECT_EQ(out.rfind("\nDebug: rSurface = 'RenderSurfaceFur' \n", 0), 0u) << out;
  EXPECT_EQ(guiSettings.renderSurfaceOn + guiSettings.furOn, 0);
  EXPECT_EQ(guiSettings.drawSimulationMesh, 1);
}

TEST(ZoltRenderable, TheRenderSurfaceFollowsTheSimulation) {
  // A square inside the body: skinning reproduces a translation of every
  // node exactly (the binding weights sum to one).
  Scene s(2, 2, 2, 0.5f, 0, true,
          "v -0.3 -0.3 0.1\nv 0.3 -0.3 0.1\nv 0.3 0.3 0.1\nv -0.3 0.3 0.1\nf 1 2 3 4\n");
  EXPECT_EQ(guiSettings.renderSurfaceOn, 1);
  zolt::test::captureStdout([&] { s.drawable->update(); });
  RenderSurface* surface = s.drawable->renderSurface;
  ASSERT_NE(surface, nullptr);
  ASSERT_EQ(surface->vertexCount, 4u);
  EXPECT_EQ(guiSettings.drawSimulationMesh, 0);
  for (int i = 0; i < s.simulation->displacement.n; i += 3) s.simulation->displacement[i] = 0.1;
  s.drawable->update();
  surface->update();
  for (uint32_t v = 0; v < 4; ++v) {
    EXPECT_NEAR(surface->positions[3 * v], surface->restPositions[3 * v] + 0.1f, 1e-6f) << v;
    EXPECT_NEAR(surface->positions[3 * v + 1], surface->restPositions[3 * v + 1], 1e-6f) << v;
  }
}

TEST(ZoltRenderable, RevealedElementsBringTheirVerticesToTheSurface) {
  Scene s(2, 2, 2, 0.5f, 0);
  ZoltRenderable& d = *s.drawable;
  // The centre vertex 13 is the only inner one; hide one element around it.
  auto* t = static_cast<Tetrahedron*>(s.mesh->elements[0][0]);
  ASSERT_EQ(d.surfaceVertexCount, 26);
  t->cut = 1;
  std::vector<FiniteElement*> list = {t};
  const std::string out = zolt::test::captureStdout([&] { d.revealElements(list); });
  EXPECT_EQ(out, "Tet\nNew Surface Vertex 26\n");
  EXPECT_EQ(t->cut, 0);
  EXPECT_EQ(d.surfaceVertexCount, 27);
  for (int r = 0; r < d.vertexCount; ++r)
    EXPECT_EQ(d.renderIndexOfVertex[d.vertexOfRenderIndex[r]], r);
  for (int i = 0; i < 3 * d.boundaryTriangleCount; ++i)
    EXPECT_LT(d.triangles[i], uint32_t(d.surfaceVertexCount));
  // The body's 48 boundary triangles, then the element's inner faces, whose
  // corners are all surface vertices now.
  int innerFaces = 0;
  for (int f = 0; f < 4; ++f) innerFaces += (t->faceMask >> f & 1) == 0;
  EXPECT_EQ(d.boundaryTriangleCount, 48 + innerFaces);
  EXPECT_EQ(indexBufferContents(d), d.triangles);
}

TEST(ZoltRenderable, DestructionReleasesTheBuffers) {
  Scene s(1, 1, 1, 1.0f, 0);
  const GLuint buffer = s.drawable->positionBuffer;
  ASSERT_TRUE(glIsBuffer(buffer));
  frameDrawn = 1;
  s.control->setRenderData(nullptr);
  s.drawable.reset();
  EXPECT_FALSE(glIsBuffer(buffer));
  EXPECT_EQ(currentRenderable, nullptr);
  EXPECT_EQ(frameDrawn, 0);
}

}  // namespace
