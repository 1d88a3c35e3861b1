#pragma once
// What the scene pass asks of the render volume. SceneLinksPending.cpp
// defines it while the volume is not in the program: there is never a
// volume to draw.

class RenderVolume;

void drawRenderVolume(RenderVolume* volume);
