#include <cstdlib>
#include <ctime>
#include <iostream>

#include "Run.h"
#include "Startup.h"
#include "WindowStart.h"

int main(int argc, char** argv) {
  useOneMallocArena();
  refuseOversizeWrites();
  flushDenormals();
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  currentRun = nullptr;
  graphicsInitialised = false;
  printBanner();
  readInitFile();
  std::atexit(onExit);
  if (argc > 1) return 0;
  std::cout << "Start Simulation" << std::endl << std::endl;
  return runWindowed(argc, argv);
}
