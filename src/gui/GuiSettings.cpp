#include "GuiSettings.h"

#include <cstring>

namespace {

// Word k of the block starts at byte 4 k.
#define GUI_WORD(field, k) \
  static_assert(offsetof(GuiSettings, field) == 4 * (k), #field " is not word " #k)

GUI_WORD(perspectiveProjection, 0);
GUI_WORD(showAxes, 1);
GUI_WORD(lightingOn, 2);
GUI_WORD(fullScreen, 3);
GUI_WORD(renderMode, 4);
GUI_WORD(autoRotate, 5);
GUI_WORD(clipPlaneOn, 6);
GUI_WORD(clipPicking, 7);
GUI_WORD(showGround, 8);
GUI_WORD(clipPlaneEquation, 9);
GUI_WORD(groundOrientation, 17);
GUI_WORD(displayWord18, 18);
GUI_WORD(showPointerSprite, 19);
GUI_WORD(paused, 20);
GUI_WORD(maxFps, 21);
GUI_WORD(recordFrames, 22);
GUI_WORD(saveFrames, 23);
GUI_WORD(useWorkerThread, 24);
GUI_WORD(panelAutoHide, 25);
GUI_WORD(panelSeparateWindow, 26);
GUI_WORD(groundTexture, 27);
GUI_WORD(viewRotation, 28);
GUI_WORD(shiftX, 44);
GUI_WORD(shiftY, 45);
GUI_WORD(zoom, 46);
GUI_WORD(lightPosition, 47);
GUI_WORD(frameLightPosition, 51);
GUI_WORD(word54, 54);
GUI_WORD(pointerX, 55);
GUI_WORD(pointerY, 56);
GUI_WORD(word57, 57);
GUI_WORD(word58, 58);
GUI_WORD(windowWidth, 59);
GUI_WORD(windowHeight, 60);
GUI_WORD(selectingRectangle, 61);
GUI_WORD(projectionChanged, 62);
GUI_WORD(forceValue, 63);
GUI_WORD(baseForceValue, 64);
GUI_WORD(forcesOn, 65);
GUI_WORD(gravityOn, 66);
GUI_WORD(deformationForceOn, 67);
GUI_WORD(surfaceOnly, 68);
GUI_WORD(texturing, 69);
GUI_WORD(threeDimensional, 70);
GUI_WORD(colourByRightSide, 71);
GUI_WORD(computeStress, 72);
GUI_WORD(computeResidual, 73);
GUI_WORD(showDisplacementLines, 74);
GUI_WORD(showBoundingBox, 75);
GUI_WORD(showVertices, 76);
GUI_WORD(drawSimulationMesh, 77);
GUI_WORD(showPartitions, 78);
GUI_WORD(renderSurfaceOn, 79);
GUI_WORD(renderVolumeOn, 80);
GUI_WORD(sceneWord81, 81);
GUI_WORD(pixelLighting, 82);
GUI_WORD(nonTetrahedralElements, 83);
GUI_WORD(mouseMode, 84);
GUI_WORD(furOn, 85);
GUI_WORD(sceneWord86, 86);
GUI_WORD(sceneWord87, 87);
GUI_WORD(volumeParameters, 88);
GUI_WORD(volumeModeA, 98);
GUI_WORD(volumeModeB, 99);
GUI_WORD(recordDisplacements, 100);
GUI_WORD(replayDisplacements, 101);
GUI_WORD(loopReplay, 102);
GUI_WORD(recordEvents, 103);
GUI_WORD(replayEvents, 104);
GUI_WORD(loopEventReplay, 105);
GUI_WORD(extraPassesOn, 106);
GUI_WORD(extraPassCount, 107);
GUI_WORD(averageForces, 108);
GUI_WORD(shadowOn, 109);
GUI_WORD(lightFixedToModel, 110);
GUI_WORD(skinShading, 111);
GUI_WORD(furCommand, 112);
GUI_WORD(volumeChanged, kGuiWordCount);
#undef GUI_WORD

static_assert(offsetof(GuiSettings, modelLoaded) == 4 * 62 + 1, "modelLoaded is byte 1 of word 62");
static_assert(sizeof(VolumeParameters) == 40, "the volume record is ten words");
static_assert(offsetof(VolumeParameters, colourSource) == 4 * 7, "colour source is word 7");
static_assert(offsetof(VolumeParameters, flags) == 4 * 8, "the flag bytes are word 8");
static_assert(offsetof(GuiSettings, simulationReset) == 4 * kGuiWordCount + 5,
              "six change bytes follow the words");
static_assert(offsetof(GuiSettings, rotateDrag) == 4 * kGuiWordCount + 6,
              "the mouse bytes follow the change bytes");

}  // namespace

GuiSettings guiSettings;

void initGuiDefaults() { guiSettings = GuiSettings(); }

void resetGuiForNewModel(GuiSettings& g) {
  const GuiSettings kept = g;
  g = GuiSettings();
  g.fullScreen = kept.fullScreen;
  g.panelSeparateWindow = kept.panelSeparateWindow;
  g.windowWidth = kept.windowWidth;
  g.windowHeight = kept.windowHeight;
  std::memcpy(g.frameLightPosition, kept.frameLightPosition, sizeof g.frameLightPosition);
  g.word54 = kept.word54;
  g.panelAutoHide = 0;
  g.lastMouseX = kept.lastMouseX;
  g.lastMouseY = kept.lastMouseY;
}
