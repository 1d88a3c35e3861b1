#pragma once
// The controls of a panel window: buttons, check boxes, radio groups, list
// boxes, rollouts, untitled panels, separators, columns, static texts, a
// rotation ball and translation controls. Each control is bound to a live
// variable (not owned) and reports to an (int id) callback.
//
// A change never writes the live variable while the panel draws: the
// control queues the new value with the master, which writes it and then
// calls the callback between frames. Until then the control shows the
// queued value, so changes made on frames in a row build on each other.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace panel {

using Callback = void (*)(int id);

class Container;
class Window;

// A screen rectangle in window pixels, y downward; empty when not drawn.
struct Rect {
  float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  bool empty() const { return !(x1 > x0 && y1 > y0); }
  bool contains(float x, float y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

class Control {
 public:
  Control(Container* parent, std::string label, int id = 0, Callback callback = nullptr);
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // Containers pass these on to their children.
  virtual void enable() { enabled_ = true; }
  virtual void disable() { enabled_ = false; }
  bool isEnabled() const { return enabled_; }
  const std::string& label() const { return label_; }
  int id() const { return id_; }
  void setWidth(float w) { width_ = w; }

  // Draws the control (greyed out when disabled) and keeps its rectangle.
  void drawControl();
  // Empties the rectangles of this control and its children.
  virtual void clearRects() { rect = {}; }
  // This control or the first descendant with the label; null when none.
  virtual Control* find(const std::string& label) { return label == label_ ? this : nullptr; }

  Rect rect;  // where the last frame drew it

 protected:
  virtual void draw() = 0;
  // Queues a change: write runs, then the callback, between frames.
  void queue(std::function<void()> write);

  std::string label_;
  int id_;
  Callback callback_;
  float width_ = 0.0f;
  bool enabled_ = true;
  Window* window_ = nullptr;
  int pending_ = 0;  // queued changes not yet written
};

class Container : public Control {
 public:
  using Control::Control;
  void enable() override;
  void disable() override;
  void clearRects() override;
  Control* find(const std::string& label) override;

  template <class T, class... Args>
  T* add(Args&&... args) {
    auto c = std::make_unique<T>(this, std::forward<Args>(args)...);
    T* raw = c.get();
    children_.push_back(std::move(c));
    return raw;
  }
  Window* ownerWindow() const { return window_; }

 protected:
  // Children in columns: a Column starts the next one.
  void drawChildren();
  std::vector<std::unique_ptr<Control>> children_;
};

class Button : public Control {
 public:
  using Control::Control;

 protected:
  void draw() override;
};

class Checkbox : public Control {
 public:
  Checkbox(Container* parent, std::string label, int* live, int id = 0,
           Callback callback = nullptr);

 protected:
  void draw() override;
  int* live_;
  int shown_ = 0;
};

// Radio buttons in a group: the live variable holds the chosen index.
class RadioGroup : public Container {
 public:
  RadioGroup(Container* parent, int* live, int id = 0, Callback callback = nullptr);
  void addButton(const std::string& label);
  int value() const { return pending_ > 0 ? shown_ : *live_; }
  void choose(int index);

 protected:
  void draw() override;
  int* live_;
  int shown_ = 0;
};

class RadioButton : public Control {
 public:
  // Made by RadioGroup::addButton; parent is the group.
  RadioButton(Container* parent, std::string label, int index);

 protected:
  void draw() override;
  RadioGroup* group_;
  int index_;
};

// A drop-down list; the live variable holds the chosen item's id.
class Listbox : public Control {
 public:
  Listbox(Container* parent, std::string label, int* live, int id = 0, Callback callback = nullptr);
  void addItem(int itemId, const std::string& text);
  void clearRects() override;

  std::vector<Rect> itemRects;  // the items of the open list; empty while closed

 protected:
  void draw() override;
  int* live_;
  int shown_ = 0;
  std::vector<std::pair<int, std::string>> items_;
};

// A titled container that shows its children only while open (closed at
// start).
class Rollout : public Container {
 public:
  Rollout(Container* parent, std::string label, bool open = false);
  bool isOpen() const { return open_; }
  void open() { open_ = true; }
  void close() { open_ = false; }

 protected:
  void draw() override;
  bool open_;

 private:
  std::string headers_[2];  // closed and open, with one id for both
};

// An untitled container.
class Panel : public Container {
 public:
  explicit Panel(Container* parent) : Container(parent, "") {}

 protected:
  void draw() override { drawChildren(); }
};

class Separator : public Control {
 public:
  explicit Separator(Container* parent) : Control(parent, "") {}

 protected:
  void draw() override;
};

class Column : public Control {
 public:
  explicit Column(Container* parent) : Control(parent, "") {}

 protected:
  void draw() override {}
};

class StaticText : public Control {
 public:
  using Control::Control;

 protected:
  void draw() override;
};

// A trackball over a column-major float[16] rotation: a drag from p0 to p1
// on the ball's hemisphere turns the matrix by the rotation taking p0 to p1,
// so the point under the pointer stays under it. The 3 x 3 part is made
// orthonormal again after every change.
class Rotation : public Control {
 public:
  Rotation(Container* parent, std::string label, float* live, int id = 0,
           Callback callback = nullptr);

 protected:
  void draw() override;
  float* live_;
  float shown_[16] = {};
};

// A drag pad over one (Z) or two (XY) floats: x right and y up add the
// pixel distance times the speed.
class Translation : public Control {
 public:
  enum class Type { XY, Z };
  Translation(Container* parent, std::string label, Type type, float* live, int id = 0,
              Callback callback = nullptr);
  void setSpeed(float s) { speed_ = s; }
  float speed() const { return speed_; }

 protected:
  void draw() override;
  Type type_;
  float* live_;
  float shown_[2] = {0, 0};
  float speed_ = 1.0f;
};

// The rotation taking unit vector p0 to unit vector p1, applied on the left
// of the 3 x 3 part of the column-major matrix m.
void rotateBetween(const float* p0, const float* p1, float* m);
// Gram-Schmidt on the columns of the 3 x 3 part of m.
void orthonormalize(float* m);
// The point of the unit ball's front hemisphere under (x, y), given in
// ball radii from the centre, y up; points outside land on the rim.
void ballPoint(float x, float y, float* p);

}  // namespace panel
