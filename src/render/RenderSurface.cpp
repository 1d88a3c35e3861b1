#include "RenderSurface.h"

#include <cstdio>
#include <string>

#include "GLUtils.h"
#include "LinearTexture.h"
#include "Program.h"
#include "RenderSettings.h"
#include "RenderSurfaceShaders.h"
#include "TetHierarchy.h"

namespace {

// The texture name ends in ".tga", give or take two characters.
bool isTgaName(const std::string& name) {
  return name.size() >= 6 && name.find(".tga", name.size() - 6) != std::string::npos;
}

}  // namespace

RenderSurface::RenderSurface(const SurfaceLink& link, TetHierarchy* mesh,
                             const RenderSettings* settings, bool fur)
    : RenderSurface(link, mesh, settings, fur, nullptr) {}

RenderSurface::RenderSurface(const SurfaceLink& link, TetHierarchy* mesh,
                             const RenderSettings* settings, bool fur, MeshPreparation prepare)
    : link(link), settings(settings), texturingSwitch(link.texturing), shadowSwitch(link.shadowOn) {
  std::printf(" -------------------------------------------------------------------- \n");
  attachMesh(mesh);
  nodeNormals = link.nodeNormals;
  nodeIndexMap = link.nodeIndexMap;
  textured = !settings->texturePath.empty();
  useTexture = wantsTexture();
  useShadow = *shadowSwitch != 0;
  float scale[3];
  for (int k = 0; k < 3; ++k) scale[k] = settings->surfaceScale * settings->scale[k];
  if (!readMesh(settings->surfacePath.c_str(), settings->surfaces, scale, settings->centre)) {
    std::printf("Error: No Rendersurface-Geometry. Rendersurface Deactivated!\n");
    *link.renderSurfaceOn = 0;
    *link.furOn = 0;
    return;
  }
  if (prepare) prepare(*this);
  finishMesh();
  createBuffers();
  // New weights draw the progress disc, maybe in the middle of a frame: the
  // frame keeps its state and matrices.
  GLint matrixMode = GL_MODELVIEW;
  glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
  glPushAttrib(GL_ALL_ATTRIB_BITS);
  for (GLenum stack : {GL_PROJECTION, GL_MODELVIEW}) {
    glMatrixMode(stack);
    glPushMatrix();
  }
  generateWeights(settings->surfaceCachePath.c_str(), fur, settings->surfaceWeighting);
  for (GLenum stack : {GL_PROJECTION, GL_MODELVIEW}) {
    glMatrixMode(stack);
    glPopMatrix();
  }
  glPopAttrib();
  glMatrixMode(static_cast<GLenum>(matrixMode));
}

RenderSurface::~RenderSurface() {
  if (indexBuffer) glDeleteBuffers(1, &indexBuffer);
  if (texCoordBuffer) glDeleteBuffers(1, &texCoordBuffer);
  if (texture.texture) glDeleteTextures(1, &texture.texture);
}

void RenderSurface::createBuffers() {
  glGenBuffers(1, &indexBuffer);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer);
  glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(4 * indices.size()), indices.data(),
               GL_STATIC_DRAW);
  if (textured) {
    glActiveTexture(GL_TEXTURE0);
    const std::string& name = settings->texturePath;
    if (isTgaName(name))
      loadTGA(texture, name.c_str());
    else
      loadBMP(texture, name.c_str());
    // Coordinates as read may be fewer than the vertices: never draw past them.
    texCoords.resize(2 * static_cast<size_t>(vertexCount), 0.0f);
    glGenBuffers(1, &texCoordBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, texCoordBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(4 * texCoords.size()), texCoords.data(),
                 GL_STATIC_DRAW);
  }
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
}

void RenderSurface::uploadTexture(TextureImage& image, const unsigned char* pixels, uint32_t width,
                                  uint32_t height, uint32_t bitsPerPixel) {
  static const unsigned char kWhite[3] = {255, 255, 255};
  if (!pixels) {
    pixels = kWhite;
    width = height = 1;
    bitsPerPixel = 24;
  }
  if (image.texture) glDeleteTextures(1, &image.texture);
  image.texture =
      createLinearTexture(bitsPerPixel == 32 ? GL_RGBA : GL_RGB, static_cast<int>(width),
                          static_cast<int>(height), pixels, GL_REPEAT);
  image.width = width;
  image.height = height;
  image.bitsPerPixel = bitsPerPixel;
  image.pixels.clear();
  image.pixels.shrink_to_fit();
}

bool RenderSurface::loadTGA(TextureImage& image, const char* path) {
  const bool ok = readTGA(path, image);
  uploadTexture(image, ok ? image.pixels.data() : nullptr, image.width, image.height,
                image.bitsPerPixel);
  return ok;
}

bool RenderSurface::loadBMP(TextureImage& image, const char* path) {
  GLUtils::BMPImage bmp{0, 0, nullptr};
  const bool ok = GLUtils::readBMP(path, &bmp);
  uploadTexture(image, ok ? bmp.data : nullptr, static_cast<uint32_t>(bmp.width),
                static_cast<uint32_t>(bmp.height), 24);
  delete[] bmp.data;
  return ok;
}

void RenderSurface::copyDisplacements() {
  if (!link.hasSimulation || !link.displacement) return;
  const size_t nodes = nodeDisplacements.size() / 3;
  const size_t firstFree = static_cast<size_t>(link.firstFreeNode);
  if (firstFree > nodes) return;
  float* out = nodeDisplacements.data() + 3 * firstFree;
  for (size_t k = 0; k < 3 * (nodes - firstFree); ++k)
    out[k] = static_cast<float>(link.displacement[k]);
}

void RenderSurface::addNodeOffsets() {
  if (!link.offsets) return;
  for (size_t k = 0; k < nodeDisplacements.size(); ++k) nodeDisplacements[k] += link.offsets[k];
}

void RenderSurface::update() {
  skinVertices();  // clears the normals
  accumulateFaceNormals(false);
}

std::unique_ptr<CProgram> RenderSurface::surfaceProgram(const std::string& vertex,
                                                        const std::string& fragment, bool textured,
                                                        bool shadow) const {
  auto p = std::make_unique<CProgram>(vertex.c_str(), fragment.c_str(), NORVA_SOURCE_TEXT);
  const float* c = settings->colour;
  const float* s = settings->specularColour;
  p->Enable();
  p->SetUniformVector("vLightPos", link.lightPosition);
  p->SetUniformVector("ambientScale", 0.3f, 0.0f, 0.0f, 0.0f);
  p->SetUniformVector("vColorDiffuse", c[0], c[1], c[2], 1.0f);
  p->SetUniformVector("vColorSpecular", s[0], s[1], s[2], 1.0f);
  if (textured) p->SetUniformVector("tex", 0, 0, 0, 0);
  if (shadow) {
    p->SetUniformVector("smap", 1, 0, 0, 0);
    p->SetUniformVector("maxShadow", 0.5f, 0.0f, 0.0f, 0.0f);
  }
  return p;
}

void RenderSurface::createShaders(bool textured, bool shadow) {
  program = surfaceProgram(surfaceVertexSource(textured, shadow),
                           surfaceFragmentSource(textured, shadow), textured, shadow);
  program->Disable();
}

void RenderSurface::render() {
  if (vertexCount == 0) return;
  const uint8_t wantTexture = wantsTexture();
  const uint8_t wantShadow = *shadowSwitch != 0;
  if (wantTexture != useTexture || wantShadow != useShadow) {
    useTexture = wantTexture;
    useShadow = wantShadow;
    program.reset();
  }
  const float* c = settings->colour;
  const bool shaded = *link.pixelLighting != 0;
  if (!shaded) {
    program.reset();
    if (useTexture)
      glColor3f(1.0f, 1.0f, 1.0f);
    else
      glColor3fv(c);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, settings->specularColour);
    glMateriali(GL_FRONT_AND_BACK, GL_SHININESS, 120);
  } else {
    if (!program) createShaders(useTexture, useShadow);
    const float* s = settings->specularColour;
    program->Enable();
    program->SetUniformVector("vColorDiffuse", c[0], c[1], c[2], 1.0f);
    program->SetUniformVector("vColorSpecular", s[0], s[1], s[2], 1.0f);
    program->SetUniformVector("vLightPos", link.frameLightPosition);
  }
  drawTriangles();
  if (shaded) program->Disable();
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
}

void RenderSurface::drawTriangles() {
  // Positions and normals come from client memory: no array buffer bound.
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  if (useTexture) {
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture.texture);
    glEnable(GL_TEXTURE_2D);
  } else {
    glColor3fv(settings->colour);
  }
  glVertexPointer(3, GL_FLOAT, 0, positions.data());
  glNormalPointer(GL_FLOAT, 0, normals.data());
  if (useTexture) {
    glClientActiveTexture(GL_TEXTURE0);
    glBindBuffer(GL_ARRAY_BUFFER, texCoordBuffer);
    glTexCoordPointer(2, GL_FLOAT, 0, nullptr);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  }
  glEnableClientState(GL_NORMAL_ARRAY);
  glEnableClientState(GL_VERTEX_ARRAY);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer);
  glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(indices.size()), GL_UNSIGNED_INT, nullptr);
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  if (useTexture) {
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
  }
}
