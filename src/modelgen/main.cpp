// zolt_make_models <dir>: writes the sample models and their working
// directory under <dir>.
#include <chrono>
#include <cstdio>
#include <iostream>

#include "SampleModels.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: zolt_make_models <dir>\n";
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  std::cout << "Writing sample models to " << argv[1] << "\n";
  if (!zolt::modelgen::writeRunDirectory(argv[1], std::cout)) return 1;
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  std::printf("Sample models written in %.2f s\n", seconds.count());
  return 0;
}
