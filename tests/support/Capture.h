#pragma once
// What a piece of code prints on standard output or standard error, with the
// C streams flushed around it so that printf output is caught too.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace zolt::test {

template <class F>
std::string captureStdout(F f) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  f();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

template <class F>
std::string captureStderr(F f) {
  std::fflush(stderr);
  testing::internal::CaptureStderr();
  f();
  std::fflush(stderr);
  return testing::internal::GetCapturedStderr();
}

// Both streams of one call.
struct CapturedOutput {
  std::string out, err;
};

template <class F>
CapturedOutput captureBoth(F f) {
  CapturedOutput o;
  o.err = captureStderr([&] { o.out = captureStdout(f); });
  return o;
}

}  // namespace zolt::test
