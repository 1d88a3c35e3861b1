#pragma once
// Always-on assertion: impossible states stop the program in every build
// type, and the message names the failed expression.

namespace zolt {
[[noreturn]] void assertFail(const char* expr, const char* file, int line, const char* func);
}

#define ZOLT_ASSERT(expr) \
  ((expr) ? static_cast<void>(0) : ::zolt::assertFail(#expr, __FILE__, __LINE__, __func__))
