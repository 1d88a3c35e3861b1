#pragma once
// The shadow map of the scene pass: a square depth texture rendered from the
// light, and the matrices that project the model into it. Owned by the
// drawable while shadows are on; created and freed by the scene pass
// (createShadowMap, deleteShadowMap in ShadowMapGL.cpp).

class CProgram;

struct ShadowMap {
  int size = 2048;
  float lightMatrix[16];          // light projection x light view (x view), column-major
  float shadowTextureMatrix[16];  // bias (0.5 translate and scale) x lightMatrix
  unsigned int depthTexture = 0;  // GL_DEPTH_COMPONENT24, size x size
  unsigned int colourRenderbuffer = 0;
  unsigned int framebuffer = 0;
  CProgram* spareProgram = nullptr;  // always null
  CProgram* depthProgram = nullptr;  // owned: the depth-only program
  unsigned char textureMatrixPushed = 0;
};
