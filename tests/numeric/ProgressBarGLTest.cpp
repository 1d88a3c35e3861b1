#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <thread>

#include "Capture.h"
#include "Image.h"
#include "ProgressBar.h"

using zolt::test::Image;
using zolt::test::Rgb;

using zolt::test::captureStdout;

namespace {

const int W = 400, H = 300;
const Rgb kDisc{128, 26, 13};  // (0.5, 0.1, 0.05)
const Rgb kWhite{255, 255, 255};
// The disc has radius 0.5 in normalised coordinates: an ellipse of
// 100 x 75 pixels half-axes in a 400 x 300 window.
const double kDiscArea = M_PI * 100.0 * 75.0;

void initGlut() {
  int argc = 1;
  char arg0[] = "ProgressBarGLTest";
  char* argv[] = {arg0, nullptr};
  glutInit(&argc, argv);
}

void openWindow() {
  initGlut();
  glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA | GLUT_DEPTH);
  glutInitWindowSize(W, H);
  glutCreateWindow("progress");
  glutDisplayFunc([] {});
  for (int i = 0; i < 10; ++i) glutMainLoopEvent();
}

Image readBuffer(GLenum buffer) {
  glFinish();
  glReadBuffer(buffer);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  std::vector<uint8_t> rgb(3 * W * H);
  glReadPixels(0, 0, W, H, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
  return zolt::test::fromBottomUp(W, H, rgb);
}

long discPixels(const Image& img) { return zolt::test::countNear(img, kDisc, 4); }

std::string consoleRun(ProgressBar& bar) {
  return captureStdout([&] {
    bar.start();
    for (int i = 0; i < 3; ++i) bar.step();
    bar.finish();
  });
}

}  // namespace

TEST(ProgressBarGL, WithoutGlutPrintsConsoleText) {
  ProgressBarGL gl("Work", 3);
  EXPECT_FALSE(gl.graphic);
  ProgressBarIO io;
  io.setTitle("Work");
  io.setTotal(3);
  EXPECT_EQ(consoleRun(gl), consoleRun(io));
}

TEST(ProgressBarGL, WithoutWindowPrintsConsoleText) {
  initGlut();
  ProgressBarGL gl("Work", 2000);
  EXPECT_FALSE(gl.graphic);
  ProgressBarIO io;
  io.setTitle("Work");
  io.setTotal(2000);
  auto runAll = [](ProgressBar& b) {
    return captureStdout([&] {
      b.start();
      for (int i = 0; i < 2000; ++i) b.step();
      b.finish();
    });
  };
  std::string a = runAll(gl), b = runAll(io);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.substr(0, 18), "==>  Work    0.0 %");
}

TEST(ProgressBarGL, FanStartsAtTopAndRunsClockwise) {
  ProgressBarGL bar("x", 1);
  EXPECT_EQ(bar.fanVertices[0], 0.0f);
  EXPECT_EQ(bar.fanVertices[1], 0.0f);
  EXPECT_EQ(bar.fanVertices[2], 0.0f);
  EXPECT_EQ(bar.fanVertices[3], 0.5f);
  EXPECT_GT(bar.fanVertices[4], 0.0f);               // second rim point lies to the right
  EXPECT_NEAR(bar.fanVertices[2 * 26], 0.5f, 1e-6);  // a quarter turn: (0.5, 0)
  EXPECT_NEAR(bar.fanVertices[2 * 101], 0.0f, 1e-6);
  EXPECT_NEAR(bar.fanVertices[2 * 101 + 1], 0.5f, 1e-6);
}

TEST(ProgressBarGL, DiscGrowsWithProgressInItsColour) {
  openWindow();
  ProgressBarGL bar("Loading", 4);
  ASSERT_TRUE(bar.graphic);
  bar.start();
  bar.step();
  Image quarter = readBuffer(GL_BACK);
  bar.step();
  bar.step();
  Image threeQuarters = readBuffer(GL_BACK);

  long n25 = discPixels(quarter), n75 = discPixels(threeQuarters);
  EXPECT_NEAR(n25, 0.25 * kDiscArea, 0.1 * kDiscArea);
  EXPECT_NEAR(n75, 0.75 * kDiscArea, 0.1 * kDiscArea);
  EXPECT_GT(n75, 2 * n25);

  // A quarter from the top clockwise fills the upper right quadrant.
  long upperRight = 0, elsewhere = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      Rgb p = quarter.at(x, y);
      if (std::abs(p.r - kDisc.r) > 4 || std::abs(p.g - kDisc.g) > 4 || std::abs(p.b - kDisc.b) > 4)
        continue;
      (x >= W / 2 && y <= H / 2 ? upperRight : elsewhere)++;
    }
  EXPECT_GT(upperRight, 20 * elsewhere);
  // Inside the filled part (lower left at three quarters) the disc is kDisc.
  Rgb m = zolt::test::meanColour(threeQuarters, W / 2 - 60, H / 2 + 20, 20, 20);
  EXPECT_NEAR(m.r, kDisc.r, 3);
  EXPECT_NEAR(m.g, kDisc.g, 3);
  EXPECT_NEAR(m.b, kDisc.b, 3);
}

TEST(ProgressBarGL, TitleIsDrawnCentredInWhite) {
  openWindow();
  ProgressBarGL bar("Generating Stiffness Matrix", 2);
  bar.start();
  bar.step();
  Image img = readBuffer(GL_BACK);
  long white = 0, sumX = 0;
  int minY = H, maxY = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      Rgb p = img.at(x, y);
      if (p.r < 250 || p.g < 250 || p.b < 250) continue;
      ++white;
      sumX += x;
      minY = std::min(minY, y);
      maxY = std::max(maxY, y);
    }
  ASSERT_GT(white, 100);
  EXPECT_NEAR(static_cast<double>(sumX) / white, W / 2, 25);
  // Glyphs stand on the window's middle line.
  EXPECT_GE(minY, H / 2 - 30);
  EXPECT_LE(maxY, H / 2 + 8);

  ProgressBarGL untitled(nullptr, 2);
  untitled.start();
  untitled.step();
  EXPECT_EQ(zolt::test::countNear(readBuffer(GL_BACK), kWhite, 5), 0);
}

TEST(ProgressBarGL, BelowOnePercentDrawsNothing) {
  openWindow();
  glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  ProgressBarGL bar(nullptr, 200);
  bar.start();
  bar.step();  // 0.5 %
  EXPECT_EQ(zolt::test::countDiffering(readBuffer(GL_BACK), Rgb{0, 255, 0}, 2), 0);
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
}

TEST(ProgressBarGL, SteppedPastTotalDrawsAtMostTheFullDisc) {
  openWindow();
  ProgressBarGL bar(nullptr, 4);
  bar.start();
  for (int i = 0; i < 4; ++i) bar.step();
  long full = discPixels(readBuffer(GL_BACK));
  for (int i = 0; i < 6; ++i) bar.step();
  EXPECT_EQ(discPixels(readBuffer(GL_BACK)), full);
  EXPECT_NEAR(full, kDiscArea, 0.05 * kDiscArea);
}

TEST(ProgressBarGL, FinishShowsFullDiscAndRestoresDepthTest) {
  openWindow();
  ProgressBarGL bar(nullptr, 4);
  bar.start();
  bar.step();
  bar.finish();
  // The shown frame, as the screen has it.
  for (int i = 0; i < 5; ++i) glutMainLoopEvent();
  Image screen = zolt::test::screenshotWindow("root");
  ASSERT_FALSE(screen.empty());
  EXPECT_NEAR(discPixels(screen), kDiscArea, 0.05 * kDiscArea);
  EXPECT_EQ(discPixels(readBuffer(GL_BACK)), 0);
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
}

// Made or stepped on a thread without the context, a bar prints the console
// texts and leaves the window alone (drawing here is checked above).
TEST(ProgressBarGL, OnAnotherThreadPrintsConsoleText) {
  openWindow();
  ProgressBarIO io;
  io.setTitle("Work");
  io.setTotal(3);
  const std::string console = consoleRun(io);
  glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  for (bool madeElsewhere : {false, true}) {
    std::unique_ptr<ProgressBar> bar(madeElsewhere ? nullptr : new ProgressBarGL("Work", 3));
    std::string text;
    std::thread([&] {
      if (!bar) bar = std::make_unique<ProgressBarGL>("Work", 3);
      text = consoleRun(*bar);
    }).join();
    EXPECT_EQ(text, console) << madeElsewhere;
    EXPECT_EQ(zolt::test::countDiffering(readBuffer(GL_BACK), Rgb{0, 255, 0}, 2), 0);
  }
}
