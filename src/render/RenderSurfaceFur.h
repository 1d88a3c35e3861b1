#pragma once
// The render surface covered with fur: after the surface itself, one shell
// per fur layer pushed out along the normals, textured with random strands
// that thin out towards the tips, bent by gravity and by the motion since
// the previous frame, and blended over what lies below. Positions and
// normals stream into buffers once per update; the two position buffers
// alternate every drawn frame. Main (GLUT) thread only.

#include <memory>
#include <vector>

#include "FurShells.h"
#include "RenderSurface.h"

class RenderSurfaceFur : public RenderSurface {
 public:
  static constexpr uint32_t kTextureSize = 128;

  // The surface split by fur texture coordinates (weights in ".weightFur"),
  // its buffers, both programs and the layer textures. seed makes the
  // strand pattern repeatable; 0 seeds each new set with the time.
  RenderSurfaceFur(const SurfaceLink& link, TetHierarchy* mesh, const RenderSettings* settings,
                   uint32_t seed = 0);
  ~RenderSurfaceFur() override;

  // The surface, then the shells; in the depth pass the surface alone.
  void render() override;
  // Skinning, unit normals merged across the fur seams, buffer uploads.
  void update() override;
  void rebuildShaders() override;
  void scaleFurTexCoords(float factor) override;
  void scaleFurLength(float factor) override;
  void addFurLayer() override;
  void removeFurLayer() override;
  void setFurLength(float length);

  // New layer textures of edge size for the current layer count; false
  // when GL reported an error.
  bool createFurTextures(uint32_t size);

  std::unique_ptr<CProgram> furProgram;
  GLuint furTexCoordBuffer = 0;
  GLuint positionBuffer = 0;
  GLuint normalBuffer = 0;
  GLuint previousPositionBuffer = 0;
  FurParameters fur;
  uint32_t textureSize = kTextureSize;
  std::vector<GLuint> layerTextures;
  float gravity[3] = {0.0f, -9.81f, 0.0f};
  uint8_t refreshPrevious = 1;
  // Set: the shells write depth too, and their nearly clear tips hide the
  // translucent ground drawn after them (a dark fringe).
  uint8_t shellsWriteDepth = 0;
  uint32_t seed;

 private:
  void createFurBuffers();
  void deleteFurTextures();
  void uploadArray(GLuint buffer, const std::vector<float>& values);
};
