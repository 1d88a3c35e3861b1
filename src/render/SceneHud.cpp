#include "SceneHud.h"

#include <algorithm>

HudPlan planHud(bool recordFrames, bool saveFrames, bool maxFps, bool panelAutoHide,
                bool showPointerSprite, int width, int height) {
  HudPlan plan;
  if (!recordFrames && !saveFrames) {
    plan.fpsLabel = maxFps ? kMaxFpsText : kThrottledFpsText;
    plan.controlsHint = !panelAutoHide;
    return plan;
  }
  plan.clearSaveRequest = true;
  if (!recordFrames || (width == kMovieWidth && height == kMovieHeight)) {
    plan.drawSprite = showPointerSprite && recordFrames;
    plan.saveFrame = true;
    plan.recordingLabel = true;
  }
  return plan;
}

void pointerToDevice(int px, int py, int width, int height, float* x, float* y) {
  const float w = static_cast<float>(std::max(width, 1)),
              h = static_cast<float>(std::max(height, 1));
  *x = 2.0f * px / w - 1.0f;
  *y = 2.0f * (1.0f - py / h) - 1.0f;
}

float centredTextX(float x, int textWidth, int windowWidth) {
  const int half = std::max(windowWidth / 2, 1);
  return x - static_cast<float>(textWidth / 2) / static_cast<float>(half);
}
