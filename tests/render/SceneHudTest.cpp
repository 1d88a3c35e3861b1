// The head-up plan of a frame: texts, screenshots and movie frames by the
// GUI words.

#include <gtest/gtest.h>

#include <string>

#include "SceneHud.h"

namespace {

TEST(SceneHud, PlanByRecordingAndScreenshotRequests) {
  struct Row {
    bool record, save, maxFps, autoHide, sprite;
    int w, h;
    const char* fps;
    bool hint, clear, drawSprite, saveFrame, label;
  } rows[] = {
      {0, 0, 1, 1, 1, 1024, 768, kMaxFpsText, 0, 0, 0, 0, 0},
      {0, 0, 0, 0, 1, 1024, 768, kThrottledFpsText, 1, 0, 0, 0, 0},
      // A screenshot is taken at any size, once, without the sprite.
      {0, 1, 0, 1, 1, 1024, 768, nullptr, 0, 1, 0, 1, 1},
      // Movie frames only at 720 x 576; elsewhere nothing is saved or shown.
      {1, 0, 0, 1, 1, 720, 576, nullptr, 0, 1, 1, 1, 1},
      {1, 0, 0, 1, 0, 720, 576, nullptr, 0, 1, 0, 1, 1},
      {1, 0, 1, 0, 1, 721, 576, nullptr, 0, 1, 0, 0, 0},
      {1, 1, 0, 1, 1, 1024, 768, nullptr, 0, 1, 0, 0, 0},
  };
  for (const Row& r : rows) {
    const HudPlan p = planHud(r.record, r.save, r.maxFps, r.autoHide, r.sprite, r.w, r.h);
    const std::string at = std::to_string(&r - rows);
    EXPECT_STREQ(p.fpsLabel, r.fps) << at;
    EXPECT_EQ(p.controlsHint, r.hint) << at;
    EXPECT_EQ(p.clearSaveRequest, r.clear) << at;
    EXPECT_EQ(p.drawSprite, r.drawSprite) << at;
    EXPECT_EQ(p.saveFrame, r.saveFrame) << at;
    EXPECT_EQ(p.recordingLabel, r.label) << at;
  }
}

}  // namespace
