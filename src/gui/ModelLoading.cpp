#include "ModelLoading.h"

#include <iostream>

#include "GuiSettings.h"
#include "ModelFrontEnd.h"
#include "ModelList.h"
#include "Run.h"
#include "Window.h"

ModelChoice modelChoice;

void readModelList(const char* dir, const char* suffix) {
  modelChoice.models = listFiles(dir, suffix);
}

void loadModelFile(LoadRequest request) {
  unloadModel();
  guiSettings.modelLoaded = 0;
  if (request.name.empty()) return;
  guiSettings.modelLoaded = 1;
  std::cout << std::string(42, '-') << "\n\n"
            << "Load file \"" << request.name << "\" ..." << std::endl;
  Run* run = loadModel(request);
  if (!run) {
    // Refused: the display says so instead of waiting for the model.
    guiSettings.modelLoaded = 0;
    return;
  }
  clearGlError();
  startSimulation(run, true, true, modelFrontEnd());
  guiSettings.useWorkerThread = 1;
}

namespace {

// Loads the list entry at the list index with the kept options.
void loadChosenModel() {
  LoadRequest r;
  r.name = modelListEntry(modelChoice.models, modelChoice.listIndex);
  r.rebuildCaches = modelChoice.rebuildCaches;
  r.elementModel = elementModelForChoice(modelChoice.elementModel);
  r.integrationScheme = schemeForSelection(modelChoice.scheme);
  r.skipPreprocess = modelChoice.skipPreprocess;
  loadModelFile(r);
}

}  // namespace

void selectModel(bool rebuildCaches, int elementModel, int scheme, const std::string& name,
                 bool skipPreprocess) {
  modelChoice.listIndex = modelListIndex(modelChoice.models, name);
  modelChoice.elementModel = elementModel;
  modelChoice.scheme = scheme;
  modelChoice.skipPreprocess = skipPreprocess;
  modelChoice.rebuildCaches = rebuildCaches;
  loadChosenModel();
}

void modelListCallback(int /*id*/) {
  modelChoice.rebuildCaches = false;
  loadChosenModel();
}

void modelListLoadKeepingOptions(int /*id*/) { loadChosenModel(); }
