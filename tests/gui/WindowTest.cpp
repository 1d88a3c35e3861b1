// The program run for real on private Xvfb screens, in a working directory
// laid out like the generated one: bin/ (started there), models/, caches/,
// movies/.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
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
  // The cube as a model with 20 steps per second; extra lines follow.
  void addModel(const std::string& name, const std::string& extra = "") {
    writeCubeModel(t.file("models/"), name, "LEVEL 2\nMATERIAL 1e6 0.33 1000 5 1 0.05\n" + extra);
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

// The largest displacement a title shows; -1 without one.
double maxu(const std::string& t) {
  const size_t at = t.find("maxu: ");
  return at == t.npos ? -1.0 : std::atof(t.c_str() + at + 6);
}

// A program on the default model, its first frame rate shown.
struct RunningModel {
  RunDirectory dir;
  XServer x;
  std::unique_ptr<XProgram> p;
  explicit RunningModel(const std::string& extra) {
    dir.addModel("bunnyFurTex", extra);
    p = std::make_unique<XProgram>(x, dir.bin(), std::vector<std::string>{ZOLT_PROGRAM});
    p->waitForWindow("ZOLT", 10.0);
    p->waitForTitle([](const std::string& t) { return t.find('@') != t.npos; }, 6.0);
  }
  // Waits for a title that holds part and whose maxu satisfies pred.
  template <class Pred>
  std::string waitFor(const std::string& part, Pred pred, double timeout = 4.0) {
    return p->waitForTitle(
        [&](const std::string& t) { return t.find(part) != t.npos && pred(maxu(t)); }, timeout);
  }
  // Pixels that differ from the background (the top left corner).
  long bodyPixels() const {
    const Image shot = p->screenshot();
    return shot.empty() ? -1 : countDiffering(shot, shot.at(2, 2), 24);
  }
};

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
  // "Select a Model": white text in the centre of the window, and only there
  // below the control panel, which shows while no model is loaded.
  // The panel takes its size over its first frames: a loaded machine may
  // not have drawn them yet.
  const int panelBottom = 110;
  Image shot = p.screenshot();
  for (int i = 0; i < 40 && countDiffering(shot, {0, 0, 0}, 10) < 0.9 * shot.width * 100; ++i) {
    sleepSeconds(0.1);
    shot = p.screenshot();
  }
  ASSERT_FALSE(shot.empty());
  EXPECT_GT(countDiffering(shot, {0, 0, 0}, 10), 0.9 * shot.width * 100);
  long white = 0, whiteInCentre = 0;
  for (int y = panelBottom; y < shot.height; ++y)
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

TEST(Window, KeysDriveTheModel) {
  RunningModel m("");  // a free cube: gravity makes it fall for ever
  XProgram& p = *m.p;
  p.key("g");
  const double falling = maxu(m.waitFor(" -- Gravity -- ", [](double u) { return u > 0; }));
  EXPECT_GT(falling, 0.0) << p.title();
  EXPECT_GT(maxu(m.waitFor("", [&](double u) { return u > falling; })), falling);
  // Paused, the title stands still; a blank advances one step.
  p.key("p");
  sleepSeconds(1.2);
  const std::string paused = p.title();
  sleepSeconds(1.2);
  EXPECT_EQ(p.title(), paused);
  p.key("space");
  sleepSeconds(1.1);
  p.key("space");
  EXPECT_GT(maxu(m.waitFor(
                "", [&](double u) { return u > maxu(paused); }, 2.0)),
            maxu(paused));
  p.key("p r");
  const std::string reset = m.waitFor(
      "No Gravity -- maxu: 0.0000", [](double) { return true; }, 4.0);
  EXPECT_NE(reset.find("No Gravity -- maxu: 0.0000"), std::string::npos) << reset;
  // Wireframe draws fewer pixels of the body.
  const long filled = m.bodyPixels();
  p.key("F1");
  sleepSeconds(0.5);
  EXPECT_LT(m.bodyPixels(), filled * 3 / 4) << filled;
  quitWithQ(p);
}

TEST(Window, TheMousePullsRotatesAndZooms) {
  RunningModel m("FIXED_VERTICES 4 1 2 5 6\n");  // held at its y = 0 face
  XProgram& p = *m.p;
  const Image shot = p.screenshot();
  ASSERT_FALSE(shot.empty());
  // The body's centre on the screen.
  const Rgb background = shot.at(2, 2);
  long n = 0, sx = 0, sy = 0;
  for (int y = 0; y < shot.height; ++y)
    for (int x = 0; x < shot.width; ++x) {
      const Rgb c = shot.at(x, y);
      if (std::abs(c.r - background.r) + std::abs(c.g - background.g) +
              std::abs(c.b - background.b) >
          72) {
        ++n;
        sx += x;
        sy += y;
      }
    }
  ASSERT_GT(n, 1000);
  const std::string at = std::to_string(sx / n) + " " + std::to_string(sy / n);
  // A left drag in pull mode moves the body; after the release it returns.
  p.xdotool("mousemove --window %w " + at + " sleep 0.2 mousedown 1 sleep 0.2 " +
            "mousemove_relative 120 0 sleep 0.2");
  const double pulled = maxu(m.waitFor("", [](double u) { return u > 0.01; }));
  p.xdotool("mouseup 1");
  EXPECT_GT(pulled, 0.01) << p.title();
  EXPECT_LT(maxu(m.waitFor(
                "", [&](double u) { return u < pulled / 2; }, 6.0)),
            pulled / 2);
  // A right drag turns the view: the silhouette changes.
  const Image before = p.screenshot();
  p.xdotool("mousemove --window %w " + at + " sleep 0.2 mousedown 3 sleep 0.2 " +
            "mousemove_relative 0 80 sleep 0.3 mouseup 3 sleep 0.5");
  EXPECT_GT(countDifferentPixels(before, p.screenshot(), 24), 2000);
  // The wheel down zooms out: a smaller body.
  const long near = m.bodyPixels();
  p.xdotool("mousemove --window %w " + at + " click --repeat 3 --delay 150 5 sleep 0.5");
  EXPECT_LT(m.bodyPixels(), near * 3 / 4) << near;
  quitWithQ(p);
}
