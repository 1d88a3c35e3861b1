// Barriers as drawn: colours, textures, the inside of a box and a moving
// ground, read back from the frame buffer (unlit, so a colour shows as given).

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Barrier.h"
#include "GLWindow.h"
#include "ImageFiles.h"
#include "TempDir.h"

using zolt::test::Image;
using zolt::test::Rgb;

namespace {

const int W = 160, H = 160;

// The unit cube [0,1]^3 as barrier corners: bottom y = 0 listed
// counter-clockwise from below, c4..c7 above them.
const float kCube[24] = {0, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 1, 0, 1, 1, 1, 0, 1, 1};
// The ground square [-1,1]^2 at y = 0, solid below, free side up.
const float kGround[12] = {-1, 0, -1, -1, 0, 1, 1, 0, 1, 1, 0, -1};

// Clears to black, sets a camera, draws, reads the frame.
Image render(const std::function<void()>& camera, const std::function<void()>& draw) {
  zolt::test::openGLWindow("barriers", W, H);
  glViewport(0, 0, W, H);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glDisable(GL_CULL_FACE);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  camera();
  draw();
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  return zolt::test::readFrame(W, H);
}

// Looking down the -y axis at x, z in [-2, 2] (x to the right).
void fromAbove() {
  glMatrixMode(GL_PROJECTION);
  glOrtho(-2, 2, -2, 2, -10, 10);
  glMatrixMode(GL_MODELVIEW);
  gluLookAt(0, 5, 0, 0, 0, 0, 0, 0, -1);
}

Rgb centre(const Image& img) { return img.at(W / 2, H / 2); }

void expectColour(Rgb got, Rgb want, const std::string& what) {
  EXPECT_NEAR(got.r, want.r, 2) << what;
  EXPECT_NEAR(got.g, want.g, 2) << what;
  EXPECT_NEAR(got.b, want.b, 2) << what;
}

std::string solidBMP(const zolt::test::TempDir& dir, Rgb c) {
  const int w = 4, h = 4;
  std::vector<unsigned char> bgr;
  for (int i = 0; i < w * h; ++i) bgr.insert(bgr.end(), {uint8_t(c.b), uint8_t(c.g), uint8_t(c.r)});
  const std::string path = dir.file("solid.bmp");
  GLUtils::writeBMP(path.c_str(), bgr.data(), w, h);
  return path;
}

TEST(BarrierDraw, EachBarrierShowsItsColourPlainAndUnderAWhiteTexture) {
  const float sphereCentre[3] = {0, 0, 0};
  struct Row {
    std::function<std::unique_ptr<Barrier>()> make;
    Rgb colour;
  } rows[] = {
      {[] { return std::make_unique<GroundBarrier>(kGround); }, {191, 171, 145}},
      {[&] { return std::make_unique<SphereBarrier>(sphereCentre, 1.0f); }, {51, 0, 255}},
      {[] {
         float c[24];
         for (int i = 0; i < 24; ++i) c[i] = kCube[i] - 0.5f;
         return std::make_unique<QuaderBarrier>(c);
       },
       {128, 64, 0}},
      {[] {
         float c[24];
         for (int i = 0; i < 24; ++i) c[i] = 4.0f * (kCube[i] - 0.5f);
         return std::make_unique<BoxBarrier>(c);
       },
       {51, 102, 204}},
  };
  for (const Row& row : rows) {
    std::unique_ptr<Barrier> b = row.make();
    const Barrier& barrier = *b;
    const std::string name = typeid(barrier).name();
    expectColour(centre(render(fromAbove, [&] { b->draw(false); })), row.colour, name);
    // No texture file: a white texel keeps the barrier's colour.
    expectColour(centre(render(fromAbove, [&] { b->draw(true); })), row.colour, name + " textured");
    EXPECT_NE(b->texture, 0u);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D)) << name << " leaves texturing on";
  }
}

TEST(BarrierDraw, TextureFileColoursTheBarrierAndAnUnreadableOneFallsBackToWhite) {
  zolt::test::TempDir dir;
  const Rgb green{20, 200, 60};
  struct Row {
    std::string path;
    Rgb want;
  } rows[] = {
      {solidBMP(dir, green), green},
      {dir.write("broken.bmp", "BM not an image"), {128, 64, 0}},
      {dir.file("missing.bmp"), {128, 64, 0}},
  };
  for (const Row& row : rows) {
    float c[24];
    for (int i = 0; i < 24; ++i) c[i] = kCube[i] - 0.5f;
    QuaderBarrier q(c);
    q.setTexturePath(row.path);
    // The quads carry no texture coordinates: the texel at (0, 0) covers them.
    expectColour(centre(render(fromAbove, [&] { q.draw(true); })), row.want, row.path);
    expectColour(centre(render(fromAbove, [&] { q.draw(false); })), {128, 64, 0}, row.path);
  }
}

TEST(BarrierDraw, GroundTextureRepeatsEightTimesAcross) {
  zolt::test::TempDir dir;
  // Two texels, red then blue: one red and one blue band per repeat.
  const unsigned char bgr[6] = {0, 0, 255, 255, 0, 0};
  const std::string path = dir.file("bands.bmp");
  GLUtils::writeBMP(path.c_str(), bgr, 2, 1);
  GroundBarrier g(kGround);
  g.setTexturePath(path);
  const Image img = render(fromAbove, [&] { g.draw(true); });
  // Along a row of the ground (x from -1 to 1 maps to the middle half of the
  // image) count the red bands.
  int bands = 0;
  bool inRed = false;
  for (int x = W / 4 + 1; x < 3 * W / 4 - 1; ++x) {
    const Rgb p = img.at(x, H / 2);
    const bool red = p.r > p.b + 40;
    bands += red && !inRed;
    inRed = red ? true : (p.b > p.r + 40 ? false : inRed);
  }
  EXPECT_GE(bands, 8);
  EXPECT_LE(bands, 9);
}

TEST(BarrierDraw, EveryWallOfABoxIsSeenFromInside) {
  float c[24];
  for (int i = 0; i < 24; ++i) c[i] = 2.0f * (kCube[i] - 0.5f);
  BoxBarrier box(c);
  const double dirs[6][6] = {{1, 0, 0, 0, 1, 0},  {-1, 0, 0, 0, 1, 0}, {0, 1, 0, 0, 0, 1},
                             {0, -1, 0, 0, 0, 1}, {0, 0, 1, 0, 1, 0},  {0, 0, -1, 0, 1, 0}};
  for (int pass = 0; pass < 2; ++pass)  // building the list, then calling it
    for (const double* d : dirs) {
      const Image img = render(
          [&] {
            glMatrixMode(GL_PROJECTION);
            gluPerspective(60, 1, 0.05, 10);
            glMatrixMode(GL_MODELVIEW);
            gluLookAt(0, 0, 0, d[0], d[1], d[2], d[3], d[4], d[5]);
          },
          [&] { box.draw(false); });
      expectColour(centre(img), {51, 102, 204},
                   "wall " + std::to_string(d[0] + 2 * d[1] + 3 * d[2]));
      EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    }
}

TEST(BarrierDraw, MovingGroundIsDrawnWhereItCollides) {
  const float small[12] = {-0.5f, 0, -0.5f, -0.5f, 0, 0.5f, 0.5f, 0, 0.5f, 0.5f, 0, -0.5f};
  GroundBarrier g(small);
  const Rgb ground{191, 171, 145};
  render(fromAbove, [&] { g.draw(false); });  // builds the list at the start
  g.setMoving(0.25f, 0.0f, 0.0f);
  for (int i = 0; i < 4; ++i) g.move();  // one unit along +x
  const Image img = render(fromAbove, [&] { g.draw(false); });
  // x = 1 is three quarters across; x = -0.25 lies outside the moved square.
  expectColour(img.at(3 * W / 4, H / 2), ground, "moved ground");
  expectColour(img.at(W / 2 - W / 16, H / 2), {0, 0, 0}, "old place");
  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);
}

TEST(BarrierDraw, DestroyingABarrierFreesItsTextureAndList) {
  GLuint texture = 0, list = 0;
  {
    GroundBarrier g(kGround);
    render(fromAbove, [&] { g.draw(true); });
    texture = g.texture;
    list = g.displayList;
    ASSERT_TRUE(glIsTexture(texture));
    ASSERT_TRUE(glIsList(list));
  }
  EXPECT_FALSE(glIsTexture(texture));
  EXPECT_FALSE(glIsList(list));
}

}  // namespace
