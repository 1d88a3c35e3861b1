#pragma once
// The panel master in a GLUT window: its input hooks, the redisplay and
// dispatch timer, and the drawing over the scene with the OpenGL 2 back end.
// Main thread only.

namespace panel {

// Installs the master's input hooks on the window and the renderer; the
// window's context must be current.
void attachGlut(int window);
// Frees the renderer (the window's context current); the hooks stay.
void detachGlut();

// The scene's callbacks, routed through the master; each installs the
// master's hook on the current window, as glutKeyboardFunc etc. would.
void setKeyboardFunc(void (*f)(unsigned char, int, int));
void setSpecialFunc(void (*f)(int, int, int));
void setMouseFunc(void (*f)(int, int, int, int));
void setMotionFunc(void (*f)(int, int));
void setPassiveMotionFunc(void (*f)(int, int));
void setEntryFunc(void (*f)(int));

// One panel frame drawn over the current window's back buffer; GL state
// is set as the back end expects and restored afterwards.
void drawOverlay();

}  // namespace panel
