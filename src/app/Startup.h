#pragma once
// Start-up shared by the program and the batch tool: the banner, the init
// file with the three working directories, the exit handler, and loading a
// model without a window.

#include <string>

class Run;

// Set once the window and OpenGL were started.
extern bool graphicsInitialised;
// Shuts the window side down; set by the window layer, called by onExit.
extern void (*shutdownGraphics)();
// Ends the frame loop of the model that goes; set by the window layer,
// called by unloadModel before the model is deleted.
extern void (*unloadGraphics)();

// Flush-to-zero and denormals-are-zero for this thread's floating point.
void flushDenormals();

// Makes every thread allocate from malloc's main arena; called first thing
// in main, before any thread starts. A helper thread's own arena keeps 64 MB
// of address space mapped after the model it built is unloaded, room a later
// load under an address-space limit would then lack.
void useOneMallocArena();

// A write past `ulimit -f` fails (EFBIG) instead of killing the process, so
// a cache that does not fit takes the failed-write path: reported, removed,
// and the load goes on uncached.
void refuseOversizeWrites();

// An empty line, the banner, 42 hyphens and an empty line.
void printBanner();

// Reads the init file: MODELS_PATH, CACHES_PATH and MOVIES_PATH, each
// followed by a directory (one word, or a double-quoted string that may hold
// blanks); other words are skipped. When the file was read, missing caches
// and movies directories are created. Without the file nothing changes.
void readInitFile(const char* path = "ZOLT.init");

// path with a trailing "/" ("" stays "", the working directory).
std::string withTrailingSlash(std::string path);

// Creates the directory path and its missing parents with mkdir(2),
// printing "  Create Directory <path>" first; false, with a message on
// standard error, when it still is no directory afterwards.
bool ensureDirectory(const std::string& path);

// Registered with atexit: shuts the graphics down when they were started,
// then prints "EXIT.".
void onExit();

struct LoadRequest {
  std::string name;  // bare model name
  bool rebuildCaches = false;
  int elementModel = 0;
  int integrationScheme = 0;
  bool skipPreprocess = false;  // build the Run only
};

// Unloads the current model, builds the requested one as currentRun and
// preprocesses it (unless skipPreprocess). An element model or integration
// scheme outside 0 .. 5 and a model the Run refuses are reported and leave
// no model loaded (null).
Run* loadModel(const LoadRequest& request);
// Ends the window's frame loop for it, then deletes the current model;
// currentRun becomes null.
void unloadModel();
