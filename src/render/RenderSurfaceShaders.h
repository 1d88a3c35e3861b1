#pragma once
// GLSL 1.10 sources of the render surface program: Phong lighting in eye
// space with an optional colour texture (unit 0) and an optional shadow map
// (unit 1, projected through texture matrix 1).

#include <string>

std::string surfaceVertexSource(bool textured, bool shadow);
std::string surfaceFragmentSource(bool textured, bool shadow);
