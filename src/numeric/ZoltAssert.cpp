#include "ZoltAssert.h"

#include <cstdio>
#include <cstdlib>

namespace zolt {
void assertFail(const char* expr, const char* file, int line, const char* func) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", file, line, func, expr);
  std::fflush(stderr);
  std::abort();
}
}  // namespace zolt
