#pragma once
// The one block of GUI state: render switches, view, light, mouse mode,
// force values and the one-shot change bytes that carry requests from the
// control actions to the renderer. The panel binds its controls to these
// words as live variables; the drawing code may reach word k through a
// pointer to the first word, so the layout is fixed: 113 words of four bytes
// (ints unless stated), then the six change bytes, then the mouse state.
//
// Packed to four bytes: the four doubles of the clip plane start at word 9.

#include <cstddef>
#include <cstdint>

#pragma pack(push, 4)

// The volume rendering parameter record (words 88-97).
struct VolumeParameters {
  float scale = 0.5f;
  int32_t values[6] = {0, 1, 1, 1, 100, 0};
  int32_t colourSource = 0;  // 1 while a magnitude colouring is on
  uint8_t flags[2] = {0, 0};
  uint8_t unused[2] = {0, 0};
  int32_t refreshOnReshape = 0;
};

struct GuiSettings {
  int32_t perspectiveProjection = 1;  // 0: orthographic of size zoom
  int32_t showAxes = 0;
  int32_t lightingOn = 1;
  int32_t fullScreen = 0;
  int32_t renderMode = 1;  // 0 wire, 1 front filled, 2 back filled, 3 both
  int32_t autoRotate = 0;
  int32_t clipPlaneOn = 0;
  int32_t clipPicking = 0;
  int32_t showGround = 0;
  double clipPlaneEquation[4] = {0.0, 0.0, -1.0, 0.0};
  uint8_t groundOrientation = 0;
  uint8_t unused17[3] = {0, 0, 0};
  int32_t displayWord18 = 0;
  int32_t showPointerSprite = 1;
  int32_t paused = 0;
  int32_t maxFps = 0;
  int32_t recordFrames = 0;
  int32_t saveFrames = 0;
  int32_t useWorkerThread = 0;
  int32_t panelAutoHide = 1;
  int32_t panelSeparateWindow = 0;
  int32_t groundTexture = 1;
  float viewRotation[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};  // column-major
  float shiftX = 0.0f;
  float shiftY = 0.0f;
  float zoom = -5.0f;  // z translation of the view, and the orthographic size
  float lightPosition[4] = {0.0f, 5.0f, 1.0f, 1.0f};
  float frameLightPosition[3] = {0.0f, 0.0f, 0.0f};  // set by the scene pass
  int32_t word54 = 0;
  int32_t pointerX = 0;  // window pixels, y downward
  int32_t pointerY = 0;
  int32_t word57 = 0;
  int32_t word58 = 0;
  int32_t windowWidth = 1024;
  int32_t windowHeight = 768;
  int32_t selectingRectangle = 0;
  uint8_t projectionChanged = 0;
  uint8_t modelLoaded = 0;
  uint8_t unused62[2] = {0, 0};
  float forceValue = 1000.0f;
  float baseForceValue = 1000.0f;  // magnitude of full accent colour
  int32_t forcesOn = 0;
  int32_t gravityOn = 0;
  int32_t deformationForceOn = 0;
  int32_t surfaceOnly = 0;
  int32_t texturing = 0;
  int32_t threeDimensional = 1;
  int32_t colourByRightSide = 0;
  int32_t computeStress = 0;
  int32_t computeResidual = 0;
  int32_t showDisplacementLines = 0;
  int32_t showBoundingBox = 0;
  int32_t showVertices = 0;
  int32_t drawSimulationMesh = 1;
  int32_t showPartitions = 0;
  int32_t renderSurfaceOn = 0;
  int32_t renderVolumeOn = 0;
  int32_t sceneWord81 = 2;
  int32_t pixelLighting = 0;
  int32_t nonTetrahedralElements = 0;
  int32_t mouseMode = 1;  // 0 squeezing, 1 pulling, 2 point pick, 3-5 painting and selection
  int32_t furOn = 0;
  int32_t sceneWord86 = 1;
  float sceneWord87 = 0.5f;
  VolumeParameters volumeParameters;
  int32_t volumeModeA = 0;
  int32_t volumeModeB = 0;
  int32_t recordDisplacements = 0;
  int32_t replayDisplacements = 0;
  int32_t loopReplay = 0;
  int32_t recordEvents = 0;
  int32_t replayEvents = 0;
  int32_t loopEventReplay = 0;
  int32_t extraPassesOn = 0;
  int32_t extraPassCount = 1;
  int32_t averageForces = 0;
  int32_t shadowOn = 0;
  int32_t lightFixedToModel = 0;
  int32_t skinShading = 0;
  int32_t furCommand = 0;  // pending fur command, 0 = none

  // Change bytes: set by the control actions, served and cleared by the
  // drawable's update or the scene pass.
  uint8_t volumeChanged = 0;
  uint8_t coloursChanged = 0;
  uint8_t surfaceChanged = 0;
  uint8_t volumeParametersChanged = 0;
  uint8_t classificationChanged = 0;
  uint8_t simulationReset = 0;

  // Mouse state, after the block.
  uint8_t rotateDrag = 0;
  uint8_t zoomDrag = 0;
  uint8_t shiftDrag = 0;
  uint8_t leftDrag = 0;
  int32_t lastMouseX = 0;
  int32_t lastMouseY = 0;
};

#pragma pack(pop)

// Number of four-byte words of the block; the change bytes follow them.
constexpr int kGuiWordCount = 113;

// The process's one block.
extern GuiSettings guiSettings;

// Sets every word, change byte and mouse byte of guiSettings to its default
// (process start).
void initGuiDefaults();

// The reset of a model load: every word back to its default except the
// window size, the full-screen and separate-panel switches and words 51-54
// (the frame light position and the word after it); panelAutoHide = 0 and
// the mouse-state bytes cleared; the last mouse position is kept.
void resetGuiForNewModel(GuiSettings& g);
