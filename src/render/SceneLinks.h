#pragma once
// What the scene pass asks of the render volume; defined next to
// RenderVolume.

class RenderVolume;

void drawRenderVolume(RenderVolume* volume);
