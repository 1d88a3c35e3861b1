#pragma once
// The interactive side of one loaded model: keeps the model's hierarchy,
// simulation and settings, steps the simulation on the worker thread, writes
// the one-line status, owns the collision offsets that the barrier fills and
// the drawable reads, and resets the GUI settings when a model is loaded.
// One exists per loaded model; the constructor makes it the current one.
//
// update and updateRenderData run on the main thread before the worker is
// released; step runs on the worker; so no field is touched by both at once.

#include <cstdint>
#include <fstream>
#include <vector>

#include "ControlIds.h"
#include "RecordingFiles.h"
#include "RenderLinks.h"

class TetHierarchy;
class Simulation;
struct SimulationSettings;
struct RenderSettings;
class FiniteElement;
struct Vertex;
class ZoltControl;

// The control panel as the control object uses it; the panel implements it.
class PanelLink {
 public:
  virtual ~PanelLink() = default;
  virtual void setControl(ZoltControl* control) = 0;
  virtual void show() = 0;
  virtual void hide() = 0;
  virtual bool hasOwnWindow() const = 0;
  // Re-reads the view window's live variables after the view changed.
  virtual void syncLive() = 0;
  // Re-reads every live variable and the enable rules after an action.
  virtual void updateControls() = 0;
  // Keys u and v: the panel, and its view window, shown or hidden.
  virtual void togglePanel() = 0;
  virtual void toggleView() = 0;
  // Builds the panel's windows again with its start options and the
  // current panelSeparateWindow.
  virtual void rebuild() = 0;
};

// The panel, or null while none exists.
extern PanelLink* controlPanel;

class ZoltControl : public DrawableSource {
 public:
  TetHierarchy* hierarchy;         // not owned
  Simulation* simulation;          // not owned; null: nothing is stepped
  SimulationSettings* settings;    // not owned
  RenderSettings* renderSettings;  // not owned
  // 3 floats per finest-level vertex (by vertex index): zeroed every frame,
  // filled by the barrier, read by the drawable.
  std::vector<float> collisionOffsets;
  std::fstream sequenceStream;          // ".sequence" displacement frames
  std::fstream pathStream;              // ".path" interaction records
  FiniteElement* tipElement = nullptr;  // element under the pointer at drag start
  double viewAxis[3] = {0, 0, 0};
  float dragView[16] = {};
  int dragStartX = 0, dragStartY = 0;
  float dragScale = 0.0f;  // mean finest-level element volume
  bool dragPending = false;
  int pendingX = 0, pendingY = 0;
  int modifiers = 0;
  bool pickBusy = false;
  // The current ".path" record; its drag fields come from the mouse code
  // (PathRecord::setDrag, pull, squeeze) and its event bytes from ids 105
  // and 106 while recordEvents is set.
  PathRecord pathRecord;
  // Set by step on the worker when a ".sequence" replay finds no frame; the
  // next update ends the replay on the main thread.
  bool replayEnded = false;
  // The one console line about a state that stopped being finite is out.
  bool nonFiniteReported = false;
  RenderPositionSource* drawable = nullptr;  // not owned; its arrays are the render data

  // Resets the GUI settings for this model (see resetGuiForNewModel) and
  // sets the model's switches. None of the pointers is owned; simulation
  // may be null.
  ZoltControl(TetHierarchy* hierarchy, Simulation* simulation, SimulationSettings* settings,
              RenderSettings* renderSettings);
  virtual ~ZoltControl();
  ZoltControl(const ZoltControl&) = delete;
  ZoltControl& operator=(const ZoltControl&) = delete;

  // Takes the drawable (may be null) and gives the barrier its positions
  // and vertex indices as collision data.
  void setRenderData(RenderPositionSource* drawable);
  Simulation* drawnSimulation() override { return simulation; }
  float* collisionOffsetData() override { return collisionOffsets.data(); }
  // Per frame: the end of a ".sequence" replay, view rotation, the ".path"
  // frame, a reset of a state that stopped being finite (said once on the
  // console, so that no such body is drawn), and the status text
  // (kStatusSize bytes).
  void update(char* status);
  // Per frame: zeroes the collision offsets, moves the barrier and lets it
  // test the drawable's positions.
  void updateRenderData();
  // One time step on the worker thread, or one replayed frame. Touches
  // neither the barrier nor the GUI settings: those may be drawn meanwhile.
  void step();

  // The pull force of one step from the pending pointer position.
  void zoltReact(int x, int y);
  // Records or replays one ".path" record.
  void updatePath();
  // Doubles in one ".sequence" frame: dim per free finest-level vertex, at
  // most the displacement vector's length; 0 without a simulation.
  int sequenceFrameLength() const;
  // Model actions, ids 101-134; other ids do nothing.
  void handleControl(int id);
  // Mouse: left button pressed, moved and released (ZoltControlMouse.cpp).
  void initDragging(int x, int y);
  void dragByMouseMode(int x, int y);
  void endDragging(int x, int y);
  // Drag view and view axis from the GUI view.
  void captureView();
  // The press of a squeeze on tipElement: the configured forces again when
  // they are on, and the view axis pressing on the element's vertices.
  void pressSqueeze();
  // The squeeze of mouse mode 0 at pointer (x, y).
  void squeeze(int x, int y);
  // Its release: the press ramps down, the force norm is the panel's
  // again, and the configured forces are held again when they are on.
  void releaseSqueeze();
  // Selection picks against the drag view (ZoltControlPick.cpp): the
  // element face or vertex under (x, y), null when none; every vertex in
  // the w x h rectangle around (cx, cy).
  FiniteElement* pickElement(int x, int y);
  Vertex* pickNode(int x, int y);
  std::vector<Vertex*> pickNodesInRect(int cx, int cy, int w, int h);
  // Ray picks through the point under (x, y): every element hit; the
  // nearest ones, at most once a frame.
  std::vector<FiniteElement*> findElementAt(int x, int y);
  void beginPick(int x, int y);
  // Mode 5 release: a click toggles the vertex under the pointer, a
  // rectangle sets every free vertex in it by majority.
  void mouseButton(int cx, int cy, int w, int h);

  // Ids 117, 118, 131 and 132: start recording or replaying the ".sequence"
  // or ".path" file.
  void startRecording(int id);

 private:
  // Main thread: the replay's flags, its loop and the reset.
  void endReplay();
  void resetIfNotFinite();
};

// Opens the colour picker centred on (x, y) on a colour it edits in place;
// null while the program has no picker (ids 122-125 then do nothing).
extern void (*openColourPicker)(int x, int y, float* colour);
// Opens it at the centre of the main window, as ids 122-125 do.
void openColourPickerAtCentre(float* colour);

// Every user action ends here: ids below 14 are window and loop actions,
// the others go to the current control object.
void controlCallback(int id);

// The current control object; null while none exists.
extern ZoltControl* controlInstance;

// GLUT mouse callbacks; only with a current control object.
void mouseCallback(int button, int state, int x, int y);
void motionCallback(int x, int y);
// The pick projection: the w x h pixel region around (x, y) of the scene's
// projection; leaves the model-view matrix current.
void setPickProjection(int x, int y, int w, int h);
