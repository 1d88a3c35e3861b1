#include "FpsCounter.h"

#include <cmath>

void FpsCounter::start(const timeval& now) {
  timer_.restart(now);
  markMs_ = 0;
  frames_ = 0;
}

bool FpsCounter::count(const timeval& now) {
  timer_.read(now);
  const int currentMs = static_cast<int>(std::floor(0.001 * timer_.elapsedUs));
  const int d = currentMs - markMs_;
  bool finished = false;
  if (d > 999) {
    fps = static_cast<float>(frames_ * 1000.0 / d);
    markMs_ = currentMs;
    frames_ = 0;
    finished = true;
  }
  ++frames_;
  return finished;
}
