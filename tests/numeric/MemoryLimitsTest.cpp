#include <gtest/gtest.h>

#include <cstdint>

#include "MemoryLimits.h"

TEST(MemoryLimits, DenseInverseFitsAnEighthOfMemoryAndAFewSeconds) {
  // An eighth of memory holds three n x n arrays of doubles: 8 * 24 n^2.
  const struct {
    uint64_t memory;
    int64_t unknowns;
    bool fits;
  } rows[] = {
      {8 * 24 * 100 * 100, 100, true},
      {8 * 24 * 100 * 100, 101, false},
      {8 * 24 * 100 * 100 - 1, 100, false},
      // 15,500 unknowns no longer index with an int: beyond either limit.
      {uint64_t(1) << 50, 15500, false},
      // Memory the system does not tell leaves the time limit alone.
      {0, 1000, true},
      {0, 15500, false},
  };
  const auto saved = physicalMemory;
  for (const auto& row : rows) {
    static uint64_t memory;
    memory = row.memory;
    physicalMemory = [] { return memory; };
    EXPECT_EQ(denseInverseFits(row.unknowns), row.fits) << row.memory << " " << row.unknowns;
  }
  physicalMemory = saved;
}
