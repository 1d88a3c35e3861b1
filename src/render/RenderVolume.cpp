#include "RenderVolume.h"

#include <iostream>

#include "DrawableLinks.h"
#include "GLUtils.h"
#include "RenderSettings.h"
#include "SceneLinks.h"
#include "ZoltRenderable.h"

RenderVolume::RenderVolume(ZoltRenderable* d, TetHierarchy* mesh, RenderSettings* settings,
                           bool shiftIndices, int smoothingPasses, bool allowTexture)
    : drawable(d) {
  const bool texture = settings->volumeTexture3D && allowTexture;
  load(mesh, settings, link(), shiftIndices, smoothingPasses, texture);
  if (texture && !image.voxels.empty()) uploadTexture();
  image = VolumeImage();
}

RenderVolume::~RenderVolume() {
  if (volumeTexture != 0) glDeleteTextures(1, &volumeTexture);
}

VolumeLink RenderVolume::link() const {
  VolumeLink l;
  if (!drawable) return l;
  l.hasSimulation = drawable->hasSimulation != 0;
  l.firstFreeNode = drawable->firstFreeNode;
  for (int a = 0; a < 3; ++a) {
    l.boxMin[a] = drawable->boxMin[a];
    l.boxMax[a] = drawable->boxMax[a];
  }
  return l;
}

void RenderVolume::uploadTexture() {
  const VolumeImage& im = image;
  glGenTextures(1, &volumeTexture);
  glBindTexture(GL_TEXTURE_3D, volumeTexture);
  for (GLenum wrap : {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_WRAP_R})
    glTexParameterf(GL_TEXTURE_3D, wrap, GL_MIRRORED_REPEAT);
  glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  GLUtils::PixelStore unpack(GL_UNPACK_ALIGNMENT, 1);  // rows of any width
  glTexImage3D(GL_TEXTURE_3D, 0, GL_LUMINANCE, im.width, im.height, im.depth, 0, GL_LUMINANCE,
               GL_UNSIGNED_BYTE, im.voxels.data());
  glBindTexture(GL_TEXTURE_3D, 0);
  std::cout << " 3D Texture (" << im.width << " x " << im.height << " x " << im.depth
            << "):  " << float(im.size()) * 9.536743e-07f << " MB " << std::endl;
}

void RenderVolume::draw() {
  static constexpr int kFaces[4][3] = {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}};
  glBegin(GL_TRIANGLES);
  for (int t = 0; t < tetCount; ++t)
    for (const auto& face : kFaces)
      for (int corner : face) {
        const int v = tets[4 * size_t(t) + corner];
        glColor3f(scalars[size_t(v)], 0.0f, 0.0f);
        glVertex3fv(&positions[3 * size_t(v)]);
      }
  glEnd();
}

void RenderVolume::updateDisplacements() {
  if (drawable && drawable->displacement)
    displace(drawable->displacement, drawable->displacementLength);
}

void RenderVolume::addOffsets() {
  if (!drawable || !drawable->offsets) return;
  const int first = 3 * drawable->firstFreeNode, all = 3 * drawable->vertexCount;
  if (first < all) addNodeOffsets(drawable->offsets + first, all - first);
}

void RenderVolume::interpolateScalars() {
  if (!drawable || drawable->colourScalars.empty()) return;
  interpolateFrom(drawable->colourScalars.data(), drawable->renderIndexOfVertex.data(),
                  drawable->vertexCount, drawable->hasSimulation ? drawable->firstFreeNode : 0);
}

void RenderVolume::rebaseNodeIndices(bool shift) {
  const VolumeLink l = link();
  if (l.hasSimulation && l.firstFreeNode > 0 && shift) shiftNodeIndices(l.firstFreeNode);
}

// The drawable's and the scene pass's links.
void deleteRenderVolume(RenderVolume* volume) { delete volume; }
void configureRenderVolume(RenderVolume* volume, float* parameters) {
  volume->configure(parameters);
}
void updateVolumeDisplacements(RenderVolume* volume) { volume->updateDisplacements(); }
void addVolumeOffsets(RenderVolume* volume) { volume->addOffsets(); }
void drawRenderVolume(RenderVolume* volume) { volume->draw(); }
