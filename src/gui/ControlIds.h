#pragma once
// The ids of controlCallback. Ids 1-13 act on the window and the frame loop
// (ControlDispatch.cpp), ids 101-134 on the loaded model
// (ZoltControl::handleControl). The panel, the keys, the mouse and the
// colour picker send them; the values are fixed.

enum ControlId : int {
  // Window and frame loop.
  kIdQuit = 1,
  kIdPause = 2,       // paused: stop, else restart the timer loop
  kIdSingleStep = 3,  // one step while paused
  kIdZoomIn = 4,
  kIdZoomOut = 5,
  kIdRedisplay = 6,     // redraw while paused
  kIdProjection = 7,    // the projection changed
  kIdFullScreen = 8,    // by fullScreen
  kIdRecordFrames = 9,  // 720 x 576 by recordFrames
  kIdMaxFps = 10,       // idle or timer frames by maxFps
  kIdNone = 11,         // does nothing
  kIdViewReset = 12,
  kIdRebuildPanel = 13,

  // The loaded model.
  kIdFirstModelAction = 101,
  kIdForces = 101,        // queue or purge the configured forces
  kIdGravity = 102,       // by gravityOn
  kIdForceNorm = 103,     // forceNorm = forceValue
  kIdDeformations = 104,  // queue the deformation targets
  kIdReset = 105,         // simulation back to rest
  kIdFreezeForces = 106,
  kIdSurfaceChanged = 107,  // render surface with or without fur
  kIdVolumeRefresh = 108,
  kIdForceField = 109,  // by deformationForceOn
  kIdVolumeModeA = 110,
  kIdVolumeModeB = 111,
  kIdColourByRightSide = 112,
  kIdColourByStress = 113,
  kIdVolumeDefaults = 114,
  kIdRenderVolume = 115,
  kIdRenderSurface = 116,
  kIdRecordSequence = 117,
  kIdReplaySequence = 118,
  kIdBrighter = 119,
  kIdDarker = 120,
  kIdColourByResidual = 121,  // the colouring rules alone
  kIdObjectColour = 122,      // 122-125: colour picker on a render colour
  kIdSpecularColour = 123,
  kIdBackColour = 124,
  kIdAccentColour = 125,
  kIdColoursChanged = 126,  // from the colour picker
  kIdShadow = 127,
  kIdTexturing = 128,
  kIdRedraw = 129,
  kIdPixelLighting = 130,
  kIdRecordPath = 131,
  kIdReplayPath = 132,
  kIdSkinShading = 133,
  kIdSolverBenchmark = 134,
  kIdLastModelAction = 134,
};
