#include "RenderSurfaceFur.h"

#include <GL/glu.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

#include "GLUtils.h"
#include "Program.h"
#include "RenderSettings.h"
#include "RenderSurfaceShaders.h"

namespace {

void prepareFur(SurfaceMesh& m) {
  m.buildFurTexCoords(0.35f);
  m.splitByFurTexCoords();
}

void makeBuffer(GLuint* id, const std::vector<float>& values, GLenum usage) {
  glGenBuffers(1, id);
  glBindBuffer(GL_ARRAY_BUFFER, *id);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(4 * values.size()), values.data(), usage);
}

}  // namespace

RenderSurfaceFur::RenderSurfaceFur(const SurfaceLink& link, TetHierarchy* mesh,
                                   const RenderSettings* settings, uint32_t seed)
    : RenderSurface(link, mesh, settings, true, prepareFur), seed(seed) {
  std::printf("Debug: Start Class 'RenderSurfaceFur' \n");
  if (vertexCount == 0) {
    std::printf("Error in initialisation: no geometry. \n");
    return;
  }
  createFurBuffers();
  if (!createFurTextures(kTextureSize))
    std::printf("Error in initialisation: RenderSurfaceFur::initFur\n");
}

RenderSurfaceFur::~RenderSurfaceFur() {
  deleteFurTextures();
  for (GLuint* b : {&furTexCoordBuffer, &positionBuffer, &normalBuffer, &previousPositionBuffer})
    if (*b) glDeleteBuffers(1, b);
}

void RenderSurfaceFur::createFurBuffers() {
  std::printf("Generate Vertex Buffer Objects ...\n");
  makeBuffer(&positionBuffer, restPositions, GL_STREAM_DRAW);
  makeBuffer(&previousPositionBuffer, restPositions, GL_STREAM_DRAW);
  makeBuffer(&normalBuffer, normals, GL_STREAM_DRAW);
  makeBuffer(&furTexCoordBuffer, furTexCoords, GL_STATIC_DRAW);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  std::printf("Object supports Texturing: %d\n", textured ? 1 : 0);
  rebuildShaders();
  refreshPrevious = 1;
}

void RenderSurfaceFur::deleteFurTextures() {
  if (!layerTextures.empty())
    glDeleteTextures(static_cast<GLsizei>(layerTextures.size()), layerTextures.data());
  layerTextures.clear();
}

bool RenderSurfaceFur::createFurTextures(uint32_t size) {
  deleteFurTextures();
  textureSize = size;
  const uint32_t layers = fur.layerCount;
  const std::vector<uint32_t> words =
      furLayerTexels(size, layers, wantsTexture(),
                     furRandom(seed ? seed : static_cast<uint32_t>(std::time(nullptr))));
  GLUtils::clearGLErrors();
  layerTextures.assign(layers, 0);
  if (layers > 0) glGenTextures(static_cast<GLsizei>(layers), layerTextures.data());
  glActiveTexture(GL_TEXTURE0);
  for (uint32_t l = 0; l < layers; ++l) {
    glBindTexture(GL_TEXTURE_2D, layerTextures[l]);
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA8, static_cast<GLint>(size), static_cast<GLint>(size),
                      GL_BGRA, GL_UNSIGNED_BYTE, words.data() + size_t(l) * size * size);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    // Isotropic on purpose: a shell triangle seen almost edge-on stretches
    // its strands over millions of texels a pixel, and a software
    // rasteriser's anisotropic filter walks that whole footprint (seconds
    // a frame). Trilinear mipmaps cost the same for every pixel.
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, 1.0f);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  return glGetError() == GL_NO_ERROR;
}

void RenderSurfaceFur::rebuildShaders() {
  useTexture = wantsTexture();
  useShadow = *shadowSwitch != 0;
  furProgram = surfaceProgram(furVertexSource(useTexture, useShadow),
                              furFragmentSource(useTexture, useShadow), useTexture, useShadow);
  furProgram->SetUniformVector("furTex", 2, 0, 0, 0);
  furProgram->Disable();
  createShaders(useTexture, useShadow);
}

void RenderSurfaceFur::uploadArray(GLuint buffer, const std::vector<float>& values) {
  glBindBuffer(GL_ARRAY_BUFFER, buffer);
  glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(4 * values.size()), values.data());
}

void RenderSurfaceFur::update() {
  if (vertexCount == 0) return;
  skinVertices();
  accumulateFaceNormals(true);
  mergeSeamNormals();
  normalizeNormals();
  uploadArray(positionBuffer, positions);
  if (refreshPrevious) {
    refreshPrevious = 0;
    uploadArray(previousPositionBuffer, positions);
  }
  uploadArray(normalBuffer, normals);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void RenderSurfaceFur::render() {
  if (vertexCount == 0) return;
  const uint8_t wantTexture = wantsTexture();
  const uint8_t wantShadow = *shadowSwitch != 0;
  if (!furProgram || !program || wantTexture != useTexture || wantShadow != useShadow) {
    rebuildShaders();
    createFurTextures(kTextureSize);  // the strand colours follow the texturing switch
  }
  const GLsizei count = static_cast<GLsizei>(indices.size());
  const float* c = settings->colour;
  auto enableLit = [&](CProgram& p, const float* specular) {
    p.Enable();
    p.SetUniformVector("vColorDiffuse", c[0], c[1], c[2], 1.0f);
    p.SetUniformVector("vColorSpecular", specular[0], specular[1], specular[2], 1.0f);
    p.SetUniformVector("vLightPos", link.frameLightPosition);
  };
  // The depth pass keeps the scene's depth program: the surface program
  // would sample the shadow map being drawn.
  const float noSpecular[3] = {0.0f, 0.0f, 0.0f};
  if (!depthPass) enableLit(*program, noSpecular);
  if (useTexture) {
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture.texture);
    glClientActiveTexture(GL_TEXTURE0);
    glBindBuffer(GL_ARRAY_BUFFER, texCoordBuffer);
    glTexCoordPointer(2, GL_FLOAT, 0, nullptr);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  }
  glBindBuffer(GL_ARRAY_BUFFER, positionBuffer);
  glVertexPointer(3, GL_FLOAT, 0, nullptr);
  glBindBuffer(GL_ARRAY_BUFFER, normalBuffer);
  glNormalPointer(GL_FLOAT, 0, nullptr);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_NORMAL_ARRAY);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer);
  glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_INT, nullptr);
  if (!depthPass) program->Disable();

  const uint32_t layers = static_cast<uint32_t>(layerTextures.size());
  if (!depthPass && layers > 0) {
    enableLit(*furProgram, settings->specularColour);
    glClientActiveTexture(GL_TEXTURE1);
    glBindBuffer(GL_ARRAY_BUFFER, furTexCoordBuffer);
    glTexCoordPointer(2, GL_FLOAT, 0, nullptr);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, previousPositionBuffer);
    glColorPointer(3, GL_FLOAT, 0, nullptr);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    // Nearly clear tips that wrote depth would hide the translucent ground
    // drawn after them: the shells are depth tested only.
    GLboolean depthWrites = GL_TRUE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWrites);
    glDepthMask(shellsWriteDepth ? GL_TRUE : GL_FALSE);
    glActiveTexture(GL_TEXTURE2);
    for (uint32_t k = 1; k <= layers; ++k) {
      const FurShell shell = furShell(k, layers, fur.furLength, gravity);
      furProgram->SetUniformVector("distance", shell.distance, 0.0f, 0.0f, 0.0f);
      furProgram->SetUniformVector("gravityVector", shell.gravity[0], shell.gravity[1],
                                   shell.gravity[2], 0.0f);
      furProgram->SetUniformVector("motionInfluence", shell.motionInfluence, 0.0f, 0.0f, 0.0f);
      glBindTexture(GL_TEXTURE_2D, layerTextures[shell.layerTexture]);
      glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_INT, nullptr);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    glDepthMask(depthWrites);
    glDisable(GL_BLEND);
    furProgram->Disable();
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  }
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  glClientActiveTexture(GL_TEXTURE0);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glActiveTexture(GL_TEXTURE0);
  if (useTexture) glBindTexture(GL_TEXTURE_2D, 0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  if (!depthPass) std::swap(positionBuffer, previousPositionBuffer);
}

void RenderSurfaceFur::scaleFurTexCoords(float factor) {
  for (float& t : furTexCoords) t *= factor;
  glBindBuffer(GL_ARRAY_BUFFER, furTexCoordBuffer);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(4 * furTexCoords.size()),
               furTexCoords.data(), GL_STATIC_DRAW);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void RenderSurfaceFur::setFurLength(float length) {
  fur.furLength = length;
  std::printf(" Fur length (in world units): %g\n", fur.furLength);
}

void RenderSurfaceFur::scaleFurLength(float factor) {
  fur.scaleLength(factor);
  std::printf(" Fur length (in world units): %g\n", fur.furLength);
}

void RenderSurfaceFur::addFurLayer() {
  if (!fur.addLayer()) return;
  createFurTextures(kTextureSize);
  std::printf(" Fur layers: %u\n", fur.layerCount);
}

void RenderSurfaceFur::removeFurLayer() {
  if (!fur.removeLayer()) return;
  createFurTextures(kTextureSize);
  std::printf(" Fur layers: %u\n", fur.layerCount);
}
