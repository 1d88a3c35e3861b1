// Frames without the worker: every part on the calling thread, in order.

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "InlineFrames.h"

namespace {

// s (step), p (prepare), d (direct drawing), r (posted redisplay); '!' marks
// a part run on another thread.
struct RecordingParts : FrameParts {
  std::string order;
  std::thread::id owner = std::this_thread::get_id();
  void note(char c) { order += std::this_thread::get_id() == owner ? c : '!'; }
  void prepare() override { note('p'); }
  void step() override { note('s'); }
  void present(bool direct) override { note(direct ? 'd' : 'r'); }
};

}  // namespace

TEST(InlineFrames, StepThenUpdateThenDrawingUntilTheLoopIsTold) {
  RecordingParts parts;
  std::string sizes;  // parts recorded at each call of between()
  runInlineFrames(parts, [&] {
    sizes += std::to_string(parts.order.size());
    return parts.order.size() < 9u;
  });
  EXPECT_EQ(parts.order, "spdspdspd");
  EXPECT_EQ(sizes, "369");  // after each whole frame
}
