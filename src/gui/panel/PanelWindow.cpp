#include "PanelWindow.h"

#include <imgui.h>

#include <cstdint>
#include <string>

#include "PanelMaster.h"

namespace panel {

Window::Window(const std::string& name, Placement placement)
    : Container(nullptr, name),
      placement_(placement),
      title_(name + "###" + std::to_string(reinterpret_cast<uintptr_t>(this))) {
  window_ = this;
  Master::get().addWindow(this);
}

Window::~Window() { close(); }

void Window::show() {
  if (closed_) return;
  visible_ = raise_ = true;
  Master::get().windowShown();
}

void Window::hide() {
  visible_ = false;
  windowRect = {};
  Master::get().redraw();
}

void Window::close() {
  if (closed_) return;
  hide();
  closed_ = true;
  Master::get().removeWindow(this);
}

void Window::syncLive() { Master::get().redraw(); }

void Window::drawWindow(float displayWidth, float displayHeight) {
  clearRects();
  windowRect = {};
  if (!visible_) return;
  ImGuiWindowFlags flags = ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoCollapse |
                           ImGuiWindowFlags_NoFocusOnAppearing;
  switch (placement_) {
    case Placement::TopStrip:
      // Full width; the height follows the open rollouts.
      ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
      ImGui::SetNextWindowSize(ImVec2(displayWidth, 0.0f));
      flags |= ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoResize |
               ImGuiWindowFlags_NoScrollbar;
      break;
    case Placement::LowerLeft:
      ImGui::SetNextWindowPos(ImVec2(0.0f, displayHeight), ImGuiCond_Always, ImVec2(0.0f, 1.0f));
      flags |=
          ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_AlwaysAutoResize;
      break;
    case Placement::Floating:
      ImGui::SetNextWindowPos(ImVec2(60.0f, 60.0f), ImGuiCond_FirstUseEver);
      flags |= ImGuiWindowFlags_AlwaysAutoResize;
      break;
  }
  // Opaque: the head-up texts beneath the strip must not show through.
  if (placement_ != Placement::Floating) ImGui::SetNextWindowBgAlpha(kBackgroundAlpha);
  if (raise_) ImGui::SetNextWindowFocus();
  raise_ = false;
  ImGui::Begin(title_.c_str(), nullptr, flags);
  drawChildren();
  const ImVec2 p = ImGui::GetWindowPos(), s = ImGui::GetWindowSize();
  windowRect = {p.x, p.y, p.x + s.x, p.y + s.y};
  ImGui::End();
}

}  // namespace panel
