// The scene pass's links while no render surface or render volume exists in
// the program. Replaced by the definitions next to those parts.

#include "SceneLinks.h"

void updateRenderSurface(RenderSurface*) {}
void renderRenderSurface(RenderSurface*, bool) {}
void drawRenderVolume(RenderVolume*) {}
