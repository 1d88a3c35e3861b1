#pragma once
// The worker thread that runs the time step, and its strict alternation with
// the main thread. The holder's flag is the step request: the main thread
// sets it to 1 after it has handed a frame's data over, the worker sets it
// back to 0 after one step. So a step overlaps only the drawing of its frame,
// and between frames the worker waits; everything outside a frame may touch
// the simulation without a lock.

#include "Threads.h"

// The parts of one frame, supplied by the window layer.
class FrameParts {
 public:
  virtual ~FrameParts() = default;
  // Main thread, before the step: control update, drawable update, render
  // data and collision offsets (the step may read the positions).
  virtual void prepare() = 0;
  // One time step: on the worker, or inline without one.
  virtual void step() = 0;
  // Frame-rate title, then the drawing: now (direct) or by a posted redisplay.
  virtual void present(bool direct) = 0;
};

class StepWorker {
 public:
  // threads: the holder of the worker, its mutex and its condition.
  explicit StepWorker(Threads& threads) : threads_(threads) {}
  ~StepWorker() { stop(); }
  StepWorker(const StepWorker&) = delete;
  StepWorker& operator=(const StepWorker&) = delete;

  // Starts the worker that steps parts. False (after a warning line) when
  // the thread cannot be created: frames then step inline.
  bool start(FrameParts* parts);
  bool running() const { return threads_.running; }

  // One frame. With a running worker: prepare, release the step, present
  // directly, wait for the step. Without one (or useWorker false): step,
  // prepare and present with a posted redisplay, all on this thread.
  void frame(bool useWorker);

  // Ends the worker after its current step and joins it.
  void stop();

 private:
  static void* main(void* self);
  // Sets the step request and wakes the other side.
  void post(int request);
  void waitForStep();

  Threads& threads_;
  FrameParts* parts_ = nullptr;  // not owned; read by the worker
};
