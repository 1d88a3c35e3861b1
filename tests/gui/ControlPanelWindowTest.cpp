// The control panel in the running program on a private Xvfb screen,
// driven with xdotool: showing and hiding it, choosing a model while the
// worker steps, presses that stay on the panel, pause and quit.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "CubeModel.h"
#include "Files.h"
#include "XSession.h"

using namespace zolt::test;

namespace {

// Places of the panel's controls in the 1024 x 768 window (built-in font).
constexpr int kModelList[2] = {100, 17};
constexpr int kSecondItem[2] = {100, 57};  // "bunny", below the empty entry
constexpr int kSimulationRollout[2] = {250, 17};
constexpr int kPauseBox[2] = {197, 73};
constexpr int kQuitButton[2] = {40, 63};
constexpr int kColourRollout[2] = {580, 40};
constexpr int kSpecularButton[2] = {564, 132};
constexpr int kSurfaceRollout[2] = {420, 17};
constexpr int kFurBox[2] = {360, 63};

struct PanelProgram {
  TempDir t;
  XServer x;
  std::unique_ptr<XProgram> p;
  std::string window;

  // bunnyFurTex (loaded at start) and bunny, the cube at 20 steps a second;
  // with generated set, the generated default model with its fur instead.
  explicit PanelProgram(bool generated = false) {
    for (const char* d : {"bin", "models", "caches", "movies"}) mkdir(t.file(d).c_str(), 0777);
    writeFile(t.file("bin/ZOLT.init"),
              "MODELS_PATH ../models/\nCACHES_PATH ../caches/\nMOVIES_PATH ../movies/\n");
    for (const char* m : {"bunnyFurTex", "bunny"})
      writeCubeModel(t.file("models/"), m, "LEVEL 2\nMATERIAL 1e6 0.33 1000 5 1 0.05\n");
    if (generated)
      for (const char* ext :
           {".config", ".ele", ".node", ".params", ".level2.params", ".obj", ".tga"})
        std::filesystem::copy_file(std::string(ZOLT_MODELS_DIR) + "bunnyFurTex" + ext,
                                   t.file("models/bunnyFurTex") + ext,
                                   std::filesystem::copy_options::overwrite_existing);
    if (!x.ok()) return;
    p = std::make_unique<XProgram>(x, t.file("bin"), std::vector<std::string>{ZOLT_PROGRAM});
    window = p->waitForWindow("ZOLT", 10.0);
  }
  bool running() { return !window.empty() && waitForRate(); }
  bool waitForRate() {
    return p->waitForTitle([](const std::string& s) { return s.find(" fps -- ") != s.npos; }, 8.0)
               .find(" fps -- ") != std::string::npos;
  }
  // Move, press and release with pauses: the panel samples buttons per frame.
  void click(const int* at) const {
    x.run("xdotool mousemove --window " + window + " " + std::to_string(at[0]) + " " +
          std::to_string(at[1]) + " sleep 0.2 mousedown 1 sleep 0.2 mouseup 1 sleep 0.2");
  }
  // Red pixels of the "Press [u] to show controls" hint in the top right.
  long hintPixels() const {
    const Image shot = p->screenshot();
    long n = 0;
    for (int y = 0; y < shot.height / 16; ++y)
      for (int xx = shot.width * 4 / 5; xx < shot.width; ++xx) {
        const Rgb c = shot.at(xx, y);
        n += c.r > 150 && c.g < 80 && c.b < 80;
      }
    return n;
  }
  void quit() {
    p->key("q");
    ASSERT_TRUE(p->waitForExit(5.0));
    EXPECT_EQ(p->status, 0) << p->err();
    EXPECT_NE(p->out().find("\nEXIT.\n"), std::string::npos) << p->out();
  }
};

// "maxu: <value>" of the title, or -1.
double maxu(const std::string& title) {
  const size_t at = title.find("maxu: ");
  return at == title.npos ? -1.0 : std::atof(title.c_str() + at + 6);
}

}  // namespace

TEST(ControlPanelWindow, HiddenAtStartAndUTogglesIt) {
  PanelProgram r;
  ASSERT_TRUE(r.running()) << r.p->err();
  const Image hidden = r.p->screenshot();
  EXPECT_GT(r.hintPixels(), 20);
  r.p->key("u");
  sleepSeconds(0.5);
  const Image shown = r.p->screenshot();
  // The strip covers the top of the window, the hint with it.
  long changed = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < shown.width; ++x) {
      const Rgb a = hidden.at(x, y), b = shown.at(x, y);
      changed += std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b) > 30;
    }
  EXPECT_GT(changed, shown.width * 5);
  EXPECT_LT(r.hintPixels(), 5);
  r.p->key("u");
  sleepSeconds(0.5);
  EXPECT_GT(r.hintPixels(), 20);
  r.quit();
}

TEST(ControlPanelWindow, ChoosingAModelLoadsItWhileTheWorkerSteps) {
  PanelProgram r;
  ASSERT_TRUE(r.running()) << r.p->err();
  r.p->key("u");
  sleepSeconds(0.3);
  r.click(kModelList);
  r.click(kSecondItem);
  const double end = monotonicSeconds() + 8.0;
  while (r.p->out().find("Load file \"bunny\" ...") == std::string::npos &&
         monotonicSeconds() < end)
    sleepSeconds(0.1);
  EXPECT_NE(r.p->out().find("Load file \"bunny\" ..."), std::string::npos) << r.p->out();
  sleepSeconds(1.2);
  EXPECT_TRUE(r.waitForRate()) << r.p->title();
  r.quit();
}

TEST(ControlPanelWindow, APressOnThePanelNeverPulls) {
  PanelProgram r;
  ASSERT_TRUE(r.running()) << r.p->err();
  r.p->key("u");
  sleepSeconds(0.3);
  // From the panel strip down onto the body and back.
  r.x.run("xdotool mousemove --window " + r.window +
          " 900 12 sleep 0.2 mousedown 1 sleep 0.2 mousemove --window " + r.window +
          " 512 384 sleep 0.3 mousemove --window " + r.window +
          " 500 300 sleep 0.3 mouseup 1 sleep 0.2");
  sleepSeconds(1.1);
  EXPECT_EQ(maxu(r.p->title()), 0.0) << r.p->title();
  r.quit();
}

// Pause and Quit act through controlCallback's window actions (ids 2 and 1).
TEST(ControlPanelWindow, PauseStopsTheTitleAndQuitEnds) {
  PanelProgram r;
  ASSERT_TRUE(r.running()) << r.p->err();
  r.p->key("u");
  sleepSeconds(0.3);
  r.click(kSimulationRollout);
  r.click(kPauseBox);
  sleepSeconds(1.2);
  const std::string title = r.p->title();
  sleepSeconds(1.5);
  EXPECT_EQ(r.p->title(), title);
  r.click(kQuitButton);
  ASSERT_TRUE(r.p->waitForExit(5.0));
  EXPECT_EQ(r.p->status, 0) << r.p->err();
  EXPECT_NE(r.p->out().find("\nEXIT.\n"), std::string::npos) << r.p->out();
}

// Pixels brighter than the background below the panel strip and left of
// the logo: the body and its fur.
long bodyPixels(const Image& shot) {
  long n = 0;
  for (int y = 200; y < 660; ++y)
    for (int x = 320; x < 800; ++x) {
      const Rgb c = shot.at(x, y);
      n += std::max({c.r, c.g, c.b}) > 40;
    }
  return n;
}

TEST(ControlPanelWindow, ColourPickerAndFurBox) {
  PanelProgram r(true);
  ASSERT_TRUE(r.running()) << r.p->err();
  r.p->key("u");
  sleepSeconds(0.5);
  // "Specular Color" opens the picker over the middle of the window; a right
  // press picks, a left click closes it.
  r.click(kColourRollout);
  r.click(kSpecularButton);
  sleepSeconds(0.5);
  const Image picker = r.p->screenshot();
  long bright = 0;  // the brightness column, white at its top
  for (int y = 260; y < 300; ++y)
    for (int x = 850; x < 955; ++x) bright += picker.at(x, y).r > 200;
  EXPECT_GT(bright, 2000);
  r.x.run("xdotool mousemove --window " + r.window +
          " 150 280 sleep 0.2 mousedown 3 sleep 0.2 mouseup 3 sleep 0.3 mousedown 1 sleep 0.2 "
          "mouseup 1 sleep 0.5");
  EXPECT_NE(r.p->out().find("Set Color: "), std::string::npos) << r.p->out();
  // Fur off: the silhouette shrinks by more than 3 %.
  const long withFur = bodyPixels(r.p->screenshot());
  r.click(kSurfaceRollout);
  r.click(kFurBox);
  sleepSeconds(1.5);
  const long withoutFur = bodyPixels(r.p->screenshot());
  EXPECT_GT(withFur, 1.03 * withoutFur) << withFur << " " << withoutFur;
  r.quit();
}
