#pragma once
// How the window reaches the loaded model's control object, its drawable and
// the scene: the one place the frame loop calls into them.

#include "Run.h"

// Control object, drawable and frame loop for startSimulation.
FrontEnd modelFrontEnd();

// Frame steps on the main thread before the step: the control object's
// update (view, status line), the drawable's update, the render data.
void updateModelFrame(ZoltControl* control, ZoltRenderable* drawable, char* status);
// One time step of the control object (worker thread, or inline).
void stepModel(ZoltControl* control);

// The scene pass of the display callback.
void drawScene();

// Keyboard, special keys and mouse.
void registerInputCallbacks();
