#include "MemoryLimits.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

namespace {

uint64_t systemPhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  return pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * pageSize : 0;
}

// Lines of a /proc or /sys file to f until f returns true. An istream
// takes a std::bad_alloc for a read error: the bad bit throws it on here,
// and a read error ends the lines.
template <class F>
void forEachLine(const std::string& path, F f) {
  std::ifstream in(path);
  in.exceptions(std::ios::badbit);
  std::string line;
  try {
    while (std::getline(in, line))
      if (f(line)) return;
  } catch (const std::ios_base::failure&) {
  }
}

// The number after `key` on its line of a "key value" file such as
// /proc/meminfo or /proc/self/status, times `unit`; 0 when absent. Each
// line is read on its own: some values are not numbers ("Name:").
uint64_t keyedValue(const char* path, const std::string& key, uint64_t unit) {
  uint64_t v = 0;
  forEachLine(path, [&](const std::string& line) {
    if (line.compare(0, key.size(), key) != 0) return false;
    std::istringstream fields(line.substr(key.size()));
    if (!(fields >> v)) v = 0;
    return true;
  });
  return v * unit;
}

// A single number (or "max") in a cgroup file; 0 when absent or unlimited.
uint64_t fileNumber(const std::string& path) {
  std::ifstream in(path);
  uint64_t v = 0;
  return in >> v ? v : 0;
}

// Limit minus usage of this process's memory cgroup (v2, else v1), in its
// own directory or, inside a container, at the root; 0 when unlimited.
uint64_t cgroupRoom() {
  uint64_t room = 0;
  forEachLine("/proc/self/cgroup", [&](const std::string& line) {
    const size_t a = line.find(':'), b = line.find(':', a + 1);
    if (b == std::string::npos) return false;
    const std::string controllers = line.substr(a + 1, b - a - 1), path = line.substr(b + 1);
    const bool v2 = controllers.empty();
    if (!v2 && controllers.find("memory") == std::string::npos) return false;
    const std::string root = v2 ? "/sys/fs/cgroup" : "/sys/fs/cgroup/memory";
    const char* limitFile = v2 ? "/memory.max" : "/memory.limit_in_bytes";
    const char* usageFile = v2 ? "/memory.current" : "/memory.usage_in_bytes";
    for (const std::string& dir : {root + path, root}) {
      const uint64_t max = fileNumber(dir + limitFile);
      // "max" reads as 0; v1 writes no limit as a huge number.
      if (max == 0 || max >= (uint64_t(1) << 60)) continue;
      const uint64_t used = fileNumber(dir + usageFile);
      room = max > used ? max - used : 1;
      return true;
    }
    return false;
  });
  return room;
}


}  // namespace

uint64_t (*physicalMemory)() = systemPhysicalMemory;

// zolt_bench_coarse_crossover on box grids (8 shared cores): the inverse
// builds and applies quicker than the sparse factor at 27 unknowns (0.75
// and 0.88 of its times), slower from 36 on (1.06, 1.17); at 540 it builds
// 14 times and applies 8 times slower, at 2,700 416 and 22 times.
int64_t denseInverseCrossover = 30;

namespace {

// The least of the values that are known (not 0); 0 when none is.
uint64_t leastKnown(std::initializer_list<uint64_t> values) {
  uint64_t least = 0;
  for (uint64_t v : values)
    if (v > 0 && (least == 0 || v < least)) least = v;
  return least;
}

// The soft limit r (read when `read`) minus the /proc/self/status figure
// `key`.
uint64_t limitRoom(bool read, const rlimit& r, const char* key) {
  if (!read || r.rlim_cur == RLIM_INFINITY) return 0;
  const uint64_t used = keyedValue("/proc/self/status", key, 1024);
  return r.rlim_cur > used ? r.rlim_cur - used : 1;
}

}  // namespace

uint64_t addressSpaceUsed() { return keyedValue("/proc/self/status", "VmSize:", 1024); }

uint64_t addressSpaceRoom() {
  rlimit r;
  return limitRoom(getrlimit(RLIMIT_AS, &r) == 0, r, "VmSize:");
}

uint64_t dataSegmentRoom() {
  rlimit r;
  return limitRoom(getrlimit(RLIMIT_DATA, &r) == 0, r, "VmData:");
}

uint64_t mappingRoom() { return leastKnown({addressSpaceRoom(), dataSegmentRoom()}); }

uint64_t usableMemory() {
  return leastKnown({physicalMemory(), keyedValue("/proc/meminfo", "MemAvailable:", 1024),
                     mappingRoom(), cgroupRoom()});
}

uint64_t denseInverseBytes(int64_t unknowns) {
  const uint64_t n = static_cast<uint64_t>(std::max<int64_t>(unknowns, 0));
  return 3 * n * n * sizeof(double);
}

int64_t denseInverseLimit() {
  const uint64_t share = physicalMemory() / 8;
  if (share == 0) return denseInverseCrossover;  // the system does not say
  const auto bySize =
      static_cast<int64_t>(std::sqrt(static_cast<double>(share) / double(denseInverseBytes(1))));
  return std::min(denseInverseCrossover, bySize);
}

bool denseInverseFits(int64_t unknowns) { return unknowns <= denseInverseLimit(); }
