// Frames without the worker: every part on the calling thread, in order.

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "InlineFrames.h"

namespace {

// Records the parts as s (step), p (prepare), d (direct drawing) or r
// (posted redisplay), and whether each ran on the thread that made it.
class RecordingParts : public FrameParts {
 public:
  std::string order;
  bool foreignThread = false;
  void prepare() override { note('p'); }
  void step() override { note('s'); }
  void present(bool direct) override { note(direct ? 'd' : 'r'); }

 private:
  void note(char c) {
    order += c;
    foreignThread |= std::this_thread::get_id() != owner;
  }
  std::thread::id owner = std::this_thread::get_id();
};

}  // namespace

TEST(InlineFrames, StepThenUpdateThenDrawingUntilTheLoopIsTold) {
  const struct {
    int frames;  // between() returns false after this many frames
    const char* order;
  } rows[] = {
      {1, "spd"},
      {3, "spdspdspd"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.frames);
    RecordingParts parts;
    int calls = 0;
    std::string seenBetween;
    runInlineFrames(parts, [&] {
      seenBetween += parts.order.substr(parts.order.size() - 3);
      return ++calls < r.frames;
    });
    EXPECT_EQ(parts.order, r.order);
    // between() comes after each whole frame.
    EXPECT_EQ(seenBetween, r.order);
    EXPECT_EQ(calls, r.frames);
    EXPECT_FALSE(parts.foreignThread);
  }
}
