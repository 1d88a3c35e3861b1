// What the seal costs a warm load: each cache file read in the loaders'
// 256 KiB pieces, plain and through the sealed reader (hashing and the
// check), alternately; the best of seven runs each. Run from
// build/<tree>/run/bin after a load of the model:
//   ../../bench/zolt_bench_sealed_read [model ...]   (default bunnyLarge)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "SealedFile.h"

namespace {

double readAll(const std::string& path, bool sealed, bool& ok) {
  std::vector<char> piece(size_t(1) << 18);
  const auto start = std::chrono::steady_clock::now();
  std::ifstream file(path, std::ios::binary);
  if (sealed) {
    zolt::SealedInBuf buf(*file.rdbuf());
    std::istream in(&buf);
    while (in.read(piece.data(), std::streamsize(piece.size())) || in.gcount() > 0) {
    }
    ok = buf.verify();
  } else {
    while (file.read(piece.data(), std::streamsize(piece.size())) || file.gcount() > 0) {
    }
    ok = true;
  }
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> models(argv + 1, argv + argc);
  if (models.empty()) models = {"bunnyLarge"};
  std::printf("%-40s %10s %10s %10s %5s\n", "file", "MB", "plain_ms", "sealed_ms", "seal");
  for (const std::string& name : models) {
    double plainSum = 0, sealedSum = 0;
    for (const char* suffix : {".mesh", ".cacheCauchy", ".cacheCauchy.Mgrid"}) {
      const std::string path = "../caches/" + name + suffix;
      std::ifstream probe(path, std::ios::binary | std::ios::ate);
      if (!probe) continue;
      const double mb = double(probe.tellg()) / 1e6;
      double plain = 1e30, sealed = 1e30;
      bool ok = true;
      for (int run = 0; run < 7; ++run) {
        bool good = true;
        plain = std::min(plain, readAll(path, false, good));
        sealed = std::min(sealed, readAll(path, true, good));
        ok = ok && good;
      }
      plainSum += plain;
      sealedSum += sealed;
      std::printf("%-40s %10.1f %10.1f %10.1f %5s\n", (name + suffix).c_str(), mb, plain, sealed,
                  ok ? "ok" : "BAD");
    }
    std::printf("%-40s %10s %10.1f %10.1f  +%.1f ms\n", (name + " (all)").c_str(), "", plainSum,
                sealedSum, sealedSum - plainSum);
  }
  return 0;
}
