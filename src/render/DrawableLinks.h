#pragma once
// What the drawable asks of the render volume, which it owns but does not
// build itself. The drawable calls only these functions, so it builds and
// runs before the volume exists; DrawableLinksPending.cpp defines them until
// then: no volume is ever made.

class ZoltRenderable;
class RenderVolume;

void deleteRenderVolume(RenderVolume* volume);
void configureRenderVolume(RenderVolume* volume, float* parameters);
void updateVolumeDisplacements(RenderVolume* volume);
void addVolumeOffsets(RenderVolume* volume);
