#include "FramePacing.h"

#include <algorithm>
#include <cmath>

void FrameTimer::restart(const timeval& t) {
  startUs = microseconds(t);
  frames = 0;
}

void FrameTimer::read(const timeval& t) { elapsedUs = microseconds(t) - startUs; }

double microseconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
}

timeval currentTime() {
  timeval t;
  gettimeofday(&t, nullptr);
  return t;
}

uint32_t effectiveTargetFps(int targetFps) { return static_cast<uint32_t>(std::max(targetFps, 1)); }

PacingStep pacingStep(uint32_t frames, uint32_t targetFps, double elapsedUs, int prevDelay,
                      int chainValue) {
  const int target = static_cast<int>(std::max<uint32_t>(targetFps, 1));
  // The due time in single precision, the difference in double.
  const float due = static_cast<int>(frames) * 1000.0f / target;
  // Bounded before the conversion: a clock jump must not overflow the int.
  const double d = std::clamp(std::floor(due - elapsedUs * 0.001), -1e9, 1e9);
  PacingStep s;
  s.delay = static_cast<int>(d);
  s.restart = s.delay < 0 && prevDelay > 0;
  s.switchToIdle = prevDelay < 1 && s.delay < 1 && chainValue > 19;
  return s;
}

void FramePacer::start(int targetFps, const timeval& now) {
  loopStopped = false;
  timer.emplace();
  timer->restart(now);
  timer->targetFps = effectiveTargetFps(targetFps);
}

void FramePacer::restartClock(const timeval& now) {
  if (timer) timer->restart(now);
}

void FramePacer::unload() {
  timer.reset();
  timerGuard = true;
}

bool FramePacer::acceptTimerCallback(int value) {
  if (timerGuard && value >= 1) return false;
  timerGuard = false;
  return true;
}

PacingResult FramePacer::afterTimerFrame(int value, const timeval& now) {
  if (loopStopped || !timer) return {PacingResult::Next::End, 0};
  const int prev = lastDelay;
  timer->frames += 1;
  timer->read(now);
  const PacingStep s = pacingStep(timer->frames, timer->targetFps, timer->elapsedUs, prev, value);
  lastDelay = s.delay;
  if (s.restart) timer->restart(now);
  if (s.switchToIdle) return {PacingResult::Next::Idle, 0};
  return {PacingResult::Next::Timer, std::max(s.delay, 0)};
}
