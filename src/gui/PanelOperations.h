#pragma once
// Panel operations that no control of the panel is built for: they reach the
// panel through controlPanelInstance and the model through currentRun and
// controlInstance.

// Hides the panel; nothing without one.
void hideControlPanel();
// Shows or hides the view window by the panel's viewVisible flag.
void applyViewVisible();

// The solver the solver-settings callback passes on, and the parameters it
// reads back.
struct SolverChoice {
  int kind = 0;  // 0 V-cycle, 1 diagonal CG, 2 dense inverse, 3 multigrid CG
  float accuracy = 1e-4f;
  int preSweeps = 1;
  int postSweeps = 1;
};
extern SolverChoice solverChoice;

// Ids of solverSettingsCallback.
enum SolverSettingsId : int { kSolverKind = 0, kSolverParameters = 1, kSolverRead = 2 };

// kSolverKind switches the current simulation to solverChoice.kind,
// kSolverParameters passes the accuracy and sweep counts; both, and
// kSolverRead, then read the kind and parameters back into solverChoice.
// A kind the simulation cannot take (outside 0 .. 3, a dense inverse that
// does not fit in memory) is refused with one message and the current
// solver kept. Nothing without a simulation.
void solverSettingsCallback(int id);

// Prints "Write Stiffness / Density / FixedVerts ...", writes the current
// model's ".params" (per-element stiffness and density, fixed vertices)
// and, withMaterial, the MATERIAL entry of its ".config", then reloads the
// model with rebuilt caches (they hold the old values). Each file is
// written beside the old one and renamed over it when complete; on a
// failure one line names the file, the old files stay as they were, the
// model is not reloaded and the result is false.
bool writeConfigFiles(bool withMaterial = true);

// With a panel: sets the first flag byte of the volume parameters when
// refreshOnReshape is set, else the second, and sends id 108.
void volumeParameterCallback(int id);
