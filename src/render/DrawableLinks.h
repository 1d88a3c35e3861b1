#pragma once
// What the drawable asks of the render volume, which it owns but does not
// build itself; defined next to RenderVolume.

class ZoltRenderable;
class RenderVolume;

void deleteRenderVolume(RenderVolume* volume);
void configureRenderVolume(RenderVolume* volume, float* parameters);
void updateVolumeDisplacements(RenderVolume* volume);
void addVolumeOffsets(RenderVolume* volume);
