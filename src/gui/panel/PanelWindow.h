#pragma once
// A panel window: a strip along the top of the display, a small window at
// its lower left corner, or a window of its own with a title bar. It holds
// the controls and registers with the master while it exists.

#include <string>

#include "PanelControls.h"

namespace panel {

class Window : public Container {
 public:
  // Background opacity of the strip and the lower-left window.
  static constexpr float kBackgroundAlpha = 1.0f;

  enum class Placement { TopStrip, LowerLeft, Floating };
  Window(const std::string& name, Placement placement);
  ~Window() override;

  // show also raises the window above the other panels.
  void show();
  void hide();
  // Hidden for good and no longer drawn or hit; the owner frees it.
  void close();
  bool isVisible() const { return visible_; }
  // Controls read their live variables every frame; this only asks for one.
  void syncLive();
  Placement placement() const { return placement_; }

  // Draws the window into the current frame; called by the master.
  void drawWindow(float displayWidth, float displayHeight);

  Rect windowRect;  // the last frame's rectangle; empty while hidden

 protected:
  void draw() override { drawChildren(); }

 private:
  Placement placement_;
  // The label names the window; the id keeps two windows of one name apart.
  std::string title_;
  bool visible_ = true;
  bool raise_ = false;
  bool closed_ = false;
};

}  // namespace panel
