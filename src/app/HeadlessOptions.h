#pragma once
// Command line of zolt_headless, the batch face of the simulator. Every
// option is declared once, in the table of HeadlessOptions.cpp, which also
// makes the --help text.

#include <string>

struct HeadlessOptions {
  std::string initFile;   // --init FILE
  std::string modelsDir;  // --models DIR (with --caches)
  std::string cachesDir;  // --caches DIR (with --models)
  std::string model = "bunnyFurTex";
  bool rebuild = false;
  bool loadOnly = false;
  int elementModel = 0;
  int scheme = 0;
  bool help = false;
};

// Fills o from argv[1 ..]; false, with the reason in error, on a usage error
// (unknown option, missing or bad value, --init together with
// --models/--caches, one of --models/--caches alone, a stray argument).
bool parseHeadlessOptions(int argc, const char* const* argv, HeadlessOptions& o,
                          std::string& error);

// The usage line.
std::string headlessUsage();
// The usage line and one line per option.
std::string headlessHelp();
