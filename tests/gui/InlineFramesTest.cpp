// Frames without the worker: every part on the calling thread, in order.

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "InlineFrames.h"

namespace {

// Records s (step), p (prepare), d (direct drawing) or r (posted redisplay),
// and whether any part ran on another thread than the one that made it.
struct RecordingParts : FrameParts {
  std::string order;
  bool foreignThread = false;
  std::thread::id owner = std::this_thread::get_id();
  void note(char c) {
    order += c;
    foreignThread |= std::this_thread::get_id() != owner;
  }
  void prepare() override { note('p'); }
  void step() override { note('s'); }
  void present(bool direct) override { note(direct ? 'd' : 'r'); }
};

}  // namespace

TEST(InlineFrames, StepThenUpdateThenDrawingUntilTheLoopIsTold) {
  for (const int frames : {1, 3}) {
    SCOPED_TRACE(frames);
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
    EXPECT_FALSE(parts.foreignThread);
  }
}
