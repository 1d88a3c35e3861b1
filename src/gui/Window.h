#pragma once
// The one GLUT window and its frame loop: one frame updates the control
// object and the drawable on the main thread, releases the worker for one
// time step, draws while the worker computes and waits for it. Frames are
// paced by a GLUT timer to the model's steps per second; a loop that cannot
// keep up switches to free-running idle frames. The title shows the frame
// rate and the control object's status.

#include <cstddef>

#include "StatusText.h"

class ZoltControl;
class ZoltRenderable;

// The loaded model's control object and drawable, owned by its Run; null
// while no model is loaded.
extern ZoltControl* currentControl;
extern ZoltRenderable* currentDrawable;

// The base title (no frame rate) and the status line the control object
// writes each frame.
constexpr std::size_t kBaseTitleSize = 144;
extern char baseTitle[kBaseTitleSize];
extern char statusText[kStatusSize];

// The models directory and the list suffix, kept for the model list.
extern const char* modelsDirectory;
extern const char* modelListSuffix;

// Opens the window (size by screen size, centred), checks for GLEW and
// OpenGL 2.0 (exit -1 with a message on standard error when missing),
// registers the callbacks, starts the worker thread and the GUI.
void initOpenGL(int argc, char** argv, const char* modelsDir, const char* suffix);

// Installs a model's objects and starts the paced loop at targetFps (at
// least 1) frames per second.
void startLoop(ZoltControl* control, ZoltRenderable* drawable, int targetFps);

// GLUT callbacks of the two loops: a timer frame with its index in the
// chain, and a free-running frame.
void timerFrame(int value);
void idleFrame();

// Frames back to back on this thread, without the worker and without
// pacing: step, frame update, title, drawing, then the window's events.
// Never returns; nothing in the program calls it.
void runFramesWithoutWorker();

void startFpsCounter();
// Counts a frame; once a second writes "<title> @ <fps> fps -- <status>".
void updateFpsTitle(const char* title, const char* status);
// Title, then the drawing at once (direct) or by a posted redisplay.
void redisplay(bool direct);

// Pause, resume and the max-fps switch.
void startTimerLoop();
void startIdleLoop();
void stopAnimation();
// One step and frame update on the main thread (while paused).
void singleStep();

// Full screen, or the given size when either argument is non-zero; the
// placement before it is kept for leaveFullscreen.
void enterFullscreen(int width, int height);
void leaveFullscreen();
void reshapeCallback(int w, int h);

// At exit: the worker ends after its step, then the model, the GUI and the
// ground textures go.
void shutdownGL();
void createGui(int window);
void destroyGui();
int getMainWindowId();
// glGetError with the main window current.
unsigned clearGlError();

// Ends the frame loop of a model that goes: no pacing clock and no current
// objects, stale timer callbacks dropped, idle frames off, the base title.
void stopFrameLoop();
