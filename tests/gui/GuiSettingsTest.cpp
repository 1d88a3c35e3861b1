// The GUI block: its defaults and what a new model keeps.

#include <gtest/gtest.h>

#include <cstdint>
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

void scramble(GuiSettings& g) { std::memset(static_cast<void*>(&g), 0xA5, sizeof g); }

// Every byte of the state (the block, the change bytes and the mouse bytes,
// up to the padding before lastMouseX) is defined: equal to a fresh block.
TEST(GuiSettings, DefaultsDefineEveryByteOfTheState) {
  scramble(guiSettings);
  initGuiDefaults();
  const GuiSettings fresh;
  EXPECT_EQ(std::memcmp(&guiSettings, &fresh, 4 * kGuiWordCount + 10), 0);
}

// The block as the drawing code sees it: word k read raw from byte 4 k, by
// the word numbers of the layout table rather than field names.
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
