#pragma once
// The GL side of the scene pass that does not depend on a loaded model: the
// shadow map's framebuffer, the depth and surface programs, the ground and
// pointer-sprite textures, the logo, the ground plane and the texts.
// Main thread only, with the window's context current.

#include <GL/glew.h>

#include "SceneHud.h"
#include "ShadowMap.h"

class CProgram;

// ---- Shadow map ----------------------------------------------------------

// Depth texture (unit 1, compared as GL_LEQUAL), colour renderbuffer and
// framebuffer of sm->size. An incomplete framebuffer is reported on
// standard output by its status and false returned; the caller switches
// shadows off.
bool createShadowFramebuffer(ShadowMap* sm);
// A shadow map of the given size with its framebuffer and depth program;
// null (everything freed) when the framebuffer is incomplete.
ShadowMap* createShadowMap(int size = 2048);
// Frees the GL objects, both programs and the record; null is ignored.
void deleteShadowMap(ShadowMap* sm);

// ---- Programs --------------------------------------------------------------

CProgram* buildDepthProgram();
// The surface program of the variant, with its fixed uniforms set:
// "vLightPos" = light (x, y, z), "ambientScale" 0.3, "maxShadow" 0.5 and the
// sampler units 0 (tex), 1 (smap), 2 (sSkinLUT) as the variant declares.
CProgram* buildSurfaceProgram(bool textured, bool shadow, bool skin, const float* light);

// ---- Textures and overlays -------------------------------------------------

// Texture names of the scene's generated images; 0 when absent.
extern GLuint sceneGroundTexture;
extern GLuint scenePointerTexture;
// The ground and logo texture (mipmapped) when withGround is set, and
// always the pointer sprite. Called once the window exists.
void createGroundTextures(bool withGround);
void deleteGroundTextures();

// The logo in the lower right corner of the viewport (device coordinates,
// identity matrices); nothing without the ground texture.
void drawLogoOverlay();
// The pointer sprite with its tip at the pointer (window pixels, y down).
void drawPointerSprite(int pointerX, int pointerY, int width, int height);
// The translucent ground plane: a square of side -zoom centred on the point
// of the plane (a, b, c, d) nearest the origin, in the model's coordinates;
// nothing for a zero normal.
void drawGroundPlane(const double* plane, float zoom, bool orientation, bool textured);
// The blue outline of the selection rectangle between two pointer corners.
void drawSelectionRectangle(const int* start, const int* end, int width, int height);

// Helvetica 18 text centred on x, and Helvetica 10 text from (x, y), in
// device coordinates of the current viewport.
void drawCenteredText(float x, float y, const char* text);
void drawText(float x, float y, const char* text);
