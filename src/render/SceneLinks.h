#pragma once
// What the scene pass asks of the render surface and the render volume.
// SceneLinksPending.cpp defines them while those parts are not in the
// program: there is never a surface or a volume to draw.

class RenderSurface;
class RenderVolume;

// Refreshes the surface's normals and skinning from the drawable.
void updateRenderSurface(RenderSurface* surface);
// Draws the surface; depthPass: positions only, for the shadow map.
void renderRenderSurface(RenderSurface* surface, bool depthPass);
void drawRenderVolume(RenderVolume* volume);
