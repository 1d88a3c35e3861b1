#pragma once
// Frames without the worker thread: the step, the frame's preparation and the
// drawing, one after the other on the calling thread, with no hand-off.

#include <functional>

#include "StepWorker.h"

// Frames drawn at once, each followed by between(); ends when between()
// returns false. The program's loop never ends: its between() serves the
// window's events and returns true.
void runInlineFrames(FrameParts& parts, const std::function<bool()>& between);
