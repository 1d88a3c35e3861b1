#pragma once
// GLSL 1.10 sources of the render surface program: Phong lighting in eye
// space with an optional colour texture (unit 0) and an optional shadow map
// (unit 1, projected through texture matrix 1).

#include <string>

std::string surfaceVertexSource(bool textured, bool shadow);
std::string surfaceFragmentSource(bool textured, bool shadow);

// The fur shell program: the surface pushed out along its normals by the
// uniform "distance" and bent by "gravityVector" and by the motion since the
// previous frame (the colour attribute), coloured by the fur layer texture
// (unit 2, coordinates of unit 1) and, when textured, the colour texture.
std::string furVertexSource(bool textured, bool shadow);
std::string furFragmentSource(bool textured, bool shadow);
