#include "PanelOperations.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ControlDispatch.h"
#include "ControlPanel.h"
#include "GuiSettings.h"
#include "LinSimulation.h"
#include "MaterialProperties.h"
#include "ModelLoading.h"
#include "Run.h"
#include "TimeIntegration.h"
#include "ZoltControl.h"

SolverChoice solverChoice;

void hideControlPanel() {
  if (controlPanelInstance) controlPanelInstance->hide();
}

void applyViewVisible() {
  ControlPanel* p = controlPanelInstance;
  if (!p) return;
  if (p->viewVisible)
    p->viewWindow->show();
  else
    p->viewWindow->hide();
}

void solverSettingsCallback(int id) {
  Simulation* sim = controlInstance ? controlInstance->simulation : nullptr;
  if (!sim) return;
  auto* lin = dynamic_cast<LinSimulation*>(sim);
  SolverChoice& c = solverChoice;
  if (id == kSolverKind) {
    const std::string refusal = lin ? lin->solverRefusal(c.kind) : std::string();
    if (refusal.empty()) {
      sim->setSolver(c.kind);
    } else {
      std::cout << "[ControlPanel, solverSettingsCallback] Error: " << refusal
                << "; keeping the current solver" << std::endl;
    }
  } else if (id == kSolverParameters) {
    sim->setSolverParameters(c.accuracy, c.preSweeps, c.postSweeps);
  }
  if (lin) c.kind = lin->solverKind();
  sim->getSolverParameters(&c.accuracy, &c.preSweeps, &c.postSweeps);
}

namespace {

constexpr const char* kWriteError = "[ControlPanel, writeConfigFiles] Error: ";

// A file to be replaced by new text, and what it held before.
struct Replacement {
  Replacement(std::string path, std::string text) : path(std::move(path)), text(std::move(text)) {}
  std::string path, text, old;
  bool existed = false;
};

bool readBytes(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *bytes = s.str();
  return !in.bad();
}

// The whole text at path, or false with a partly written file removed
// (whatever stood in the way of opening it stays).
bool writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) return false;
  out << bytes;
  out.close();
  if (!out.fail()) return true;
  std::remove(path.c_str());
  return false;
}

// Writes every file beside its old one (path + ".new"), then renames each
// over the old one. A failure removes what was written and puts back what
// was renamed already, so the files are all new or all old.
bool replaceAll(std::vector<Replacement>& files) {
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string temp = files[i].path + ".new";
    if (writeBytes(temp, files[i].text)) continue;
    for (size_t j = 0; j < i; ++j) std::remove((files[j].path + ".new").c_str());
    std::cout << kWriteError << "Could not write \"" << temp << "\"; the model files are unchanged"
              << std::endl;
    return false;
  }
  for (size_t i = 0; i < files.size(); ++i) {
    if (std::rename((files[i].path + ".new").c_str(), files[i].path.c_str()) == 0) continue;
    for (size_t j = i; j < files.size(); ++j) std::remove((files[j].path + ".new").c_str());
    bool restored = true;
    for (size_t j = 0; j < i; ++j) {
      const Replacement& f = files[j];
      const std::string back = f.path + ".new";
      if (f.existed)
        restored =
            writeBytes(back, f.old) && std::rename(back.c_str(), f.path.c_str()) == 0 && restored;
      else
        restored = std::remove(f.path.c_str()) == 0 && restored;
    }
    std::cout << kWriteError << "Could not replace \"" << files[i].path << "\"; "
              << (restored ? "the model files are unchanged" : "the model files are mixed")
              << std::endl;
    return false;
  }
  return true;
}

}  // namespace

bool writeConfigFiles(bool withMaterial) {
  Run* run = currentRun;
  if (!run || !run->hierarchy || !run->settings.material) return false;
  std::cout << "Write Stiffness / Density / FixedVerts ..." << std::endl;
  const std::string& base = run->renderSettings.basePath;
  std::vector<Replacement> files;
  if (withMaterial) {
    const MaterialProperties& m = *run->settings.material;
    double material[6] = {m.lambda, m.mu, m.density, m.damping, m.friction, m.timeStep};
    // The explicit scheme runs at a fifth of the configured time step.
    if (run->simulation && run->integrationScheme == static_cast<int>(IntegrationScheme::Explizit))
      material[5] = m.timeStep / 0.2;
    const std::string path = base + ".config";
    std::string old;
    // A read that broke off would write a shortened configuration.
    if (!readBytes(path, &old)) {
      std::cout << kWriteError << "Could not read \"" << path << "\"; the model files are unchanged"
                << std::endl;
      return false;
    }
    std::istringstream config(old);
    files.emplace_back(path, Run::rewriteMaterial(config, material));
    files.back().old = std::move(old);
    files.back().existed = true;
  }
  std::ostringstream params;
  run->writeParamsValues(params);
  files.emplace_back(base + ".params", params.str());
  Replacement& p = files.back();
  p.existed = readBytes(p.path, &p.old);
  if (!replaceAll(files)) return false;

  LoadRequest reload;
  reload.name = base.substr(modelsPath.size());  // basePath is modelsPath + name
  reload.rebuildCaches = true;
  reload.elementModel = static_cast<int>(run->elementModel);
  reload.integrationScheme = run->integrationScheme;
  reload.skipPreprocess = modelChoice.skipPreprocess;
  loadModelFile(reload);
  return true;
}

void volumeParameterCallback(int) {
  if (!controlPanel) return;
  VolumeParameters& v = guiSettings.volumeParameters;
  v.flags[v.refreshOnReshape ? 0 : 1] = 1;
  sendControl(kIdVolumeRefresh);
}
