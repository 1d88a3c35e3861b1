#include "Startup.h"

#include <malloc.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <xmmintrin.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <new>

#include "Run.h"
#include "Tetrahedron.h"

bool graphicsInitialised = false;
void (*shutdownGraphics)() = nullptr;
void (*unloadGraphics)() = nullptr;

void flushDenormals() {
  // FTZ (bit 15) and DAZ (bit 6) of MXCSR.
  _mm_setcsr(_mm_getcsr() | 0x8040u);
}

void useOneMallocArena() { mallopt(M_ARENA_MAX, 1); }

void printBanner() {
  std::cout << std::endl
            << "Zolt - Simulation using 3D Finite Elements" << std::endl
            << std::string(42, '-') << std::endl
            << std::endl;
}

std::string withTrailingSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

namespace {

bool isDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A large model leaves hundreds of megabytes of free slabs and free heap
// pages behind: give them back.
void giveBackFreeMemory() {
  Tetrahedron::trimPool();
  malloc_trim(0);
}

}  // namespace

bool ensureDirectory(const std::string& path) {
  if (path.empty() || isDirectory(path)) return true;
  std::cout << "  Create Directory " << path << std::endl;
  int error = 0;
  // Every prefix that ends before a "/", then the whole path.
  for (size_t end = 1; end <= path.size(); ++end) {
    if (end < path.size() && path[end] != '/') continue;
    const std::string prefix = path.substr(0, end);
    if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) error = errno;
  }
  if (isDirectory(path)) return true;
  std::cerr << "[Startup] Error: Could not create directory \"" << path
            << "\": " << std::strerror(error ? error : ENOTDIR) << std::endl;
  return false;
}

void readInitFile(const char* path) {
  std::ifstream in(path);
  if (!in.is_open()) return;
  std::string word;
  while (in >> word) {
    std::string* target = nullptr;
    const char* text = nullptr;
    if (word == "MODELS_PATH") {
      target = &modelsPath;
      text = "  Read models from \"";
    } else if (word == "CACHES_PATH") {
      target = &cachesPath;
      text = "  Read/write cache files from \"";
    } else if (word == "MOVIES_PATH") {
      target = &moviesPath;
      text = "  Write movies to \"";
    } else {
      continue;
    }
    std::string value;
    if (!(in >> std::quoted(value))) break;
    *target = withTrailingSlash(value);
    std::cout << text << *target << "\"" << std::endl;
  }
  in.close();
  std::cout << std::endl;
  ensureDirectory(cachesPath);
  ensureDirectory(moviesPath);
}

void onExit() {
  if (graphicsInitialised && shutdownGraphics) shutdownGraphics();
  std::cout << "EXIT." << std::endl;
}

Run* loadModel(const LoadRequest& request) {
  unloadModel();
  const char* name = request.name.c_str();
  if (request.elementModel < 0 || request.elementModel > 5) {
    std::cerr << "[Startup, loadModel] Error: Element model " << request.elementModel
              << " is not one of 0 .. 5; model \"" << name << "\" not loaded" << std::endl;
    return nullptr;
  }
  if (request.integrationScheme < 0 || request.integrationScheme > 5) {
    std::cerr << "[Startup, loadModel] Error: Integration scheme " << request.integrationScheme
              << " is not one of 0 .. 5; model \"" << name << "\" not loaded" << std::endl;
    return nullptr;
  }
  try {
    currentRun =
        new Run(name, request.rebuildCaches, request.elementModel, request.integrationScheme);
    if (!currentRun->refused && !request.skipPreprocess) currentRun->preprocess(true);
  } catch (const std::bad_alloc&) {
    std::cout.flush();
    std::cerr << "[Startup, loadModel] Error: Out of memory while loading model \"" << name
              << "\"; it is not loaded (use a coarser mesh file or a lower LEVEL)" << std::endl;
    if (!currentRun) {  // the half-built model is gone, its memory not yet
      giveBackFreeMemory();
      return nullptr;
    }
    currentRun->refused = 1;
  }
  if (currentRun->refused) unloadModel();
  return currentRun;
}

void unloadModel() {
  if (unloadGraphics) unloadGraphics();
  if (!currentRun) return;
  delete currentRun;
  currentRun = nullptr;
  giveBackFreeMemory();
}
