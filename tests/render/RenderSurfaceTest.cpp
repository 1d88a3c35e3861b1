#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Capture.h"
#include "GLWindow.h"
#include "Program.h"
#include "RenderSettings.h"
#include "RenderSurface.h"
#include "TempDir.h"
#include "TestMeshes.h"
#include "TetHierarchy.h"

using zolt::test::captureStdout;

namespace {

const int W = 64, H = 64;

void openWindow() {
  static const bool ready = [] {
    zolt::test::openGLWindow("surface", W, H);
    zolt::test::captureStderr([] { CProgram::Initialize(); });
    return true;
  }();
  (void)ready;
}

std::string tga(int width, int height, const std::vector<unsigned char>& bgr) {
  std::string s = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int v : {width & 0xff, width >> 8, height & 0xff, height >> 8, 24, 0})
    s.push_back(static_cast<char>(v));
  return s + std::string(bgr.begin(), bgr.end());
}

// A square of edge 1.6 in the plane z = 0, textured, inside a 2 x 2 x 2
// box of six tetrahedra; orthographic view of [-1, 1]^2.
struct Scene {
  zolt::test::TempDir dir;
  std::unique_ptr<TetHierarchy> h = zolt::test::box(1, 1, 1, 2.0f);
  RenderSettings settings;
  int texturing = 1, shadowOn = 0, pixelLighting = 0, renderSurfaceOn = 1, furOn = 0;
  float light[4] = {0, 0, 5, 1}, frameLight[3] = {0, 0, 5};
  std::vector<double> displacement;
  SurfaceLink link;
  std::unique_ptr<RenderSurface> surface;
  std::string out;

  explicit Scene(const std::string& texture) {
    openWindow();
    double centre[3];
    captureStdout([&] { h->setCenterOfGravity(centre); });
    settings.surfacePath = dir.write("square.obj",
                                     "v -0.8 -0.8 0\nv 0.8 -0.8 0\nv 0.8 0.8 0\nv -0.8 0.8 0\n"
                                     "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nf 1/1 2/2 3/3 4/4\n");
    settings.surfaceCachePath = dir.file("square.cacheSurface");
    settings.texturePath = texture;
    settings.colour[0] = 1.0f;
    settings.colour[1] = settings.colour[2] = 0.0f;
    displacement.assign(3 * h->vertices[0].size(), 0.0);
    link.displacement = displacement.data();
    link.hasSimulation = true;
    link.texturing = &texturing;
    link.shadowOn = &shadowOn;
    link.pixelLighting = &pixelLighting;
    link.renderSurfaceOn = &renderSurfaceOn;
    link.furOn = &furOn;
    link.lightPosition = light;
    link.frameLightPosition = frameLight;
  }
  void build() {
    out = captureStdout(
        [&] { surface = std::make_unique<RenderSurface>(link, h.get(), &settings, false); });
  }
  // The surface drawn alone; the pixel at (x, y) in view coordinates.
  zolt::test::Rgb draw(float x, float y) {
    glDisable(GL_LIGHTING);
    zolt::test::orthoView(W, H);
    surface->update();
    surface->render();
    return zolt::test::readFrame(W, H).at(static_cast<int>((x + 1) * W / 2),
                                          H - 1 - static_cast<int>((y + 1) * H / 2));
  }
};

}  // namespace

TEST(RenderSurface, DrawsTexturedOrColouredInBothPaths) {
  zolt::test::TempDir files;
  const std::string green = files.write("green.tga", tga(1, 1, {0, 255, 0}));
  const struct {
    std::string texture;
    int texturing;
    zolt::test::Rgb expected;  // 1: bright, 0: dark channel
  } rows[] = {
      {green, 1, {0, 1, 0}},
      {files.file("missing.tga"), 1, {1, 1, 1}},  // white stand-in
      {files.file("missing.bmp"), 1, {1, 1, 1}},
      {green, 0, {1, 0, 0}},  // texturing off: the colour
      {"", 1, {1, 0, 0}},
  };
  for (const auto& row : rows) {
    for (int shaded : {0, 1}) {
      Scene s(row.texture);
      s.texturing = row.texturing;
      s.pixelLighting = shaded;
      s.build();
      ASSERT_EQ(s.surface->vertexCount, 4u);
      const zolt::test::Rgb c = s.draw(0.0f, 0.0f);
      const int got[3] = {c.r, c.g, c.b},
                want[3] = {row.expected.r, row.expected.g, row.expected.b};
      for (int k = 0; k < 3; ++k)
        EXPECT_EQ(got[k] > 200, want[k] == 1) << row.texture << " shaded " << shaded << " ch " << k;
      EXPECT_EQ(s.draw(0.9f, 0.9f).r, 0) << "outside the square";
      EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
  }
}

TEST(RenderSurface, TextureReaderByNameAndTightRows) {
  zolt::test::TempDir files;
  // 3 x 2 pixels: rows of 9 bytes, not a multiple of 4.
  const std::vector<unsigned char> bgr = {1,  2,  3,  4,  5,  6,  7,  8,  9,
                                          10, 11, 12, 13, 14, 15, 16, 17, 18};
  const struct {
    const char* name;
    int width;  // 1: the white stand-in
  } rows[] = {{"a.tga", 1}, {"ab.tga", 3}, {"image.TGA", 1}, {"x.tga.1", 3}, {"x.tgaxyz", 1}};
  // Names relative to the working directory, as a configuration gives them.
  const std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::current_path(files.path);
  for (const auto& row : rows) {
    files.write(row.name, tga(3, 2, bgr));
    Scene s(row.name);
    s.build();
    glBindTexture(GL_TEXTURE_2D, s.surface->texture.texture);
    GLint width = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    EXPECT_EQ(width, row.width) << row.name;
    if (width == 3) {
      std::vector<unsigned char> rgb(18);
      glPixelStorei(GL_PACK_ALIGNMENT, 1);
      glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
      for (int i = 0; i < 18; i += 3)
        EXPECT_EQ((std::vector<unsigned char>{rgb[i], rgb[i + 1], rgb[i + 2]}),
                  (std::vector<unsigned char>{bgr[i + 2], bgr[i + 1], bgr[i]}));
    }
    glBindTexture(GL_TEXTURE_2D, 0);
  }
  std::filesystem::current_path(home);
}

TEST(RenderSurface, FollowsNodeDisplacementsAndOffsets) {
  Scene s("");
  s.link.firstFreeNode = 2;  // nodes 0 and 1 are fixed
  s.build();
  const size_t nodes = s.h->vertices[0].size();
  s.displacement.resize(3 * (nodes - 2));
  for (size_t k = 0; k < s.displacement.size(); k += 3) s.displacement[k] = 0.5;
  s.link.displacement = s.displacement.data();
  s.surface->link = s.link;
  s.surface->copyDisplacements();
  for (size_t k = 0; k < 3 * nodes; ++k)
    EXPECT_EQ(s.surface->nodeDisplacements[k], k >= 6 && k % 3 == 0 ? 0.5f : 0.0f) << k;
  // Every node moved by (0.5, 0, 0), fixed ones by their offset.
  std::vector<float> offsets(3 * nodes, 0.0f);
  offsets[0] = offsets[3] = 0.5f;
  s.surface->link.offsets = offsets.data();
  s.surface->addNodeOffsets();
  EXPECT_EQ(s.draw(-0.6f, 0.0f).r, 0);
  EXPECT_GT(s.draw(0.9f, 0.0f).r, 200);
  EXPECT_NEAR(s.surface->positions[0], -0.3f, 1e-6f);
}

TEST(RenderSurface, EveryProgramVariantBuilds) {
  Scene s(zolt::test::TempDir().file("none.bmp"));  // textured with the white stand-in
  s.pixelLighting = 1;
  s.build();
  for (int shadow : {0, 1})
    for (int texture : {0, 1}) {
      s.shadowOn = shadow;
      s.texturing = texture;
      const std::string err = zolt::test::captureStderr([&] { s.draw(0, 0); });
      EXPECT_TRUE(s.surface->program && s.surface->program->isInitialised()) << err;
    }
  s.pixelLighting = 0;  // fixed-function drawing drops the program
  s.draw(0, 0);
  EXPECT_FALSE(s.surface->program);
}

TEST(RenderSurface, WithoutGeometryItSwitchesItselfOff) {
  Scene s("");
  s.furOn = 1;
  s.settings.surfacePath = s.dir.file("missing.obj");
  s.build();
  EXPECT_EQ(s.surface->vertexCount, 0u);
  EXPECT_EQ(s.renderSurfaceOn, 0);
  EXPECT_EQ(s.furOn, 0);
  EXPECT_NE(s.out.find("Error: No Rendersurface-Geometry. Rendersurface Deactivated!\n"),
            std::string::npos);
  s.surface->update();
  s.surface->render();
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
