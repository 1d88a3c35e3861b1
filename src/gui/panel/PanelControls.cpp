#include "PanelControls.h"

#include <imgui.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "PanelMaster.h"
#include "PanelWindow.h"

namespace panel {

namespace {

void keepRect(Rect& r) {
  const ImVec2 a = ImGui::GetItemRectMin(), b = ImGui::GetItemRectMax();
  r = {a.x, a.y, b.x, b.y};
}

// The pointer's motion over the active item since the last frame, not
// counting the frame of the press.
bool dragDelta(ImVec2* delta) {
  if (!ImGui::IsItemActive() || ImGui::IsItemActivated()) return false;
  *delta = ImGui::GetIO().MouseDelta;
  return delta->x != 0.0f || delta->y != 0.0f;
}

}  // namespace

Control::Control(Container* parent, std::string label, int id, Callback callback)
    : label_(std::move(label)),
      id_(id),
      callback_(callback),
      window_(parent ? parent->ownerWindow() : nullptr) {}

void Control::drawControl() {
  ImGui::PushID(this);
  ImGui::BeginDisabled(!enabled_);
  draw();
  ImGui::EndDisabled();
  ImGui::PopID();
}

void Control::queue(std::function<void()> write) {
  ++pending_;
  Master::get().queueChange({window_,
                             [this, write = std::move(write)] {
                               write();
                               --pending_;
                             },
                             callback_, id_});
}

void Container::enable() {
  enabled_ = true;
  for (auto& c : children_) c->enable();
}

void Container::disable() {
  enabled_ = false;
  for (auto& c : children_) c->disable();
}

void Container::clearRects() {
  rect = {};
  for (auto& c : children_) c->clearRects();
}

Control* Container::find(const std::string& label) {
  if (label == label_ && !label.empty()) return this;
  for (auto& c : children_)
    if (Control* f = c->find(label)) return f;
  return nullptr;
}

void Container::drawChildren() {
  ImGui::BeginGroup();
  for (auto& c : children_) {
    if (dynamic_cast<Column*>(c.get())) {
      ImGui::EndGroup();
      ImGui::SameLine(0.0f, 12.0f);
      ImGui::BeginGroup();
    } else {
      c->drawControl();
    }
  }
  ImGui::EndGroup();
}

void Button::draw() {
  if (ImGui::Button(label_.c_str(), ImVec2(width_, 0.0f))) queue([] {});
  keepRect(rect);
}

Checkbox::Checkbox(Container* parent, std::string label, int* live, int id, Callback callback)
    : Control(parent, std::move(label), id, callback), live_(live) {}

void Checkbox::draw() {
  bool on = (pending_ > 0 ? shown_ : *live_) != 0;
  if (ImGui::Checkbox(label_.c_str(), &on)) {
    shown_ = on ? 1 : 0;
    queue([live = live_, v = shown_] { *live = v; });
  }
  keepRect(rect);
}

RadioGroup::RadioGroup(Container* parent, int* live, int id, Callback callback)
    : Container(parent, "", id, callback), live_(live) {}

void RadioGroup::addButton(const std::string& label) {
  add<RadioButton>(label, static_cast<int>(children_.size()));
}

void RadioGroup::choose(int index) {
  shown_ = index;
  queue([live = live_, index] { *live = index; });
}

void RadioGroup::draw() {
  drawChildren();
  keepRect(rect);
}

RadioButton::RadioButton(Container* parent, std::string label, int index)
    : Control(parent, std::move(label)), group_(static_cast<RadioGroup*>(parent)), index_(index) {}

void RadioButton::draw() {
  if (ImGui::RadioButton(label_.c_str(), group_->value() == index_)) group_->choose(index_);
  keepRect(rect);
}

Listbox::Listbox(Container* parent, std::string label, int* live, int id, Callback callback)
    : Control(parent, std::move(label), id, callback), live_(live) {}

void Listbox::addItem(int itemId, const std::string& text) { items_.emplace_back(itemId, text); }

void Listbox::clearRects() {
  rect = {};
  itemRects.clear();
}

void Listbox::draw() {
  const int current = pending_ > 0 ? shown_ : *live_;
  const char* shownText = "";
  for (const auto& item : items_)
    if (item.first == current) shownText = item.second.c_str();
  ImGui::TextUnformatted(label_.c_str());
  ImGui::SameLine();
  const float w = width_ > 0.0f ? width_ : 100.0f;
  const ImVec2 p = ImGui::GetCursorScreenPos();
  rect = {p.x, p.y, p.x + w, p.y + ImGui::GetFrameHeight()};
  ImGui::SetNextItemWidth(w);
  if (ImGui::BeginCombo("##list", shownText)) {
    for (const auto& item : items_) {
      ImGui::PushID(item.first);
      // An empty entry still needs a line to click.
      if (ImGui::Selectable(item.second.empty() ? " " : item.second.c_str(),
                            item.first == current)) {
        shown_ = item.first;
        queue([live = live_, v = item.first] { *live = v; });
      }
      itemRects.emplace_back();
      keepRect(itemRects.back());
      ImGui::PopID();
    }
    ImGui::EndCombo();
  }
}

Rollout::Rollout(Container* parent, std::string label, bool open)
    : Container(parent, std::move(label)),
      open_(open),
      headers_{"+ " + label_ + "###header", "- " + label_ + "###header"} {}

void Rollout::draw() {
  if (ImGui::Button(headers_[open_].c_str(), ImVec2(width_ > 0.0f ? width_ : 150.0f, 0.0f)))
    open_ = !open_;
  keepRect(rect);
  if (!open_) return;
  ImGui::Indent(6.0f);
  drawChildren();
  ImGui::Unindent(6.0f);
}

void Separator::draw() {
  const ImVec2 p = ImGui::GetCursorScreenPos();
  ImGui::Dummy(ImVec2(140.0f, 6.0f));
  ImGui::GetWindowDrawList()->AddLine(ImVec2(p.x, p.y + 3.0f), ImVec2(p.x + 140.0f, p.y + 3.0f),
                                      ImGui::GetColorU32(ImGuiCol_Separator));
}

void StaticText::draw() {
  ImGui::TextUnformatted(label_.c_str());
  keepRect(rect);
}

Rotation::Rotation(Container* parent, std::string label, float* live, int id, Callback callback)
    : Control(parent, std::move(label), id, callback), live_(live) {}

void Rotation::draw() {
  const float size = width_ > 0.0f ? width_ : 64.0f, r = 0.5f * size;
  const ImVec2 p = ImGui::GetCursorScreenPos(), c(p.x + r, p.y + r);
  ImGui::InvisibleButton("ball", ImVec2(size, size));
  keepRect(rect);
  ImGui::GetWindowDrawList()->AddCircle(c, r - 1.0f, ImGui::GetColorU32(ImGuiCol_SliderGrab), 32,
                                        2.0f);
  ImVec2 d;
  if (dragDelta(&d)) {
    const ImVec2 now = ImGui::GetIO().MousePos;
    float p0[3], p1[3], m[16];
    ballPoint((now.x - d.x - c.x) / r, (c.y - now.y + d.y) / r, p0);
    ballPoint((now.x - c.x) / r, (c.y - now.y) / r, p1);
    std::memcpy(m, pending_ > 0 ? shown_ : live_, sizeof m);
    rotateBetween(p0, p1, m);
    orthonormalize(m);
    std::memcpy(shown_, m, sizeof m);
    std::array<float, 16> v;
    std::copy(m, m + 16, v.begin());
    queue([live = live_, v] { std::copy(v.begin(), v.end(), live); });
  }
  ImGui::TextUnformatted(label_.c_str());
}

Translation::Translation(Container* parent, std::string label, Type type, float* live, int id,
                         Callback callback)
    : Control(parent, std::move(label), id, callback), type_(type), live_(live) {}

void Translation::draw() {
  const float h = width_ > 0.0f ? width_ : 48.0f, w = type_ == Type::XY ? h : 0.5f * h;
  const ImVec2 p = ImGui::GetCursorScreenPos();
  ImGui::InvisibleButton("pad", ImVec2(w, h));
  keepRect(rect);
  const ImU32 col = ImGui::GetColorU32(ImGuiCol_SliderGrab);
  ImDrawList* dl = ImGui::GetWindowDrawList();
  dl->AddRect(p, ImVec2(p.x + w, p.y + h), col);
  dl->AddLine(ImVec2(p.x + 0.5f * w, p.y + 4), ImVec2(p.x + 0.5f * w, p.y + h - 4), col);
  if (type_ == Type::XY)
    dl->AddLine(ImVec2(p.x + 4, p.y + 0.5f * h), ImVec2(p.x + w - 4, p.y + 0.5f * h), col);
  ImVec2 d;
  if (dragDelta(&d)) {
    const int n = type_ == Type::XY ? 2 : 1;
    if (pending_ == 0) std::copy(live_, live_ + n, shown_);
    if (type_ == Type::XY) {
      shown_[0] += d.x * speed_;
      shown_[1] -= d.y * speed_;
    } else {
      shown_[0] -= d.y * speed_;
    }
    queue([live = live_, n, v0 = shown_[0], v1 = shown_[1]] {
      live[0] = v0;
      if (n == 2) live[1] = v1;
    });
  }
  ImGui::TextUnformatted(label_.c_str());
}

void ballPoint(float x, float y, float* p) {
  const float d2 = x * x + y * y;
  if (d2 > 1.0f) {
    const float s = 1.0f / std::sqrt(d2);
    p[0] = x * s, p[1] = y * s, p[2] = 0.0f;
  } else {
    p[0] = x, p[1] = y, p[2] = std::sqrt(1.0f - d2);
  }
}

void rotateBetween(const float* p0, const float* p1, float* m) {
  double a[3] = {double(p0[1]) * p1[2] - double(p0[2]) * p1[1],
                 double(p0[2]) * p1[0] - double(p0[0]) * p1[2],
                 double(p0[0]) * p1[1] - double(p0[1]) * p1[0]};
  const double n0 =
      std::sqrt(double(p0[0]) * p0[0] + double(p0[1]) * p0[1] + double(p0[2]) * p0[2]);
  const double n1 =
      std::sqrt(double(p1[0]) * p1[0] + double(p1[1]) * p1[1] + double(p1[2]) * p1[2]);
  const double an = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
  if (!(an > 1e-12) || !(n0 > 0.0) || !(n1 > 0.0)) return;
  const double s = an / (n0 * n1),
               c = (double(p0[0]) * p1[0] + double(p0[1]) * p1[1] + double(p0[2]) * p1[2]) /
                   (n0 * n1);
  for (double& v : a) v /= an;
  // Rodrigues: R = c I + s [a]x + (1 - c) a a^T.
  const double R[3][3] = {{c + (1 - c) * a[0] * a[0], (1 - c) * a[0] * a[1] - s * a[2],
                           (1 - c) * a[0] * a[2] + s * a[1]},
                          {(1 - c) * a[1] * a[0] + s * a[2], c + (1 - c) * a[1] * a[1],
                           (1 - c) * a[1] * a[2] - s * a[0]},
                          {(1 - c) * a[2] * a[0] - s * a[1], (1 - c) * a[2] * a[1] + s * a[0],
                           c + (1 - c) * a[2] * a[2]}};
  for (int col = 0; col < 3; ++col) {
    double v[3];
    for (int i = 0; i < 3; ++i)
      v[i] = R[i][0] * m[4 * col] + R[i][1] * m[4 * col + 1] + R[i][2] * m[4 * col + 2];
    for (int i = 0; i < 3; ++i) m[4 * col + i] = static_cast<float>(v[i]);
  }
}

void orthonormalize(float* m) {
  double c[3][3];
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) c[j][i] = m[4 * j + i];
  auto dot = [](const double* x, const double* y) {
    return x[0] * y[0] + x[1] * y[1] + x[2] * y[2];
  };
  auto normalize = [&](double* x) {
    const double n = std::sqrt(dot(x, x));
    for (int i = 0; i < 3; ++i) x[i] /= n;
  };
  normalize(c[0]);
  const double d = dot(c[0], c[1]);
  for (int i = 0; i < 3; ++i) c[1][i] -= d * c[0][i];
  normalize(c[1]);
  c[2][0] = c[0][1] * c[1][2] - c[0][2] * c[1][1];
  c[2][1] = c[0][2] * c[1][0] - c[0][0] * c[1][2];
  c[2][2] = c[0][0] * c[1][1] - c[0][1] * c[1][0];
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) m[4 * j + i] = static_cast<float>(c[j][i]);
}

}  // namespace panel
