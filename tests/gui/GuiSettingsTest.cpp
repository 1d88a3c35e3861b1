// The block as the drawing code sees it: word k read raw from byte 4 k of the
// block, by the word numbers of the layout table rather than field names.

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "GuiSettings.h"

namespace {

const uint8_t* bytes(const GuiSettings& g) { return reinterpret_cast<const uint8_t*>(&g); }

template <class T>
T wordAs(const GuiSettings& g, int k, int byteOffset = 0) {
  T value;
  std::memcpy(&value, bytes(g) + 4 * k + byteOffset, sizeof value);
  return value;
}

// The block, the change bytes and the mouse bytes: everything up to the
// padding before lastMouseX.
constexpr size_t kStateBytes = 4 * kGuiWordCount + 10;

void scramble(GuiSettings& g) { std::memset(static_cast<void*>(&g), 0xA5, sizeof g); }

TEST(GuiSettings, DefaultsSitAtTheirWords) {
  scramble(guiSettings);
  initGuiDefaults();
  const GuiSettings& g = guiSettings;
  const struct {
    int k;
    int value;
  } ints[] = {{0, 1},     {1, 0},    {2, 1},  {4, 1},    {19, 1}, {25, 1},  {27, 1},
              {59, 1024}, {60, 768}, {65, 0}, {70, 1},   {77, 1}, {81, 2},  {84, 1},
              {86, 1},    {89, 0},   {90, 1}, {93, 100}, {95, 0}, {107, 1}, {112, 0}};
  for (const auto& w : ints) EXPECT_EQ(wordAs<int32_t>(g, w.k), w.value) << "word " << w.k;
  const struct {
    int k;
    float value;
  } floats[] = {{28, 1.0f},    {29, 0.0f},  {33, 1.0f}, {38, 1.0f}, {43, 1.0f},
                {44, 0.0f},    {46, -5.0f}, {48, 5.0f}, {50, 1.0f}, {63, 1000.0f},
                {64, 1000.0f}, {87, 0.5f},  {88, 0.5f}};
  for (const auto& w : floats) EXPECT_EQ(wordAs<float>(g, w.k), w.value) << "word " << w.k;
  // The clip plane's doubles span words 9-16: (0, 0, -1, 0).
  EXPECT_EQ(wordAs<double>(g, 9), 0.0);
  EXPECT_EQ(wordAs<double>(g, 13), -1.0);
  EXPECT_EQ(wordAs<double>(g, 15), 0.0);
  // Byte words and the change bytes.
  EXPECT_EQ(wordAs<uint8_t>(g, 17), 0);
  EXPECT_EQ(wordAs<uint8_t>(g, 62, 0), 0);
  EXPECT_EQ(wordAs<uint8_t>(g, 62, 1), 0);
  for (int b = 0; b < 10; ++b) EXPECT_EQ(wordAs<uint8_t>(g, kGuiWordCount, b), 0) << b;
  // Every byte of the state is defined: equal to a freshly made block.
  const GuiSettings fresh;
  EXPECT_EQ(std::memcmp(&g, &fresh, kStateBytes), 0);
}

TEST(GuiSettings, ANewModelKeepsTheWindowWordsAndResetsTheRest) {
  GuiSettings g;
  scramble(g);
  resetGuiForNewModel(g);
  const GuiSettings fresh;
  // Words kept by number: full screen, separate panel window, frame light
  // position and the word after it, window size.
  const std::set<int> kept = {3, 26, 51, 52, 53, 54, 59, 60};
  for (int k = 0; k < kGuiWordCount; ++k) {
    uint32_t expected;
    if (kept.count(k))
      expected = 0xA5A5A5A5u;
    else if (k == 25)
      expected = 0;  // panelAutoHide is switched off
    else
      std::memcpy(&expected, bytes(fresh) + 4 * k, 4);
    EXPECT_EQ(wordAs<uint32_t>(g, k), expected) << "word " << k;
  }
  for (int b = 0; b < 10; ++b) EXPECT_EQ(wordAs<uint8_t>(g, kGuiWordCount, b), 0) << b;
  // The last mouse position lives outside the block and is kept.
  EXPECT_EQ(static_cast<uint32_t>(g.lastMouseX), 0xA5A5A5A5u);
}

}  // namespace
