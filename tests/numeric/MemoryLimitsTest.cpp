#include <gtest/gtest.h>

#include <cstdint>

#include "MemoryLimits.h"

TEST(MemoryLimits, DenseInverseFitsAnEighthOfMemoryAndTheTimeLimit) {
  // An eighth of memory holds three n x n arrays of doubles: 8 * 24 n^2.
  const auto forLimit = [](uint64_t n) { return 8 * 24 * n * n; };
  const struct {
    uint64_t memory;
    int64_t unknowns;
    bool fits;
  } rows[] = {
      {forLimit(100), 100, true},
      {forLimit(100), 101, false},
      {forLimit(100) - 1, 100, false},
      {forLimit(1000), 0, true},
      // Plenty of memory: the time limit holds.
      {uint64_t(1) << 40, 1500, true},
      {uint64_t(1) << 40, 1501, false},
      // 15,500 unknowns no longer index with an int; far beyond either limit.
      {uint64_t(1) << 50, 15500, false},
      // A system that does not say has room for nothing.
      {0, 1, false},
  };
  const auto saved = physicalMemory;
  for (const auto& row : rows) {
    static uint64_t memory;
    memory = row.memory;
    physicalMemory = [] { return memory; };
    EXPECT_EQ(denseInverseFits(row.unknowns), row.fits) << row.memory << " " << row.unknowns;
    EXPECT_EQ(denseInverseBytes(row.unknowns), 24 * uint64_t(row.unknowns) * row.unknowns);
  }
  physicalMemory = saved;
  EXPECT_GT(physicalMemory(), 0u);
}
