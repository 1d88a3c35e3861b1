#pragma once
// What the drawable asks of the objects it owns but does not build itself:
// the render surface (with or without fur), the render volume, the shadow
// map of the scene pass, and the projection. The drawable calls only these
// functions, so it builds and runs before those classes exist;
// DrawableLinksPending.cpp defines them until then: no surface, volume or
// shadow map is ever made, and the projection is the plain perspective or
// orthographic one.

class ZoltRenderable;
class RenderSurface;
class RenderVolume;
struct ShadowMap;

// A new render surface of the drawable's model (with fur shells when fur),
// or null when none can be made. A surface without geometry switches the GUI
// words renderSurfaceOn and furOn off itself.
RenderSurface* newRenderSurface(ZoltRenderable* drawable, bool fur);
void deleteRenderSurface(RenderSurface* surface);
void copySurfaceDisplacements(RenderSurface* surface);
void addSurfaceNodeOffsets(RenderSurface* surface);
// Fur commands 1-6 (texture scale up, down, length down, up, a layer less,
// a layer more); a surface without fur ignores them.
void runFurCommand(RenderSurface* surface, int command);

void deleteRenderVolume(RenderVolume* volume);
void configureRenderVolume(RenderVolume* volume, float* parameters);
void updateVolumeDisplacements(RenderVolume* volume);
void addVolumeOffsets(RenderVolume* volume);

// Frees the shadow map's GL objects, programs and record.
void deleteShadowMap(ShadowMap* map);
