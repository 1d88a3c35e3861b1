// The program run for real on private Xvfb screens, in a working directory
// laid out like the generated one: bin/ (started there), models/, caches/,
// movies/.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "CubeModel.h"
#include "Files.h"
#include "XSession.h"

using namespace zolt::test;

namespace {

struct RunDirectory {
  TempDir t;
  RunDirectory() {
    for (const char* d : {"bin", "models", "caches", "movies"}) mkdir(t.file(d).c_str(), 0777);
    writeFile(t.file("bin/ZOLT.init"),
              "MODELS_PATH ../models/\nCACHES_PATH ../caches/\nMOVIES_PATH ../movies/\n");
  }
  // The cube as a model with 20 steps per second.
  void addModel(const std::string& name) {
    writeCubeModel(t.file("models/"), name, "LEVEL 2\nMATERIAL 1e6 0.33 1000 5 1 0.05\n");
  }
  std::string bin() const { return t.file("bin"); }
};

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The base title: "ZOLT v<version> (<date>) ".
bool isBaseTitle(const std::string& t) {
  return t.rfind("ZOLT v", 0) == 0 && t.find(" (") != t.npos && endsWith(t, ") ");
}

// Rate of a title "<base title> @ <rate, two decimals> fps -- <status>"
// whose status starts with the cube's: no force, no gravity, then the
// largest displacement; -1 when the title is not of that form.
double titleRate(const std::string& t) {
  const size_t at = t.find(" @ "), fps = t.find(" fps -- No Force -- No Gravity -- maxu: ");
  if (at == t.npos || fps == t.npos || !isBaseTitle(t.substr(0, at)) || t.find('.', at) != fps - 3)
    return -1.0;
  return std::atof(t.c_str() + at + 3);
}

void quitWithQ(XProgram& p) {
  p.key("q");
  ASSERT_TRUE(p.waitForExit(5.0));
  EXPECT_EQ(p.status, 0) << p.err();
  EXPECT_TRUE(endsWith(p.out(), "\nEXIT.\n")) << p.out();
}

}  // namespace

TEST(Window, SizeFollowsTheScreenCentredAndQQuits) {
  RunDirectory dir;  // no model: the window waits for a choice
  XServer large("1280x1024x24"), small("1024x768x24");
  ASSERT_TRUE(large.ok() && small.ok());
  XProgram onLarge(large, dir.bin(), {ZOLT_PROGRAM}), onSmall(small, dir.bin(), {ZOLT_PROGRAM});
  const struct {
    XProgram& program;
    WindowGeometry expected;
  } rows[] = {{onLarge, {128, 128, 1024, 768}}, {onSmall, {112, 84, 800, 600}}};
  for (const auto& r : rows) {
    ASSERT_NE(r.program.waitForWindow("ZOLT", 10.0), "") << r.program.err();
    const WindowGeometry g = r.program.geometry(), e = r.expected;
    EXPECT_EQ(std::vector<int>({g.x, g.y, g.width, g.height}),
              std::vector<int>({e.x, e.y, e.width, e.height}));
    quitWithQ(r.program);
  }
}

TEST(Window, DefaultModelLoadsAndTheTitleShowsARateNotAboveTheTarget) {
  RunDirectory dir;
  dir.addModel("bunnyFurTex");
  dir.addModel("bunny");
  XServer x;
  ASSERT_TRUE(x.ok());
  XProgram p(x, dir.bin(), {ZOLT_PROGRAM});
  ASSERT_NE(p.waitForWindow("ZOLT", 10.0), "") << p.err();
  // The first rate covers the first second of the paced loop.
  const std::string title =
      p.waitForTitle([](const std::string& t) { return t.find('@') != t.npos; }, 6.0);
  const double rate = titleRate(title);
  EXPECT_GT(rate, 0.0) << title;
  EXPECT_LE(rate, 21.0) << title;
  EXPECT_NE(p.out().find(std::string(42, '-') + "\n\nLoad file \"bunnyFurTex\" ...\n"),
            std::string::npos)
      << p.out();
  quitWithQ(p);
}

TEST(Window, WithoutTheDefaultModelTheWindowWaitsForAChoice) {
  RunDirectory dir;
  dir.addModel("bunny");
  XServer x;
  ASSERT_TRUE(x.ok());
  XProgram p(x, dir.bin(), {ZOLT_PROGRAM});
  ASSERT_NE(p.waitForWindow("ZOLT", 10.0), "") << p.err();
  sleepSeconds(1.1);
  // No frames run: the title keeps the base title, nothing was loaded.
  EXPECT_TRUE(isBaseTitle(p.title())) << p.title();
  EXPECT_EQ(p.out().find("Load file"), std::string::npos);
  // "Select a Model": white text in the centre of the window, and only there.
  const Image shot = p.screenshot();
  ASSERT_FALSE(shot.empty());
  long white = 0, whiteInCentre = 0;
  for (int y = 0; y < shot.height; ++y)
    for (int x = 0; x < shot.width; ++x) {
      const Rgb c = shot.at(x, y);
      if (c.r < 200 || c.g < 200 || c.b < 200) continue;
      ++white;
      whiteInCentre +=
          std::abs(2 * x - shot.width) < shot.width / 4 && std::abs(2 * y - shot.height) < 40;
    }
  EXPECT_GT(whiteInCentre, 100);
  EXPECT_EQ(white, whiteInCentre);
  quitWithQ(p);
}
