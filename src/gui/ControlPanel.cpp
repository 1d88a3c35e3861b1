#include "ControlPanel.h"

#include <cmath>

#include "ColorPicker.h"
#include "GuiSettings.h"
#include "ModelLoading.h"
#include "PanelOperations.h"
#include "RenderSettings.h"
#include "Window.h"

ControlPanel* controlPanelInstance = nullptr;

namespace {

constexpr int kGlutLeft = 0, kGlutEntered = 1;  // GLUT's entry states

float shiftSpeed(float zoom) { return zoom * -0.003f; }
float zoomSpeed(float zoom) { return std::sqrt(std::fabs(zoom)) * 0.02f; }

}  // namespace

ControlPanel::ControlPanel(ZoltControl* control, int mainWindow, int elementModel, int scheme,
                           int listIndex, bool skipPreprocess, bool separateWindow)
    : mainWindow(mainWindow), separateWindow_(separateWindow) {
  modelChoice.elementModel = elementModel;
  modelChoice.scheme = scheme;
  modelChoice.listIndex = listIndex;
  modelChoice.skipPreprocess = skipPreprocess;
  controlPanelInstance = this;

  GuiSettings& g = guiSettings;
  viewWindow = std::make_unique<panel::Window>("View", panel::Window::Placement::LowerLeft);
  viewWindow->add<panel::StaticText>("View [V]")->setWidth(50.0f);
  viewWindow->add<panel::Column>();
  viewWindow->add<panel::Rotation>("Rotation", g.viewRotation);
  viewWindow->add<panel::Column>();
  shiftControl = viewWindow->add<panel::Translation>("Shift", panel::Translation::Type::XY,
                                                     &g.shiftX, kViewShift, viewCallback);
  viewWindow->add<panel::Column>();
  zoomControl = viewWindow->add<panel::Translation>("Zoom", panel::Translation::Type::Z, &g.zoom,
                                                    kViewZoom, viewCallback);
  viewWindow->add<panel::Column>();
  viewWindow->add<panel::Button>("Reset", kViewReset, viewCallback)->setWidth(50.0f);
  shiftControl->setSpeed(shiftSpeed(g.zoom));
  zoomControl->setSpeed(zoomSpeed(g.zoom));
  viewVisible = false;
  viewWindow->hide();

  readModelList(modelsDirectory, modelListSuffix);
  visible = true;
  this->control = control;
  buildWindow();
}

void ControlPanel::rebuild() {
  panel->close();
  separateWindow_ = guiSettings.panelSeparateWindow != 0;
  buildWindow();
}

void ControlPanel::buildWindow() {
  panel = std::make_unique<panel::Window>("Control", separateWindow_
                                                         ? panel::Window::Placement::Floating
                                                         : panel::Window::Placement::TopStrip);
  buildControls();
  setControl(control);
}

ControlPanel::~ControlPanel() {
  if (controlPanelInstance == this) controlPanelInstance = nullptr;
  panel->close();
  viewWindow->close();
  modelChoice.models.clear();
}

void ControlPanel::buildControls() {
  using namespace panel;
  GuiSettings& g = guiSettings;
  Window& p = *panel;
  auto* list = p.add<Listbox>("Model", &modelChoice.listIndex, 0, modelListCallback);
  list->setWidth(100.0f);
  list->addItem(0, "");
  for (size_t i = 0; i < modelChoice.models.size(); ++i)
    list->addItem(static_cast<int>(i) + 1, modelChoice.models[i]);
  p.add<Button>("Reload", 0, modelListCallback);
  p.add<Button>("Quit [Q]", kIdQuit, controlCallback);

  rollouts[MouseMode] = p.add<Rollout>("MouseMode [M]");
  auto* mode = rollouts[MouseMode]->add<RadioGroup>(&g.mouseMode);
  // Every mode the key m reaches, so the group always shows the current one.
  for (const char* m : {"Squeezing Model", "Pulling Model", "Point Picking"}) mode->addButton(m);
  p.add<Column>();
  p.add<Column>();

  Rollout* sim = rollouts[Simulation] = p.add<Rollout>("Simulation");
  sim->add<Checkbox>("Max FPS [F8]", &g.maxFps, kIdMaxFps, controlCallback);
  sim->add<Separator>();
  sim->add<Checkbox>("Pause [P]", &g.paused, kIdPause, controlCallback);
  singleStepButton = sim->add<Button>("Single Step [Space]", kIdSingleStep, controlCallback);
  singleStepButton->disable();

  Rollout* def = rollouts[Deformation] = p.add<Rollout>("Deformation");
  def->add<Checkbox>("Gravity [G]", &g.gravityOn, kIdGravity, controlCallback);
  def->add<Button>("Reset [R]", kIdReset, controlCallback);
  p.add<Column>();

  Rollout* surf = rollouts[RenderSurfVol] = p.add<Rollout>("RenderSurf/Vol ");
  renderSurfaceBox =
      surf->add<Checkbox>("RenderSurface", &g.renderSurfaceOn, kIdRenderSurface, controlCallback);
  furPanel = surf->add<Panel>();
  furPanel->add<Checkbox>("Fur", &g.furOn, kIdSurfaceChanged, controlCallback);
  p.add<Column>();

  Rollout* opts = rollouts[RenderingOptions] = p.add<Rollout>("Rendering Options");
  renderModeGroup = opts->add<RadioGroup>(&g.renderMode, kIdRedisplay, controlCallback);
  for (const char* m :
       {"Wireframe [F1]", "Front-Filled [F2]", "Back-Filled [F3]", "Front and Back"})
    renderModeGroup->addButton(m);
  opts->add<Separator>();
  opts->add<Checkbox>("PixelLighting [L]", &g.pixelLighting, kIdPixelLighting, controlCallback);
  opts->add<Checkbox>("Texturing [T]", &g.texturing, kIdTexturing, controlCallback);
  opts->add<Checkbox>("Shadow [s]", &g.shadowOn, kIdShadow, controlCallback);
  opts->add<Separator>();

  Rollout* colour = rollouts[Color] = p.add<Rollout>("Color");
  const struct {
    const char* label;
    int id;
  } buttons[] = {{"Increase Brightness", kIdBrighter}, {"Decrease Brightness", kIdDarker},
                 {"Object Color", kIdObjectColour},    {"Specular Color", kIdSpecularColour},
                 {"Back Color", kIdBackColour},        {"Accentuation Color", kIdAccentColour}};
  for (int i = 0; i < 6; ++i) {
    Button* b = colour->add<Button>(buttons[i].label, buttons[i].id, controlCallback);
    if (i < 3) colourButtons[i] = b;
  }
  p.add<Column>();
}

void ControlPanel::setControl(ZoltControl* c) {
  control = c;
  if (c) {
    for (RolloutIndex r : {RenderingOptions, RenderSurfVol, Color}) rollouts[r]->enable();
    for (RolloutIndex r : {Simulation, Deformation, MouseMode}) {
      if (modelChoice.skipPreprocess)
        rollouts[r]->disable();
      else
        rollouts[r]->enable();
    }
    viewVisible = true;
    viewWindow->show();
    const RenderSettings* rs = c->renderSettings;
    if (rs->surfacePath.empty() && rs->surfaces.empty()) {
      renderSurfaceBox->disable();
      furPanel->disable();
    } else {
      renderSurfaceBox->enable();
      furPanel->enable();
    }
  } else {
    for (panel::Rollout* r : rollouts) r->disable();
    viewVisible = false;
    viewWindow->hide();
  }
  updateControls();
}

void ControlPanel::updateControls() {
  viewWindow->syncLive();
  panel->syncLive();
  if (guiSettings.paused)
    singleStepButton->enable();
  else
    singleStepButton->disable();
  for (panel::Button* b : colourButtons) {
    if (guiSettings.texturing == 0)
      b->enable();
    else
      b->disable();
  }
}

void ControlPanel::show() {
  syncLive();
  panel->show();
  visible = true;
}

void ControlPanel::hide() {
  panel->hide();
  visible = false;
}

void ControlPanel::syncLive() { viewWindow->syncLive(); }

void ControlPanel::togglePanel() {
  if (visible)
    hide();
  else
    show();
}

void ControlPanel::toggleView() {
  viewVisible = !viewVisible;
  if (viewVisible)
    viewWindow->show();
  else
    viewWindow->hide();
}

void ControlPanel::reshape(int, int) {
  // Both windows take their place from the display size every frame.
  panel->syncLive();
  if (guiSettings.volumeParameters.refreshOnReshape) volumeParameterCallback(0);
}

void viewCallback(int id) {
  ControlPanel* p = controlPanelInstance;
  if (!p) return;
  const float zoom = guiSettings.zoom;
  switch (id) {
    case kViewShift:
      p->shiftControl->setSpeed(shiftSpeed(zoom));
      break;
    case kViewZoom:
      p->zoomControl->setSpeed(zoomSpeed(zoom));
      break;
    case kViewReset:
      controlCallback(kIdViewReset);
      p->syncLive();
      break;
  }
}

void passiveMotionCallback(int x, int y) {
  GuiSettings& g = guiSettings;
  if (!g.replayEvents) {
    g.pointerX = x;
    g.pointerY = y;
  }
  ControlPanel* p = controlPanelInstance;
  if (!g.panelAutoHide || !p || x < 5 || x > g.windowWidth - 5 || ColorPicker::isActive()) return;
  if (p->visible) {
    if (y >= g.windowHeight - 5) p->hide();
  } else if (y < 6) {
    p->show();
  }
}

void entryCallback(int state) {
  const GuiSettings& g = guiSettings;
  ControlPanel* p = controlPanelInstance;
  if (!g.panelAutoHide || !p || ColorPicker::isActive()) return;
  if (state == kGlutEntered && p->visible)
    p->hide();
  else if (state == kGlutLeft && !p->visible && g.pointerX >= 5 &&
           g.pointerX <= g.windowWidth - 5 && g.pointerY < 51)
    p->show();
}
