#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "Capture.h"
#include "Converters.h"
#include "ToolFiles.h"

using namespace zolt::test;

TEST(TransferFunction, RampAndSwitchedChannelsScaledToOne) {
  TempDir dir;
  std::string in;
  for (int i = 0; i < 256; ++i)
    in += std::to_string(i) + " " + std::to_string(255 - i) + " 0 255\n";
  dir.write("tf.txt", in);
  const bool channels[4] = {true, false, true, true};
  ASSERT_TRUE(convertTransferFunction(dir.file("tf.txt"), dir.file("out"), channels, -1.0f, 4.1f));
  // 256 lines of four values: the ramp and the channels r, b, a.
  const std::string text = readFile(dir.file("out"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 256);
  std::istringstream out(text);
  double v[4];
  for (int i = 0; i < 256; ++i) {
    ASSERT_TRUE(out >> v[0] >> v[1] >> v[2] >> v[3]);
    EXPECT_NEAR(v[0], -1.0 + i * 5.1 / 255.0, 1e-5);
    EXPECT_NEAR(v[1], i / 255.0, 1e-6);
    EXPECT_EQ(v[2], 0.0);
    EXPECT_NEAR(v[3], 1.0, 1e-6);
  }
  EXPECT_FALSE(out >> v[0]);
}

TEST(TransferFunction, ShortOrOutOfRangeInputIsRefused) {
  std::string full;
  for (int i = 0; i < 256; ++i) full += "1 2 3 4\n";
  const struct {
    std::string text;
    const char* what;
    float min = 0.0f, max = 1.0f;
  } rows[] = {
      {full.substr(0, full.size() - 3), "line 256: the file ends before it"},
      {"1 2 3 256\n" + full, "line 1: value 256 outside 0..255"},
      {"1 -2 3 4\n" + full, "line 1: value -2 outside 0..255"},
      {"1 2 x 4\n" + full, "line 1: not a number in range"},
      // max - min overflows.
      {full, "min -3e+38 and max 3e+38 give a ramp that is not finite", -3e38f, 3e38f},
  };
  for (const auto& r : rows) {
    TempDir dir;
    const std::string in = dir.write("tf.txt", r.text);
    const bool channels[4] = {true, true, true, true};
    bool ok = true;
    const std::string err = captureStderr(
        [&] { ok = convertTransferFunction(in, dir.file("out"), channels, r.min, r.max); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, "[Converters, convertTransferFunction] Error: " + in + ": " + r.what + "\n");
    EXPECT_FALSE(exists(dir, "out"));
  }
}
