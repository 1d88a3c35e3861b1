// The scene pass's link while no render volume exists in the program.
// Replaced by the definition next to the volume.

#include "SceneLinks.h"

void drawRenderVolume(RenderVolume*) {}
