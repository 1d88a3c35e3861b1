#pragma once
// One frame of the window: display sets up the view from the GUI settings,
// draws the current drawable through renderScene (surface with per-pixel
// light and shadow map, barrier, render surface or volume, debug overlays),
// then the translucent ground, the head-up texts, the logo, and saves
// recorded frames. Main thread only; the worker steps meanwhile, and
// nothing here reads the simulation's vectors.

class ZoltRenderable;

// The GLUT display callback; the frame callbacks call it directly too.
void display();
// Drawn over every frame just before the buffer swap, after a recorded
// frame was saved (the control panel); null: nothing.
extern void (*sceneOverlay)();
// Draws the model of the drawable; called by display.
void renderScene(ZoltRenderable* drawable);
// The drawable's surface program for the GUI's shadow and skin switches.
void buildShadowShaders(ZoltRenderable* drawable, bool textured);
