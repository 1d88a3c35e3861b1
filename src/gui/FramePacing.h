#pragma once
// Pacing of the frame loop as plain arithmetic over a clock record, so the
// schedule is tested without a window. Frame n of a span is due n * 1000 /
// target ms after the span's start; a loop that falls behind starts the span
// over instead of catching up, and one that stays behind switches to
// free-running frames.

#include <sys/time.h>

#include <cstdint>
#include <optional>

// Clock of the paced loop and of the frame-rate counter.
struct FrameTimer {
  double startUs = 0.0;    // start of the measured span
  double elapsedUs = 0.0;  // now - startUs at the last reading
  uint32_t frames = 0;     // frames counted since startUs
  uint32_t targetFps = 0;  // 0 in the frame-rate counter

  // Starts the span at t.
  void restart(const timeval& t);
  // elapsedUs = t - startUs.
  void read(const timeval& t);
};

double microseconds(const timeval& t);
// gettimeofday.
timeval currentTime();

// Rates below 1 (a time step above one second) run at 1 frame per second.
uint32_t effectiveTargetFps(int targetFps);

// One pacing decision after a timer frame.
struct PacingStep {
  int delay;          // ms until the next frame is due; negative when late
  bool restart;       // late right after an on-time frame: start the span over
  bool switchToIdle;  // late twice running after frame 19 of the chain
};

// frames: frames of the span including this one; elapsedUs: since the span's
// start; prevDelay: the previous frame's delay; chainValue: index of this
// frame in its timer chain.
PacingStep pacingStep(uint32_t frames, uint32_t targetFps, double elapsedUs, int prevDelay,
                      int chainValue);

// What follows a timer frame.
struct PacingResult {
  enum class Next { End, Timer, Idle } next;
  int delay;  // for Timer: ms, never negative
};

// State of the paced loop: the pacing clock (empty while no model runs), the
// previous delay, the stop switch and the guard against timer callbacks of a
// chain that an unload ended.
class FramePacer {
 public:
  std::optional<FrameTimer> timer;
  int lastDelay = 0;
  bool loopStopped = false;
  bool timerGuard = false;

  // A new pacing clock started at now; the loop runs.
  void start(int targetFps, const timeval& now);
  // Starts the span over (pause, resume, max-fps switches).
  void restartClock(const timeval& now);
  // The model goes: no clock, and pending callbacks of the chain are dropped.
  void unload();
  // Whether a timer callback with this chain value runs; a chain's first
  // callback (value 0) always runs and clears the guard.
  bool acceptTimerCallback(int value);
  // Steps 3-8 of a timer frame: counts it and decides what follows.
  PacingResult afterTimerFrame(int value, const timeval& now);
};
