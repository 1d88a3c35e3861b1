// The fur surface drawn for real: a sphere in a box body with and without
// fur, the depth pass, the layer commands, a surface without geometry.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "Capture.h"
#include "GLWindow.h"
#include "Program.h"
#include "RenderSettings.h"
#include "RenderSurfaceFur.h"
#include "SurfaceShapes.h"
#include "TempDir.h"
#include "TestMeshes.h"
#include "TetHierarchy.h"

using zolt::test::captureStdout;

namespace {

const int W = 128, H = 128;

// A sphere of radius 0.6 in a 2 x 2 x 2 box body; both surfaces read it.
struct Scene {
  zolt::test::TempDir dir;
  std::unique_ptr<TetHierarchy> h = zolt::test::box(2, 2, 2, 1.0f);
  RenderSettings settings;
  int texturing = 0, shadowOn = 0, pixelLighting = 1, renderSurfaceOn = 1, furOn = 1;
  float light[4] = {0, 0, 5, 1}, frameLight[3] = {0, 0, 5};
  std::vector<double> displacement;
  SurfaceLink link;

  Scene() {
    zolt::test::openGLWindow("fur", W, H);
    zolt::test::captureStderr([] { CProgram::Initialize(); });
    double centre[3];
    captureStdout([&] { h->setCenterOfGravity(centre); });
    SurfaceMesh sphere;
    zolt::test::uvSphere(sphere, 24, 32, 0.6f);
    std::ostringstream obj;  // texture coordinates from x and y
    const std::vector<float>& p = sphere.restPositions;
    for (size_t i = 0; i < p.size(); i += 3)
      obj << "v " << p[i] << " " << p[i + 1] << " " << p[i + 2] << "\nvt " << p[i] + 1 << " "
          << p[i + 1] + 1 << "\n";
    for (size_t i = 0; i < sphere.indices.size(); ++i)
      obj << (i % 3 ? " " : "f ") << sphere.indices[i] + 1 << "/" << sphere.indices[i] + 1
          << (i % 3 == 2 ? "\n" : "");
    settings.surfacePath = dir.write("sphere.obj", obj.str());
    settings.surfaceCachePath = dir.file("sphere");
    settings.colour[0] = settings.colour[1] = settings.colour[2] = 0.6f;
    displacement.assign(3 * h->vertices[0].size(), 0.0);
    link = {displacement.data(), 0,         true,           nullptr,          nullptr, nullptr,
            &texturing,          &shadowOn, &pixelLighting, &renderSurfaceOn, &furOn,  light,
            frameLight};
  }
  std::string printed;  // by the last surface made
  template <class S>
  std::unique_ptr<S> make() {
    std::unique_ptr<S> s;
    printed = captureStdout([&] {
      if constexpr (std::is_same_v<S, RenderSurfaceFur>)
        s = std::make_unique<S>(link, h.get(), &settings, 7u);
      else
        s = std::make_unique<S>(link, h.get(), &settings, false);
    });
    return s;
  }
};

// Draws one frame; the depth pass returns nothing.
zolt::test::Image draw(RenderSurface& s, int depthPass = 0) {
  glEnable(GL_DEPTH_TEST);
  zolt::test::orthoView(W, H);
  s.update();
  s.depthPass = depthPass;
  s.render();
  s.depthPass = 0;
  return depthPass ? zolt::test::Image{} : zolt::test::readFrame(W, H);
}

// Variance of the luminance step between neighbouring pixels inside the
// sphere (|x|, |y| < 0.35): strands, not the smooth shading, make it large.
double stepVariance(const zolt::test::Image& img) {
  auto l = [&](int x, int y) {
    const zolt::test::Rgb p = img.at(x, y);
    return (p.r + p.g + p.b) / 3.0;
  };
  double sum = 0, sum2 = 0;
  int n = 0;
  for (int y = 13 * H / 40; y < 27 * H / 40; ++y)
    for (int x = 13 * W / 40; x < 27 * W / 40; ++x, ++n) {
      const double d = l(x + 1, y) - l(x, y);
      sum += d;
      sum2 += d * d;
    }
  return sum2 / n - (sum / n) * (sum / n);
}

std::vector<float> depthAfterDepthPass(RenderSurface& s) {
  draw(s, 1);
  std::vector<float> depth(W * H);
  glReadPixels(0, 0, W, H, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
  return depth;
}

TEST(RenderSurfaceFur, FurWidensTheSilhouetteAndRoughensTheBody) {
  Scene scene;
  scene.settings.texturePath = scene.dir.file("none.tga");  // the white stand-in
  auto plain = scene.make<RenderSurface>();
  auto fur = scene.make<RenderSurfaceFur>();
  ASSERT_EQ(fur->layerTextures.size(), 16u);
  const zolt::test::Image bare = draw(*plain), furry = draw(*fur);
  const long bareArea = zolt::test::countDiffering(bare, {0, 0, 0}, 8),
             furArea = zolt::test::countDiffering(furry, {0, 0, 0}, 8);
  EXPECT_GT(bareArea, W * H / 5);
  EXPECT_GT(furArea, 1.03 * bareArea) << bareArea;
  EXPECT_GT(stepVariance(furry), 4 * stepVariance(bare) + 4) << stepVariance(bare);

  // The shadow map sees the surface alone; the depth pass keeps the buffers.
  const GLuint current = fur->positionBuffer;
  EXPECT_EQ(depthAfterDepthPass(*fur), depthAfterDepthPass(*plain));
  EXPECT_EQ(fur->positionBuffer, current);
  draw(*fur);
  EXPECT_EQ(fur->previousPositionBuffer, current);

  // Every program variant links and draws.
  for (int variant = 0; variant < 4; ++variant) {
    scene.texturing = variant & 1;
    scene.shadowOn = variant >> 1;
    const std::string err = zolt::test::captureStderr([&] { draw(*fur); });
    ASSERT_TRUE(fur->furProgram && fur->furProgram->isInitialised()) << err;
    EXPECT_TRUE(fur->program->isInitialised()) << err;
    EXPECT_EQ(fur->useTexture + 2 * fur->useShadow, variant);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << variant;
  }
}

TEST(RenderSurfaceFur, LayerCommandsRemakeTheTexturesDownToNone) {
  Scene scene;
  auto fur = scene.make<RenderSurfaceFur>();
  captureStdout([&] { fur->addFurLayer(); });
  ASSERT_EQ(fur->layerTextures.size(), 17u);
  for (GLuint t : fur->layerTextures) EXPECT_TRUE(glIsTexture(t));
  const GLuint old = fur->layerTextures[0];
  captureStdout([&] {
    for (int i = 0; i < 20; ++i) fur->removeFurLayer();
  });
  EXPECT_EQ(fur->fur.layerCount, 0u);
  EXPECT_TRUE(fur->layerTextures.empty());
  EXPECT_FALSE(glIsTexture(old));
  // No shells: the fur surface covers what the plain one covers.
  const long bare = zolt::test::countDiffering(draw(*scene.make<RenderSurface>()), {0, 0, 0}, 8);
  EXPECT_EQ(zolt::test::countDiffering(draw(*fur), {0, 0, 0}, 8), bare);
}

TEST(RenderSurfaceFur, WithoutGeometryNothingIsMadeOrDrawn) {
  Scene scene;
  scene.settings.surfacePath = scene.dir.file("missing.obj");
  auto fur = scene.make<RenderSurfaceFur>();
  EXPECT_NE(scene.printed.find("Error in initialisation: no geometry. \n"), std::string::npos)
      << scene.printed;
  EXPECT_EQ(scene.renderSurfaceOn + scene.furOn, 0);
  EXPECT_TRUE(fur->furProgram == nullptr && fur->positionBuffer == 0u);
  scene.renderSurfaceOn = 1;  // switched on again: still nothing to draw
  EXPECT_EQ(zolt::test::countDiffering(draw(*fur), {0, 0, 0}, 0), 0);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(RenderSurfaceFur, SetLengthReachesThatFarAlongTheNormals) {
  Scene scene;
  auto fur = scene.make<RenderSurfaceFur>();
  fur->gravity[1] = 0.0f;  // shells straight out along the normals
  // How far beyond the sphere (radius 0.6, W / 2 pixels a unit) anything is lit.
  const auto reach = [](const zolt::test::Image& img) {
    double r = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (img.at(x, y).r + img.at(x, y).g + img.at(x, y).b > 3)
          r = std::max(r, std::hypot(x + 0.5 - W / 2.0, y + 0.5 - H / 2.0));
    return r - 0.6 * W / 2;
  };
  for (const float length : {0.0f, 0.15f, 0.5f}) {  // 0: the sphere; no upper limit
    captureStdout([&] { fur->setFurLength(length); });
    const double r = reach(draw(*fur));
    EXPECT_LE(r, length * W / 2 + 1.5) << length;
    EXPECT_GE(r, length * W / 4 - 1.0) << length;
  }
}

}  // namespace
