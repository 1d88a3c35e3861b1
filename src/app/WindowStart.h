#pragma once
// The windowed start of the program: window, worker and GUI, the first
// model, then GLUT's main loop.

// initOpenGL with the models directory and the ".config" suffix.
void initGraphicsForward(int argc, char** argv);

// The program after "Start Simulation": opens the window, loads the model
// "bunnyFurTex" and enters the main loop; the program ends through exit.
int runWindowed(int argc, char** argv);

// Windowed start with a given model; nothing in the program calls it.
void startWithModel(const char* modelName, bool rebuildCaches, int elementModel, int scheme,
                    int skipPreprocess, int argc, char** argv);
