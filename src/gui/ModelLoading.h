#pragma once
// Loading and switching models: one model is loaded at a time; loading
// unloads the current one, builds the Run, preprocesses it and starts its
// frame loop. The models are the ".config" files of the models directory.

#include <string>
#include <vector>

#include "Startup.h"

// The model list and the start options kept between loads (the control
// panel shows and edits them).
struct ModelChoice {
  std::vector<std::string> models;  // sorted names
  int listIndex = 0;                // 1-based position in models, 0 = none
  int elementModel = 0;
  int scheme = 0;  // selection number, mapped to a scheme on load
  bool skipPreprocess = false;
  bool rebuildCaches = false;
};
extern ModelChoice modelChoice;

// Fills modelChoice.models from the directory.
void readModelList(const char* dir, const char* suffix);

// Unloads, then loads the named model; an empty name loads nothing.
void loadModelFile(LoadRequest request);

// Finds name in the model list, keeps the options and loads it; a name not in
// the list unloads the current model and loads none.
void selectModel(bool rebuildCaches, int elementModel, int scheme, const std::string& name,
                 bool skipPreprocess);

// The model list's callback: loads the entry at the list index with the
// kept options (caches not rebuilt); index 0 unloads.
void modelListCallback(int id);
// The same load keeping every stored option, rebuildCaches included.
void modelListLoadKeepingOptions(int id);
