// The program run for real on private Xvfb screens, in a working directory
// laid out like the generated one: bin/ (started there), models/, caches/,
// movies/.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <regex>
#include <string>

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

// Base title, two blanks, the rate, and the status after it.
const std::regex kFpsTitle(R"(ZOLT v[0-9.]+ \([^)]+\)  @ ([0-9]+\.[0-9][0-9]) fps -- .*)");

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
    const WindowGeometry g = r.program.geometry();
    EXPECT_EQ(g.x, r.expected.x);
    EXPECT_EQ(g.y, r.expected.y);
    EXPECT_EQ(g.width, r.expected.width);
    EXPECT_EQ(g.height, r.expected.height);
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
  std::smatch m;
  ASSERT_TRUE(std::regex_match(title, m, kFpsTitle)) << title;
  EXPECT_LE(std::atof(m[1].str().c_str()), 21.0) << title;
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
  EXPECT_TRUE(std::regex_match(p.title(), std::regex(R"(ZOLT v[0-9.]+ \([^)]+\) )"))) << p.title();
  EXPECT_EQ(p.out().find("Load file"), std::string::npos);
  quitWithQ(p);
}
