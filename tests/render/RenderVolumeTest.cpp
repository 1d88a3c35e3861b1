// The render volume attached to a real drawable: the 3D texture it uploads,
// the displacements it follows through the drawable's links, and red
// triangles on screen.

#include <gtest/gtest.h>

#include <memory>

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
#include "ZoltControl.h"
#include "ZoltRenderable.h"

namespace {

using zolt::test::StateSimulation;

const int W = 64, H = 64;

struct Body {
  zolt::test::TempDir dir;
  std::unique_ptr<TetHierarchy> mesh = zolt::test::box(1, 1, 1);
  SimulationSettings settings;
  RenderSettings render;
  std::unique_ptr<StateSimulation> simulation;
  std::unique_ptr<ZoltControl> control;
  std::unique_ptr<ZoltRenderable> drawable;

  Body() {
    zolt::test::openGLWindow("volume", W, H);
    initGuiDefaults();
    simulation = std::make_unique<StateSimulation>(&settings, 8, 3);
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

}  // namespace
