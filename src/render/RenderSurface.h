#pragma once
// A detailed triangle surface drawn in place of the boundary of the
// simulated mesh, skinned onto it every frame (SurfaceMesh), with its own
// index and texture-coordinate buffers, texture and shader program. Main
// (GLUT) thread only; the GL context must be current for construction,
// drawing and destruction.

#include <GL/glew.h>

#include <memory>
#include <string>

#include "SurfaceMesh.h"
#include "TgaImage.h"

class CProgram;
struct RenderSettings;

// What the creating drawable and the GUI lend a surface; nothing is owned
// and every pointer must outlive the surface.
struct SurfaceLink {
  // The simulation's displacements (3 doubles per free node) or null.
  const double* displacement = nullptr;
  int firstFreeNode = 0;  // nodes below it are fixed and own no entries
  bool hasSimulation = false;
  const float* offsets = nullptr;      // collision offsets, 3 per node, or null
  const float* nodeNormals = nullptr;  // 3 per drawable entry
  const int* nodeIndexMap = nullptr;   // node number -> drawable entry
  // GUI words; required.
  const int* texturing = nullptr;
  const int* shadowOn = nullptr;
  const int* pixelLighting = nullptr;
  int* renderSurfaceOn = nullptr;  // cleared when there is no geometry
  int* furOn = nullptr;
  const float* lightPosition = nullptr;       // 4 floats
  const float* frameLightPosition = nullptr;  // 3 floats
};

class RenderSurface : public SurfaceMesh {
 public:
  // Reads the surface named by settings, builds its buffers and texture and
  // binds it to the finest level of mesh (the weight file of a fur surface
  // is separate). Without geometry vertexCount stays 0 and the GUI's surface
  // and fur switches are cleared.
  RenderSurface(const SurfaceLink& link, TetHierarchy* mesh, const RenderSettings* settings,
                bool fur);
  virtual ~RenderSurface();
  RenderSurface(const RenderSurface&) = delete;
  RenderSurface& operator=(const RenderSurface&) = delete;

  // Virtual slots in this order; the fur surface overrides all but
  // copyDisplacements, addNodeOffsets and reservedOperation.
  virtual void render();
  // Skinning and area-weighted normals (the shader normalises).
  virtual void update();
  virtual void copyDisplacements();
  virtual void addNodeOffsets();
  virtual void rebuildShaders() {}
  virtual void reservedOperation() {}
  virtual void scaleFurTexCoords(float factor) {}
  virtual void scaleFurLength(float factor) {}
  virtual void addFurLayer() {}
  virtual void removeFurLayer() {}

  // The surface program for the given state; replaces the current one.
  void createShaders(bool textured, bool shadow);
  // Upload into image.texture; a file that cannot be read gives a 1 x 1
  // white texture and false.
  bool loadTGA(TextureImage& image, const char* path);
  bool loadBMP(TextureImage& image, const char* path);
  // A texture was read and the texturing switch is on.
  bool wantsTexture() const { return textured && *texturingSwitch != 0; }

  SurfaceLink link;
  const RenderSettings* settings;  // not owned
  TextureImage texture;
  const int* texturingSwitch;
  const int* shadowSwitch;
  GLuint indexBuffer = 0;
  GLuint texCoordBuffer = 0;
  std::unique_ptr<CProgram> program;  // null until the first shaded render
  uint8_t useTexture = 0, useShadow = 0;
  uint8_t depthPass = 0;  // set by the scene while it draws the shadow map

 protected:
  // Runs between re-indexing and the normals; the fur surface splits its
  // vertices there.
  using MeshPreparation = void (*)(SurfaceMesh&);
  RenderSurface(const SurfaceLink& link, TetHierarchy* mesh, const RenderSettings* settings,
                bool fur, MeshPreparation prepare);
  // A program from the sources with the light, colours and samplers every
  // surface program reads set; left enabled.
  std::unique_ptr<CProgram> surfaceProgram(const std::string& vertex, const std::string& fragment,
                                           bool textured, bool shadow) const;

 private:
  void createBuffers();
  void uploadTexture(TextureImage& image, const unsigned char* pixels, uint32_t width,
                     uint32_t height, uint32_t bitsPerPixel);
  void drawTriangles();
};
