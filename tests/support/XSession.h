#pragma once
// A private Xvfb server of a chosen screen size, and a program running on it
// in the background, for tests that drive real windows: window geometry,
// title and pixels, keys, exit status and both output streams.

#include <string>
#include <vector>

#include "Files.h"
#include "Image.h"

namespace zolt::test {

class XServer {
 public:
  // screen: width x height x depth, e.g. "1280x1024x24".
  explicit XServer(const std::string& screen = "1280x1024x24");

  bool ok() const { return !display.empty(); }
  // Runs a shell command on this display; its standard output.
  std::string run(const std::string& command) const;

  std::string display;  // ":N"; empty when the server did not start

 private:
  Program server_;
};

struct WindowGeometry {
  int x = -1, y = -1, width = -1, height = -1;
};

class XProgram : public Program {
 public:
  // Starts args[0] with args in directory dir on the server's display.
  XProgram(const XServer& server, const std::string& dir, const std::vector<std::string>& args);

  // Id of the first window whose title starts with prefix, waiting up to
  // timeout seconds; empty when none appeared.
  std::string waitForWindow(const std::string& prefix, double timeout);
  std::string title() const;
  WindowGeometry geometry() const;
  // Waits up to timeout seconds for the title to satisfy pred; the last
  // title seen.
  template <class Pred>
  std::string waitForTitle(Pred pred, double timeout);
  void key(const std::string& keys) const;
  // Runs xdotool with the commands; "%w" in them stands for the window.
  void xdotool(std::string commands) const;
  // The window's pixels; empty on failure.
  Image screenshot() const;

 private:
  const XServer& server_;
  std::string window_;
};

// What the X server shows of a window of a display (WindowShot.cpp); empty
// on failure.
Image screenshotWindow(const std::string& display, unsigned long window);

template <class Pred>
std::string XProgram::waitForTitle(Pred pred, double timeout) {
  const double end = monotonicSeconds() + timeout;
  std::string t = title();
  while (!pred(t) && monotonicSeconds() < end) {
    sleepSeconds(0.05);
    t = title();
  }
  return t;
}

}  // namespace zolt::test
