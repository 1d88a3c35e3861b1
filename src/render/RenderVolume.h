#pragma once
// A render volume attached to the drawable: the VolumeMesh with its
// optional 3D texture and immediate-mode drawing. Nothing in the program
// attaches one yet; the drawable owns it once it does and calls it through
// DrawableLinks.h and SceneLinks.h. Main (GLUT) thread only; construction
// with a texture, drawing and destruction need the GL context.

#include <GL/glew.h>

#include "VolumeMesh.h"

class ZoltRenderable;

class RenderVolume : public VolumeMesh {
 public:
  ZoltRenderable* drawable;  // not owned; read for its simulation, box and arrays
  GLuint volumeTexture = 0;  // GL_TEXTURE_3D, 0 when none

  // Loads the volume named by settings (VolumeMesh::load) for the drawable's
  // simulation and rest box, and uploads the smoothed image as a 3D texture
  // when settings->volumeTexture3D and allowTexture are set.
  RenderVolume(ZoltRenderable* drawable, TetHierarchy* mesh, RenderSettings* settings,
               bool shiftIndices, int smoothingPasses, bool allowTexture);
  virtual ~RenderVolume();
  RenderVolume(const RenderVolume&) = delete;
  RenderVolume& operator=(const RenderVolume&) = delete;

  // Each tetrahedron's four faces as triangles, red by the node scalar.
  virtual void draw();
  // positions = rest + weighted displacements of the drawable's simulation.
  virtual void updateDisplacements();
  // positions += weighted collision offsets of the drawable.
  virtual void addOffsets();
  // scalars from the drawable's colour scalars.
  virtual void interpolateScalars();
  // Volume parameters from the GUI: nothing uses them.
  virtual void configure(float*) {}

  // The node-number shift of construction, on its own.
  void rebaseNodeIndices(bool shift);

 private:
  VolumeLink link() const;
  void uploadTexture();
};
