#include <cstdio>
#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  std::printf("\nZolt - Simulation using 3D Finite Elements\n");
  std::printf("------------------------------------------\n\n");
  if (argc > 1) return 0;
  // Model loading and the window come with the model and interface layers.
  return 0;
}
