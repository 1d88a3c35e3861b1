// Keys and the window and loop ids without a window.

#include "ControlFixture.h"

namespace {

TEST_F(ControlDispatch, KeysToggleTheirWordThenSendTheirId) {
  // Key (F + n: special key n), word, its value before and after, id sent (0:
  // none). M cycles squeezing, pulling, point pick; S, C and Z act in lower case only.
  const int F = 1000;
  // clang-format off
  const struct { int key; Word word; int before, after, id; } rows[] = {
      {' ', nullptr, 0, 0, 3}, {'+', nullptr, 0, 0, 4}, {'-', nullptr, 0, 0, 5},
      {'n', nullptr, 0, 0, 106}, {'Q', nullptr, 0, 0, 1}, {'r', nullptr, 0, 0, 105},
      {'z', nullptr, 0, 0, 134}, {'Z', nullptr, 0, 0, 0}, {'x', nullptr, 0, 0, 0},
      {'g', &G::gravityOn, 0, 1, 102}, {'G', &G::gravityOn, 1, 0, 102},
      {'l', &G::pixelLighting, 0, 1, 130}, {'L', &G::pixelLighting, 1, 0, 130},
      {'p', &G::paused, 0, 1, 2}, {'P', &G::paused, 1, 0, 2}, {'T', &G::texturing, 1, 0, 128},
      {'s', &G::shadowOn, 0, 1, 127}, {'S', &G::shadowOn, 0, 0, 0},
      {'c', &G::showGround, 0, 1, 0}, {'C', &G::showGround, 0, 0, 0},
      {'m', &G::mouseMode, 1, 2, 0}, {'M', &G::mouseMode, 2, 0, 0},
      {F + kKeyF1, &G::renderMode, 1, 0, 6}, {F + kKeyF2, &G::renderMode, 0, 1, 6},
      {F + kKeyF3, &G::renderMode, 0, 2, 6}, {F + kKeyF8, &G::maxFps, 0, 1, 10},
      {F + kKeyF9, &G::fullScreen, 0, 1, 8}, {F + 5, &G::renderMode, 1, 1, 0}};
  // clang-format on
  sendControl = record;
  for (const auto& r : rows) {
    guiSettings = loaded;
    if (r.word) guiSettings.*r.word = r.before;
    sent.clear();
    if (r.key >= F)
      specialCallback(r.key - F, 0, 0);
    else
      keyboardCallback(static_cast<unsigned char>(r.key), 5, 5);
    EXPECT_EQ(sent, r.id ? std::vector<int>{r.id} : std::vector<int>{}) << r.key;
    EXPECT_EQ(r.word ? guiSettings.*r.word : 0, r.after) << r.key;
  }
  log.panel.clear();
  keyboardCallback('u', 0, 0);
  keyboardCallback('v', 0, 0);
  EXPECT_EQ(log.panel, "panel view ");

  // Without a control object only u and q act.
  control.reset();
  guiSettings = loaded;
  log.panel.clear();
  sent.clear();
  for (unsigned char key : {'g', ' ', 'p', 'v', 'z', 'u', 'q'}) keyboardCallback(key, 0, 0);
  for (int key : {kKeyF1, kKeyF8}) specialCallback(key, 0, 0);
  EXPECT_EQ(sent, std::vector<int>{1});
  EXPECT_EQ(log.panel, "panel ");
  EXPECT_EQ(guiSettings.gravityOn + guiSettings.paused + guiSettings.maxFps, 0);
  EXPECT_EQ(guiSettings.renderMode, loaded.renderMode);
}

TEST_F(ControlDispatch, WindowAndLoopIds) {
  // Id, a word set to 1 besides paused, paused, the host calls. Id 2 always
  // restarts the timer loop; F8's id 10 while paused does nothing.
  // clang-format off
  const struct { int id; Word word; int paused; const char* host; } rows[] = {
      {2, nullptr, 1, "stop "}, {2, &G::maxFps, 0, "timer "}, {3, nullptr, 1, "step "},
      {3, nullptr, 0, ""}, {6, nullptr, 1, "redisplay "}, {6, nullptr, 0, ""},
      {7, nullptr, 1, "redisplay "}, {8, &G::fullScreen, 0, "full 0x0 "},
      {8, nullptr, 0, "leave "}, {9, &G::recordFrames, 0, "full 720x576 "},
      {10, &G::maxFps, 1, ""}, {10, &G::maxFps, 0, "idle "}, {10, nullptr, 0, "timer "},
      {11, nullptr, 0, ""}, {1, nullptr, 0, "quit "}};
  // clang-format on
  for (const auto& r : rows) {
    guiSettings = loaded;
    if (r.word) guiSettings.*r.word = 1;
    guiSettings.paused = r.paused;
    log.host.clear();
    log.panel.clear();
    controlCallback(r.id);
    EXPECT_EQ(log.host, r.host) << r.id;
    EXPECT_EQ(log.panel, r.id == 11 || r.id == 1 ? "" : "update ") << r.id;
  }
  // 13 rebuilds a panel; without one nothing happens, not even to its words.
  guiSettings.panelSeparateWindow = 0;
  controlCallback(13);
  EXPECT_EQ(log.panel, "rebuild show update ");
  EXPECT_EQ(guiSettings.panelAutoHide, 1);
  controlPanel = nullptr;
  guiSettings.panelAutoHide = 7;
  controlCallback(13);
  EXPECT_EQ(guiSettings.panelAutoHide, 7);
}

}  // namespace
