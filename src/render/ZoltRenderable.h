#pragma once
// The drawable of one loaded model: the finest mesh level as render arrays
// and GL buffer objects, refreshed once a frame from the simulation's state
// vectors, which it reads in place (no copy). At most one exists; the
// constructor makes it the current one and the destructor clears that.
//
// Owns its arrays, buffers and textures, the render surface and volume, the
// surface program and the shadow map. Not owned: the mesh, the settings, the
// simulation vectors and the collision offsets (the control object's).
//
// Render order: surface vertices first (render indices below
// surfaceVertexCount), inner vertices after them, each group in vertex
// order. Arrays of 2 or 3 floats per entry are indexed by render index.
// Runs on the main thread; update reads the simulation while the worker
// waits, and the drawing that follows uses only these arrays.

#include <cstdint>
#include <vector>

#include "RenderLinks.h"

class TetHierarchy;
struct RenderSettings;
class RenderSurface;
class RenderVolume;
class CProgram;
struct ShadowMap;
class FiniteElement;

class ZoltRenderable : public RenderPositionSource {
 public:
  TetHierarchy* mesh;                      // only the finest level is drawn
  RenderSettings* settings;                // colours, texture, texture coordinates
  RenderSurface* renderSurface = nullptr;  // null when there is none
  RenderVolume* renderVolume = nullptr;    // null when there is none
  float boxMax[3] = {0, 0, 0};             // largest rest x, y, z
  float boxMin[3] = {0, 0, 0};             // smallest rest x, y, z
  CProgram* surfaceProgram = nullptr;      // made by the scene pass
  unsigned int surfaceTexture = 0;         // 2D object texture
  unsigned int skinLutTexture = 0;         // 1D skin colour ramp
  std::vector<float> positions;            // displaced, 3 per render index
  std::vector<float> restPositions;        // 3 per render index
  std::vector<float> normals;              // 3 per render index, not normalised
  std::vector<float> texCoords;            // 2 per render index
  std::vector<float> colours;              // 3 per render index
  std::vector<float> colourScalars;        // the magnitude behind each colour
  std::vector<int> renderIndexOfVertex;    // by vertex index
  std::vector<int> vertexOfRenderIndex;    // by render index
  std::vector<uint32_t> triangles;         // 3 render indices each; boundary first
  int vertexCount = 0;
  int surfaceVertexCount = 0;
  int triangleCount = 0;
  int boundaryTriangleCount = 0;
  unsigned int positionBuffer = 0, normalBuffer = 0, texCoordBuffer = 0, colourBuffer = 0,
               indexBuffer = 0;
  float baseColour[3] = {1, 1, 1};   // colour of an uncoloured vertex, set by the scene pass
  ShadowMap* shadowMap = nullptr;    // null while shadows are off
  uint8_t needsPrepare = 0;          // set by update, served by the scene pass
  uint8_t ownsSimulationArrays = 0;  // never set: the vectors are the simulation's
  uint8_t ownsOffsets = 0;           // offsets point into wallOffsets
  float* offsets = nullptr;          // 3 per vertex index: collision offsets
  const double* displacement = nullptr;
  const double* rightSide = nullptr;
  const double* stress = nullptr;
  const double* residual = nullptr;
  // Lengths of the four simulation vectors: nothing is read beyond them.
  int displacementLength = 0, rightSideLength = 0, stressLength = 0, residualLength = 0;
  int firstFreeNode = 0;   // fixed vertex count
  uint8_t components = 3;  // 2 or 3
  uint8_t hasSimulation = 0;
  int projectionSide = 0;  // -1, 0 or +1

  // mesh and settings are not owned; source (the control object, may be
  // null) gives the simulation and the collision offsets. Needs a current
  // GL context.
  ZoltRenderable(TetHierarchy* mesh, RenderSettings* settings, DrawableSource* source);
  virtual ~ZoltRenderable();
  ZoltRenderable(const ZoltRenderable&) = delete;
  ZoltRenderable& operator=(const ZoltRenderable&) = delete;

  // Render arrays and buffer objects; once, from the constructor.
  void createOpenGLArrays();
  // Normals of the surface vertices from the current positions.
  void computeNormals();
  // Bounding box, object textures, fixed GL state and light 1.
  void initRenderState();
  // Per frame, before the worker is released: surface requests, displaced
  // positions, colours.
  void update();
  // Per frame, after the barrier has filled the offsets and before the
  // worker is released (the force field reads the positions on the worker):
  // the collision offsets into the positions, the surface and the volume.
  void addCollisionOffsets();
  // From the scene pass when needsPrepare is set: GUI requests.
  void applyPendingChanges();
  RenderPositions renderPositions() override {
    return {positions.data(), vertexOfRenderIndex.data(), vertexCount};
  }
  // Replaces the render surface (fur by the GUI word furOn). When no surface
  // with geometry results, the simulation mesh is drawn instead.
  void createRenderSurface();
  // Loads the projection for the window size and projectionSide.
  void setProjection();
  // Stereo side: -1 left, +1 right (right wins), 0 neither; then the
  // projection (display-wall mode only).
  void setProjectionSide(bool left, bool right);
  // Makes hidden elements visible: their new surface vertices move into the
  // surface range and their faces join the triangle list.
  void revealElements(std::vector<FiniteElement*>& elements);

 private:
  void uploadArrays();
  // Fur commands 1-6: texture scale up, down, length down, up, a layer
  // less, a layer more; a surface without fur ignores them.
  void runFurCommand(int command);
  std::vector<float> wallOffsets;  // display-wall mode only
};

// The current drawable; null while none exists.
extern ZoltRenderable* currentRenderable;
// Set by the display after drawing a frame, cleared by update: at most one
// frame is drawn per update.
extern uint8_t frameDrawn;
// Display-wall mode of the frame loop; nothing sets it, and no data exchange
// between wall nodes exists.
extern uint8_t displayWallMode;
// This wall node's stereo side, applied when the frame loop starts in
// display-wall mode: -1 left, +1 right, 0 the plain projection.
extern int displayWallSide;
