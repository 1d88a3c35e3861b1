#pragma once
// The control panel of the main window: the model list, the quit button and
// rollouts of check boxes, buttons and radio groups bound to GuiSettings
// words, plus a view window (rotation ball, shift and zoom) at the lower
// left. Every control reports to controlCallback with its id, so the panel,
// the keys and the mouse share one set of actions. Hidden while a model is
// loaded (key u shows it), shown when none is.
//
// The start options of a load (list index, element model, scheme, skipped
// preprocessing, cache rebuild) and the model list are kept in modelChoice.

#include <memory>

#include "PanelWindow.h"
#include "ZoltControl.h"

class ControlPanel : public PanelLink {
 public:
  enum RolloutIndex { Simulation, Deformation, MouseMode, RenderingOptions, RenderSurfVol, Color };

  ZoltControl* control = nullptr;  // not owned; null while no model is loaded
  int mainWindow;
  bool visible = true;
  std::unique_ptr<panel::Window> panel;       // top strip, or a "Control" window
  panel::Rollout* rollouts[6] = {};           // by RolloutIndex
  panel::Panel* furPanel = nullptr;           // holds "Fur"
  panel::Button* singleStepButton = nullptr;  // enabled only while paused
  panel::RadioGroup* renderModeGroup = nullptr;
  panel::Checkbox* renderSurfaceBox = nullptr;
  panel::Translation* shiftControl = nullptr;
  panel::Translation* zoomControl = nullptr;
  panel::Button* colourButtons[3] = {};  // disabled while texturing is on
  std::unique_ptr<panel::Window> viewWindow;
  bool viewVisible = false;

  // Reads the model list, builds the controls, then setControl(control).
  ControlPanel(ZoltControl* control, int mainWindow, int elementModel, int scheme, int listIndex,
               bool skipPreprocess, bool separateWindow);
  ~ControlPanel() override;

  void buildControls();
  // Enables the rollouts for a loaded model, or disables them for none.
  void setControl(ZoltControl* control) override;
  // Single Step while paused, the colour buttons while texturing is off.
  void updateControls() override;
  void show() override;
  void hide() override;
  bool hasOwnWindow() const override { return separateWindow_; }
  void syncLive() override;
  void togglePanel() override;
  void toggleView() override;
  // Builds the panel window again (id 13), separate when panelSeparateWindow
  // is set.
  void rebuild() override;
  bool isVisible() const { return visible; }
  // Follows a main-window reshape.
  void reshape(int w, int h);

 private:
  // The panel window with its controls, for the current control.
  void buildWindow();
  bool separateWindow_;
};

// The panel createGui made; null while none exists.
extern ControlPanel* controlPanelInstance;

// The view window's ids.
enum ViewId : int { kViewShift = 1, kViewZoom = 2, kViewReset = 3 };

// The view window's callback: shift and zoom changed (the drag speeds
// follow the zoom), view reset.
void viewCallback(int id);

// Shows and hides the panel by the pointer position while panelAutoHide is
// set; the passive motion also keeps the pointer position.
void passiveMotionCallback(int x, int y);
void entryCallback(int state);
