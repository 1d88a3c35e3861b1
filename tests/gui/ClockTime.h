#pragma once
// Times of day a given number of milliseconds after the epoch.

#include <sys/time.h>

namespace zolt::test {

inline timeval atMs(double ms) {
  const long us = static_cast<long>(ms * 1000.0);
  return timeval{us / 1000000, us % 1000000};
}

}  // namespace zolt::test
