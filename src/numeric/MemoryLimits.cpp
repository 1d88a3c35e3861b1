#include "MemoryLimits.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace {

uint64_t systemPhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  return pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * pageSize : 0;
}

// FullMatrix::inv takes about 1.5 s of processor time for 1,000 unknowns
// here and 5.5 s for 1,500 (O(n^3)): 1,200 stay within about 3 s.
constexpr int64_t kTimeLimit = 1200;

}  // namespace

uint64_t (*physicalMemory)() = systemPhysicalMemory;

uint64_t denseInverseBytes(int64_t unknowns) {
  const uint64_t n = static_cast<uint64_t>(std::max<int64_t>(unknowns, 0));
  return 3 * n * n * sizeof(double);
}

int64_t denseInverseLimit() {
  const uint64_t share = physicalMemory() / 8;
  if (share == 0) return kTimeLimit;  // the system does not say
  const auto bySize =
      static_cast<int64_t>(std::sqrt(static_cast<double>(share) / double(denseInverseBytes(1))));
  return std::min(kTimeLimit, bySize);
}

bool denseInverseFits(int64_t unknowns) { return unknowns <= denseInverseLimit(); }
