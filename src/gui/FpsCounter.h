#pragma once
// Frame-rate counter of the window title: counts frames and, once more than
// 999 ms have passed since its mark, gives the rate over that time. The
// clock is the caller's, so the counter runs without a window.

#include "FramePacing.h"

class FpsCounter {
 public:
  float fps = 0.0f;  // rate of the last finished interval

  // Starts the clock at now with no frame counted.
  void start(const timeval& now);
  // Counts one frame at now. True when this call finished an interval of
  // more than 999 ms: fps is then frames counted since the mark * 1000 /
  // elapsed ms, and the mark moves to now.
  bool count(const timeval& now);

 private:
  FrameTimer timer_;
  int markMs_ = 0;
  int frames_ = 0;
};
