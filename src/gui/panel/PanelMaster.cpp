#include "PanelMaster.h"

#include <imgui.h>

#include <algorithm>

#include "PanelWindow.h"

namespace panel {

Master& Master::get() {
  static Master master;
  return master;
}

ImGuiContext* Master::context() {
  if (!context_) {
    ImGuiContext* previous = ImGui::GetCurrentContext();
    context_ = ImGui::CreateContext();
    ImGui::SetCurrentContext(context_);
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    unsigned char* pixels;
    int w, h;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);  // the built-in font
    ImGui::StyleColorsDark();
    if (previous) ImGui::SetCurrentContext(previous);
  }
  return context_;
}

void Master::addWindow(Window* w) {
  windows_.push_back(w);
  windowShown();
}

void Master::windowShown() {
  settleFrames_ = 3;
  redraw();
}

void Master::removeWindow(Window* w) {
  windows_.erase(std::remove(windows_.begin(), windows_.end(), w), windows_.end());
  changes_.erase(std::remove_if(changes_.begin(), changes_.end(),
                                [w](const Change& c) { return c.window == w; }),
                 changes_.end());
  if (!anyVisible()) {
    input_.clear();
    capturedButtons_ = 0;
    popupOpen_ = false;
  }
}

bool Master::anyVisible() const {
  return std::any_of(windows_.begin(), windows_.end(),
                     [](const Window* w) { return w->isVisible(); });
}

void Master::redraw() const {
  if (postRedisplay) postRedisplay();
}

bool Master::hitsPanel(float x, float y) const {
  if (!anyVisible()) return false;
  if (popupOpen_) return true;
  return std::any_of(windows_.begin(), windows_.end(), [x, y](const Window* w) {
    return w->isVisible() && w->windowRect.contains(x, y);
  });
}

bool Master::inputPending() const { return !input_.empty(); }

void Master::keyboard(unsigned char key, int x, int y) {
  if (keyboardFunc) keyboardFunc(key, x, y);
}

void Master::special(int key, int x, int y) {
  if (specialFunc) specialFunc(key, x, y);
}

void Master::entry(int state) {
  if (entryFunc) entryFunc(state);
}

void Master::mouse(int button, int state, int x, int y) {
  const bool down = state == 0;
  if ((button == 3 || button == 4) && hitsPanel(float(x), float(y))) {
    // GLUT reports a notch as a press and a release; the press scrolls.
    if (down) input_.push_back({float(x), float(y), -1, false, button == 3 ? 1.0f : -1.0f});
    redraw();
    return;
  }
  if (button >= 0 && button < 3) {
    const int bit = 1 << button;
    const bool toPanel =
        down ? (capturedButtons_ != 0 || hitsPanel(float(x), float(y))) : (capturedButtons_ & bit);
    if (toPanel) {
      capturedButtons_ = down ? capturedButtons_ | bit : capturedButtons_ & ~bit;
      input_.push_back({float(x), float(y), button, down, 0.0f});
      redraw();
      return;
    }
  }
  if (mouseFunc) mouseFunc(button, state, x, y);
}

void Master::queueMove(int x, int y) {
  // Moves between two frames collapse into the last one.
  if (!input_.empty() && input_.back().button < 0 && input_.back().wheel == 0.0f) input_.pop_back();
  input_.push_back({float(x), float(y), -1, false, 0.0f});
}

void Master::motion(int x, int y) {
  if (capturedButtons_ == 0 && motionFunc) motionFunc(x, y);
  if (!anyVisible()) return;
  queueMove(x, y);
  if (capturedButtons_ != 0) redraw();
}

void Master::passiveMotion(int x, int y) {
  if (anyVisible()) {
    queueMove(x, y);
    if (hitsPanel(float(x), float(y))) redraw();
  }
  if (passiveMotionFunc) passiveMotionFunc(x, y);
}

void Master::feedInput() {
  ImGuiIO& io = ImGui::GetIO();
  while (!input_.empty()) {
    const MouseEvent e = input_.front();
    input_.pop_front();
    io.MousePos = ImVec2(e.x, e.y);
    io.MouseWheel += e.wheel;
    // A transition or a notch ends the frame's input: a later move must not
    // carry the notch away from the window it was over.
    if (e.button >= 0) io.MouseDown[e.button] = e.down;
    if (e.button >= 0 || e.wheel != 0.0f) break;
  }
}

bool Master::frame(float width, float height, float seconds) {
  if (!anyVisible()) {
    input_.clear();
    capturedButtons_ = 0;
    popupOpen_ = false;
    return false;
  }
  ImGui::SetCurrentContext(context());
  ImGuiIO& io = ImGui::GetIO();
  io.DisplaySize = ImVec2(width, height);
  io.DeltaTime = seconds > 0.0f ? seconds : 1.0f / 60.0f;
  // A frame that takes input shows its effect in the next ones (a list opens
  // after the click that opened it).
  if (!input_.empty()) settleFrames_ = std::max(settleFrames_, 2);
  feedInput();
  ImGui::NewFrame();
  // By index: a window drawn here cannot go, and one added meanwhile is drawn too.
  for (size_t k = 0; k < windows_.size(); ++k) windows_[k]->drawWindow(width, height);
  popupOpen_ = ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId | ImGuiPopupFlags_AnyPopupLevel);
  ImGui::Render();
  if (!changes_.empty() && !dispatchScheduled_ && scheduleDispatch) {
    dispatchScheduled_ = true;
    scheduleDispatch();
  }
  if (settleFrames_ > 0) --settleFrames_;
  const bool looping = framesRunning && framesRunning();
  if (inputPending() || settleFrames_ > 0 || (popupOpen_ && !looping)) redraw();
  return true;
}

void Master::queueChange(Change c) { changes_.push_back(std::move(c)); }

void Master::dispatch() {
  dispatchScheduled_ = false;
  while (!changes_.empty()) {
    Change c = std::move(changes_.front());
    changes_.pop_front();
    c.write();
    if (c.callback) c.callback(c.id);
  }
}

}  // namespace panel
