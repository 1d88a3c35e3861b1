#pragma once
// A progress bar that counts but prints nothing, and a factory for the
// assembler that makes one, for tests and benchmarks.

#include "ProgressBar.h"

namespace zolt::test {

class SilentBar : public ProgressBar {
 public:
  void finish() override {}
};

inline ProgressBar* silentBar(const char*, unsigned int total) {
  auto* bar = new SilentBar;
  bar->setTotal(total);
  return bar;
}

}  // namespace zolt::test
