// Frames without the worker: every part on the calling thread, in order.

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "InlineFrames.h"

namespace {

// Records s (step), p (prepare), d (direct drawing) or r (posted redisplay);
// '!' marks a part run on another thread.
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
  for (const int frames : {1, 3}) {
    RecordingParts parts;
    std::string atBetween;  // parts recorded at each call of between()
    runInlineFrames(parts, [&] {
      atBetween += std::to_string(parts.order.size()) + " ";
      return parts.order.size() < 3u * frames;
    });
    std::string expected, sizes;
    for (int f = 1; f <= frames; ++f) {
      expected += "spd";
      sizes += std::to_string(3 * f) + " ";
    }
    EXPECT_EQ(parts.order, expected);
    EXPECT_EQ(atBetween, sizes);  // after each whole frame
  }
}
