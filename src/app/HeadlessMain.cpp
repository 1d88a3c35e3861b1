// zolt_headless: loads a model over the GL-free libraries.

#include <fstream>
#include <iostream>

#include "HeadlessOptions.h"
#include "Run.h"
#include "Startup.h"

int main(int argc, char** argv) {
  flushDenormals();
  HeadlessOptions o;
  std::string error;
  if (!parseHeadlessOptions(argc, argv, o, error)) {
    std::cerr << "zolt_headless: " << error << std::endl << headlessUsage();
    return 2;
  }
  if (o.help) {
    std::cout << headlessHelp();
    return 0;
  }
  if (!o.modelsDir.empty()) {
    modelsPath = withTrailingSlash(o.modelsDir);
    cachesPath = withTrailingSlash(o.cachesDir);
    if (!ensureDirectory(cachesPath)) return 1;
  } else if (!o.initFile.empty()) {
    if (!std::ifstream(o.initFile).is_open()) {
      std::cerr << "zolt_headless: cannot open init file \"" << o.initFile << "\"" << std::endl
                << headlessUsage();
      return 2;
    }
    readInitFile(o.initFile.c_str());
  } else {
    readInitFile();
  }

  if (!loadModel({o.model, o.rebuild, o.elementModel, o.scheme})) return 1;
  if (!o.loadOnly)
    std::cerr << "zolt_headless: preprocessing and stepping are not built yet; the model was "
                 "loaded only"
              << std::endl;
  unloadModel();
  return 0;
}
