#pragma once
// What the scene pass asks of the render surface and the render volume, and
// the movies directory of the start-up. SceneLinksPending.cpp defines them
// while those parts are not in the program: there is never a surface or a
// volume to draw, and frames go to "../movies/".

#include <string>

class RenderSurface;
class RenderVolume;

// Refreshes the surface's normals and skinning from the drawable.
void updateRenderSurface(RenderSurface* surface);
// Draws the surface; depthPass: positions only, for the shadow map.
void renderRenderSurface(RenderSurface* surface, bool depthPass);
void drawRenderVolume(RenderVolume* volume);

// Directory of saved frames (ends with "/").
extern std::string moviesPath;
