#pragma once
// What the drawable asks of the objects it owns but does not build itself:
// the render volume, the shadow map of the scene pass, and the projection.
// The drawable calls only these functions, so it builds and runs before
// those exist; DrawableLinksPending.cpp defines them until then: no volume
// or shadow map is ever made, and the projection is the plain perspective or
// orthographic one.

class ZoltRenderable;
class RenderVolume;
struct ShadowMap;

void deleteRenderVolume(RenderVolume* volume);
void configureRenderVolume(RenderVolume* volume, float* parameters);
void updateVolumeDisplacements(RenderVolume* volume);
void addVolumeOffsets(RenderVolume* volume);

// Frees the shadow map's GL objects, programs and record.
void deleteShadowMap(ShadowMap* map);
