#include "GLUtils.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "GLWindow.h"
#include "TempDir.h"

namespace fs = std::filesystem;
using zolt::test::TempDir;

namespace {

// Rows of 723 RGB pixels are 2169 bytes, not a multiple of 4.
const int W = 723, H = 301;

void openWindow() { zolt::test::openGLWindow("glutils", W, H); }

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

void fillRect(int x, int y, int w, int h, Rgb c) {
  glScissor(x, y, w, h);
  glClearColor(c.r / 255.0f, c.g / 255.0f, c.b / 255.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
}

GLint integer(GLenum name) {
  GLint v = -1;
  glGetIntegerv(name, &v);
  return v;
}

}  // namespace

TEST(GLUtils, ScreenshotOfAnOddWidthKeepsCornersAndChannelOrder) {
  openWindow();
  glViewport(0, 0, W, H);
  glEnable(GL_SCISSOR_TEST);
  const Rgb grey{90, 90, 90};
  const Rgb corner[4] = {{200, 40, 10}, {10, 200, 40}, {40, 10, 200}, {250, 130, 60}};
  // 4 x 4 corner squares as GL numbers rows: bottom-left, bottom-right,
  // top-left, top-right.
  const int xs[4] = {0, W - 4, 0, W - 4}, ys[4] = {0, 0, H - 4, H - 4};
  fillRect(0, 0, W, H, grey);
  for (int c = 0; c < 4; ++c) fillRect(xs[c], ys[c], 4, 4, corner[c]);
  glDisable(GL_SCISSOR_TEST);
  glPixelStorei(GL_PACK_ALIGNMENT, 8);

  TempDir dir;
  for (bool raw : {false, true, false}) GLUtils::saveScreenshot(dir.file("").c_str(), raw);
  EXPECT_EQ(integer(GL_PACK_ALIGNMENT), 8);
  const std::string bmp = dir.file("image0000.bmp");
  EXPECT_TRUE(fs::exists(dir.file("image0001.bmp")));
  ASSERT_EQ(fs::file_size(bmp), 54u + H * 2172u);
  const std::string rgba = zolt::test::readAll(dir.file("image0000.raw"));
  ASSERT_EQ(rgba.size(), 4u * W * H);

  GLUtils::BMPImage image;
  ASSERT_TRUE(GLUtils::readBMP(bmp.c_str(), &image));
  ASSERT_EQ(image.width, W);
  ASSERT_EQ(image.height, H);
  auto bmpAt = [&](int x, int y) {
    const unsigned char* p = image.data + 3 * (W * y + x);
    return Rgb{p[0], p[1], p[2]};
  };
  auto rawAt = [&](int x, int y) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&rgba[4 * (W * y + x)]);
    EXPECT_EQ(p[3], 255);
    return Rgb{p[0], p[1], p[2]};
  };
  for (int c = 0; c < 4; ++c) {
    SCOPED_TRACE(c);
    // The square's outer and inner corners, and the pixel beside it.
    const int outerX = xs[c] == 0 ? 0 : W - 1, outerY = ys[c] == 0 ? 0 : H - 1;
    EXPECT_TRUE(bmpAt(outerX, outerY) == corner[c]);
    EXPECT_TRUE(rawAt(outerX, outerY) == corner[c]);
    EXPECT_TRUE(bmpAt(xs[c] == 0 ? 3 : W - 4, ys[c] == 0 ? 3 : H - 4) == corner[c]);
    EXPECT_TRUE(bmpAt(xs[c] == 0 ? 4 : W - 5, outerY) == grey);
  }
  EXPECT_TRUE(bmpAt(W / 2, H / 2) == grey);
  delete[] image.data;
}

TEST(GLUtils, PickPointUnprojectsThroughTheDepthBuffer) {
  openWindow();
  glViewport(0, 0, W, H);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-1, 1, -1, 1, -1, 1);  // window depth = (1 - z) / 2
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_DEPTH_TEST);
  glClearDepth(1.0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  // A tilted quad over the whole window: z = 0.5 + 0.25 x + 0.125 y.
  auto plane = [](double x, double y) { return 0.5 + 0.25 * x + 0.125 * y; };
  glBegin(GL_QUADS);
  for (const auto& c : {std::pair{-1, -1}, {1, -1}, {1, 1}, {-1, 1}})
    glVertex3d(c.first, c.second, plane(c.first, c.second));
  glEnd();
  glFinish();

  // Mouse positions, y from the top; the top row and the right column lie
  // on the window's edge.
  const struct {
    int x, y;
  } rows[] = {{W / 2, H / 2}, {100, 50}, {600, 250}, {0, 0}, {W - 1, H - 1}};
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.x << "," << r.y);
    const double x = 2.0 * r.x / W - 1.0, y = 1.0 - 2.0 * r.y / H;
    float out[3], depth = -1.0f;
    ASSERT_TRUE(GLUtils::pickPoint(r.x, r.y, out, true, &depth));
    EXPECT_NEAR(depth, (1.0 - plane(x, y)) / 2.0, 2e-3);
    EXPECT_NEAR(out[0], x, 1e-5);
    EXPECT_NEAR(out[1], y, 1e-5);
    EXPECT_NEAR(out[2], plane(x, y), 4e-3);
  }

  // Without reading, the given depth is used.
  for (float depth : {0.0f, 0.25f, 1.0f}) {
    float out[3];
    float d = depth;
    ASSERT_TRUE(GLUtils::pickPoint(W / 2, H / 2, out, false, &d));
    EXPECT_EQ(d, depth);
    EXPECT_NEAR(out[2], 1.0 - 2.0 * depth, 1e-6);
  }

  // A projection that cannot be inverted.
  glMatrixMode(GL_PROJECTION);
  glScalef(0.0f, 1.0f, 1.0f);
  float out[3], d = 0.5f;
  EXPECT_FALSE(GLUtils::pickPoint(1, 1, out, false, &d));
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glDisable(GL_DEPTH_TEST);
}

TEST(GLUtils, TexturesAndBuffersHoldTheirTightlyPackedData) {
  openWindow();
  // Rows of 3 RGB pixels are 9 bytes: with the default unpack alignment of
  // 4 the upload would read 12-byte rows past the end of the data.
  std::vector<unsigned char> pixels(3 * 3 * 2 * 2);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(20 * i + 3);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);

  GLuint tex2 = 0, tex3 = 0;
  GLUtils::createTexture(&tex2, GL_RGB8, 3, 2, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
  EXPECT_EQ(integer(GL_UNPACK_ALIGNMENT), 4);
  std::vector<unsigned char> back(3 * 3 * 2);
  glBindTexture(GL_TEXTURE_2D, tex2);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, back.data());
  EXPECT_EQ(back, std::vector<unsigned char>(pixels.begin(), pixels.begin() + back.size()));
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));

  GLUtils::create3DTexture(&tex3, GL_RGB8, 3, 2, 2, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
  EXPECT_EQ(integer(GL_UNPACK_ALIGNMENT), 4);
  back.assign(pixels.size(), 0);
  glBindTexture(GL_TEXTURE_3D, tex3);
  glGetTexImage(GL_TEXTURE_3D, 0, GL_RGB, GL_UNSIGNED_BYTE, back.data());
  EXPECT_EQ(back, pixels);

  const float vertices[6] = {1.5f, -2.0f, 3.25f, 0.0f, 7.0f, -8.5f};
  GLuint buffer = 0;
  GLUtils::createGPUBuffer(vertices, sizeof vertices, &buffer);
  EXPECT_EQ(integer(GL_ARRAY_BUFFER_BINDING), 0);
  GLUtils::bindGPUBuffer(&buffer);
  float stored[6] = {};
  glGetBufferSubData(GL_ARRAY_BUFFER, 0, sizeof stored, stored);
  EXPECT_EQ(std::vector<float>(stored, stored + 6), std::vector<float>(vertices, vertices + 6));
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  GLUtils::deleteGPUBuffer(&buffer);
  EXPECT_FALSE(glIsBuffer(buffer));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
