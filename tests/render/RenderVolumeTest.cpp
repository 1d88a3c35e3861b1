// The render volume attached to a real drawable: the 3D texture it uploads,
// the displacements it follows through the drawable's links, and red
// triangles on screen.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "Capture.h"
#include "DrawableLinks.h"
#include "GLWindow.h"
#include "GuiSettings.h"
#include "RenderSettings.h"
#include "RenderVolume.h"
#include "SceneLinks.h"
#include "StateSimulation.h"
#include "TempDir.h"
#include "TestMeshes.h"
#include "Vertex.h"
#include "ZoltControl.h"
#include "ZoltRenderable.h"

namespace {

using zolt::test::StateSimulation;

const int W = 64, H = 64;

// A box body of cellsX cells along x, its first `fixed` vertices fixed.
struct Body {
  zolt::test::TempDir dir;
  std::unique_ptr<TetHierarchy> mesh;
  SimulationSettings settings;
  RenderSettings render;
  std::unique_ptr<StateSimulation> simulation;
  std::unique_ptr<ZoltControl> control;
  std::unique_ptr<ZoltRenderable> drawable;

  explicit Body(int cellsX = 1, int fixed = 0) : mesh(zolt::test::box(cellsX, 1, 1)) {
    zolt::test::openGLWindow("volume", W, H);
    initGuiDefaults();
    settings.fixedCount = fixed;
    simulation = std::make_unique<StateSimulation>(&settings, int(mesh->vertices[0].size()), 3);
    control = std::make_unique<ZoltControl>(mesh.get(), simulation.get(), &settings, &render);
    zolt::test::captureStdout(
        [&] { drawable = std::make_unique<ZoltRenderable>(mesh.get(), &render, control.get()); });
    control->setRenderData(drawable.get());
    render.volumePath = dir.file("vol");
    render.volumeCachePath = dir.file("vol.cacheVolume");
    dir.write("vol.node", "4 3 0 0\n1 0.1 0.1 0.1\n2 0.9 0.1 0.1\n3 0.1 0.9 0.1\n4 0.1 0.1 0.9\n");
    dir.write("vol.ele", "1 4 0\n1 1 2 3 4\n");
    render.volumeTexturePath = dir.write("vol.raw", std::string(4 * 3 * 2, '\xff'));
    for (int k = 0; k < 3; ++k) render.volumeSamples[k] = 4 - k;
    render.volumeTexture3D = 1;
  }
};

TEST(RenderVolume, UploadsItsImageAndFollowsTheDrawable) {
  Body b;
  RenderVolume* v = nullptr;
  zolt::test::captureStdout(
      [&] { v = new RenderVolume(b.drawable.get(), b.mesh.get(), &b.render, true, 0, true); });
  b.drawable->renderVolume = v;
  ASSERT_NE(v->volumeTexture, 0u);
  EXPECT_TRUE(v->image.voxels.empty());  // handed to GL, not kept
  GLint size[3], k = 0;
  glBindTexture(GL_TEXTURE_3D, v->volumeTexture);
  for (GLenum q : {GL_TEXTURE_WIDTH, GL_TEXTURE_HEIGHT, GL_TEXTURE_DEPTH})
    glGetTexLevelParameteriv(GL_TEXTURE_3D, 0, q, &size[k++]);
  EXPECT_EQ(size[0] * 100 + size[1] * 10 + size[2], 432);

  // A uniform translation of the body moves every node by it.
  for (int i = 0; i < b.simulation->displacement.n; ++i)
    b.simulation->displacement[i] = i % 3 == 0 ? 0.5 : 0.0;
  guiSettings.renderVolumeOn = 1;
  b.drawable->update();
  for (int i = 0; i < v->nodeCount; ++i)
    EXPECT_NEAR(v->positions[3 * size_t(i)], v->restPositions[3 * size_t(i)] + 0.5f, 1e-6);

  // Scalars 1: the faces are drawn full red.
  zolt::test::orthoView(W, H);
  glTranslatef(-1, -1, 0);  // x in [0, 2], y in [0, 1]
  glScalef(1, 2, 1);
  glDisable(GL_LIGHTING);
  glDisable(GL_DEPTH_TEST);
  drawRenderVolume(v);
  const zolt::test::Rgb p = zolt::test::readFrame(W, H).at(25, H - 1 - 19);  // (0.8, 0.3): face 012
  EXPECT_EQ(p.r + 1000 * (p.g + p.b), 255);
  const GLuint texture = v->volumeTexture;
  b.drawable.reset();  // deletes the volume and its texture
  EXPECT_FALSE(glIsTexture(texture));
}

// Affine fields, displacement (r < 3) and colour (r = 3): a node bound by
// the right node numbers follows them exactly.
float field(const float* x, int r) {
  return 0.1f * r + 0.2f * x[0] - 0.1f * x[1] + 0.05f * r * x[2];
}

TEST(RenderVolume, NodeNumbersCountFreeNodesOnceRebased) {
  // Vertex 0 is fixed and unused by the cell x in [1, 2] holding the nodes.
  const struct {
    bool shiftAtLoad;
    int rebase;  // -1: not called, else its argument
  } rows[] = {{false, -1}, {true, -1}, {false, 1}, {false, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    Body b(2, 1);
    b.render.volumeTexture3D = 0;
    b.dir.write("vol.node",
                "4 3 0 0\n1 1.6 0.3 0.4\n2 1.9 0.2 0.2\n3 1.7 0.8 0.3\n4 1.8 0.5 0.9\n");
    for (const Vertex* x : b.mesh->vertices[0]) {  // free vertex v owns slot v - 1
      for (int r = 0; r < 3 && x->index > 0; ++r)
        b.simulation->displacement[3 * (x->index - 1) + r] = field(x->restPosition, r);
      b.drawable->colourScalars[size_t(b.drawable->renderIndexOfVertex[size_t(x->index)])] =
          field(x->restPosition, 3);
    }
    std::unique_ptr<RenderVolume> v;
    zolt::test::captureStdout([&] {
      v = std::make_unique<RenderVolume>(b.drawable.get(), b.mesh.get(), &b.render, row.shiftAtLoad,
                                         0, false);
    });
    ASSERT_EQ(v->nodeCount, 4);
    if (row.rebase >= 0) v->rebaseNodeIndices(row.rebase != 0);
    v->updateDisplacements();
    v->interpolateScalars();
    double worst = 0;
    for (size_t i = 0; i < 4; ++i) {
      const float* p = &v->restPositions[3 * i];
      for (int r = 0; r < 4; ++r) {
        const float got = r < 3 ? v->positions[3 * i + size_t(r)] - p[r] : v->scalars[i];
        worst = std::max(worst, double(std::abs(got - field(p, r))));
      }
    }
    EXPECT_EQ(worst < 1e-5, row.shiftAtLoad || row.rebase == 1) << worst;
  }
}

}  // namespace
