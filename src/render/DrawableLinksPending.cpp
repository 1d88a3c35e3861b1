// The drawable's links while the render volume is not part of the program:
// no volume is made, so only deletion of nothing is reached. Replaced by the
// definitions next to the volume.

#include "DrawableLinks.h"

void deleteRenderVolume(RenderVolume*) {}
void configureRenderVolume(RenderVolume*, float*) {}
void updateVolumeDisplacements(RenderVolume*) {}
void addVolumeOffsets(RenderVolume*) {}
