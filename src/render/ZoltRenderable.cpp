#include "ZoltRenderable.h"

#include <GL/glew.h>
#include <GL/glut.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>

#include "Barrier.h"
#include "DrawableArrays.h"
#include "DrawableFrame.h"
#include "DrawableLinks.h"
#include "FiniteElement.h"
#include "GLUtils.h"
#include "GuiSettings.h"
#include "LinearTexture.h"
#include "Matrix.h"
#include "Program.h"
#include "RenderSettings.h"
#include "RenderSurface.h"
#include "RenderSurfaceFur.h"
#include "ScenePass.h"
#include "Simulation.h"
#include "SimulationSettings.h"
#include "TetHierarchy.h"
#include "Tetrahedron.h"

ZoltRenderable* currentRenderable = nullptr;
uint8_t frameDrawn = 0;
uint8_t displayWallMode = 0;
int displayWallSide = 0;

namespace {

const std::vector<Vertex*>& finestVertices(const TetHierarchy* h) {
  return h->vertices[h->nLevels - 1];
}

const std::vector<FiniteElement*>& finestElements(const TetHierarchy* h) {
  return h->elements[h->nLevels - 1];
}

// The data and length of a simulation vector, or nothing.
void take(Vector<double>* v, const double** data, int* length) {
  *data = v ? v->data : nullptr;
  *length = v && v->data ? v->n : 0;
}

// The object texture from a ".bmp" path (else the default one); a missing
// or unreadable file gives one white texel.
GLuint loadSurfaceTexture(const std::string& path) {
  const std::string file =
      path.find(".bmp") != std::string::npos ? path : std::string("../imageData/texture.bmp");
  GLUtils::BMPImage image{0, 0, nullptr};
  if (GLUtils::readBMP(file.c_str(), &image) && image.data) {
    const GLuint id =
        createLinearTexture(GL_RGB, image.width, image.height, image.data, GL_MIRRORED_REPEAT);
    delete[] image.data;
    return id;
  }
  const unsigned char white[3] = {255, 255, 255};
  return createLinearTexture(GL_RGB, 1, 1, white, GL_MIRRORED_REPEAT);
}

// Every render index in the base colour, with magnitude 0.
void resetColours(std::vector<float>& colours, std::vector<float>& scalars, const float* base) {
  for (size_t k = 0; k < colours.size(); k += 3) std::memcpy(&colours[k], base, 3 * sizeof(float));
  std::fill(scalars.begin(), scalars.end(), 0.0f);
}

GLuint loadSkinRamp() {
  uint8_t rgb[3 * kSkinRampSize];
  buildSkinRamp(rgb);
  GLuint id = 0;
  glGenTextures(1, &id);
  glBindTexture(GL_TEXTURE_1D, id);
  glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  GLUtils::PixelStore unpack(GL_UNPACK_ALIGNMENT, 1);
  glTexImage1D(GL_TEXTURE_1D, 0, GL_RGB, kSkinRampSize, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb);
  glBindTexture(GL_TEXTURE_1D, 0);
  return id;
}

GLuint newBuffer(GLenum target, size_t bytes, const void* data, GLenum usage) {
  GLuint id = 0;
  glGenBuffers(1, &id);
  glBindBuffer(target, id);
  glBufferData(target, static_cast<GLsizeiptr>(bytes), data, usage);
  return id;
}

}  // namespace

ZoltRenderable::ZoltRenderable(TetHierarchy* mesh, RenderSettings* settings, DrawableSource* source)
    : mesh(mesh), settings(settings) {
  currentRenderable = this;
  for (int k = 0; k < 3; ++k) baseColour[k] = settings->colour[k];
  if (source) {
    Simulation* simulation = source->drawnSimulation();
    hasSimulation = simulation != nullptr;
    if (simulation) {
      firstFreeNode = simulation->settings ? simulation->settings->fixedCount : 0;
      components = simulation->dim;
      take(simulation->getDisplacement(), &displacement, &displacementLength);
      take(simulation->getRightSide(), &rightSide, &rightSideLength);
      take(simulation->getResidual(), &residual, &residualLength);
      take(simulation->getStress(), &stress, &stressLength);
    }
    offsets = source->collisionOffsetData();
  }
  if (displayWallMode) {
    std::cout << "[ZoltRenderable] Wait for data from control node ..." << std::endl;
    std::cout << "[ZoltRenderable] Data received." << std::endl;
    frameDrawn = 1;
    wallOffsets.assign(3 * finestVertices(mesh).size(), 0.0f);
    offsets = wallOffsets.data();
    ownsOffsets = 1;
  }
  createOpenGLArrays();
  if (displayWallMode) {
    std::cout << "[ZoltRenderable] Send data to control node ..." << std::endl;
    std::cout << "[ZoltRenderable] Send finished ..." << std::endl;
  }
  initRenderState();
}

void ZoltRenderable::createOpenGLArrays() {
  const std::vector<Vertex*>& vertices = finestVertices(mesh);
  const int n = static_cast<int>(vertices.size());
  vertexCount = n;
  renderIndexOfVertex.resize(n);
  vertexOfRenderIndex.resize(n);
  surfaceVertexCount = buildRenderOrder(vertices, components == 2, renderIndexOfVertex.data(),
                                        vertexOfRenderIndex.data());
  boundaryTriangleCount =
      collectTriangles(finestElements(mesh), renderIndexOfVertex.data(), triangles);
  triangleCount = static_cast<int>(triangles.size() / 3);

  positions.resize(3 * n);
  restPositions.resize(3 * n);
  attachPositions(vertices, renderIndexOfVertex.data(), restPositions.data(), positions.data());

  normals.assign(3 * n, 0.0f);
  for (int r = surfaceVertexCount; r < n; ++r) normals[3 * r + 1] = 1.0f;
  computeNormals();

  texCoords.resize(2 * n);
  computeTexCoords(settings->texCoordMode, settings->texCoordScale, positions.data(),
                   normals.data(), restPositions.data(), n, texCoords.data());

  colours.resize(3 * n);
  colourScalars.resize(n);
  resetColours(colours, colourScalars, baseColour);

  GLUtils::clearGLErrors();
  std::cout << "Generate Vertex Buffer Objects ..." << std::endl;
  uploadArrays();
  if (glGetError() != GL_NO_ERROR)
    std::cout << "[ZoltDrawable, createOpenGLArrays] Error: Creation of Buffer Objects failed "
              << std::endl;
}

void ZoltRenderable::uploadArrays() {
  const size_t n = static_cast<size_t>(vertexCount);
  positionBuffer = newBuffer(GL_ARRAY_BUFFER, 12 * n, positions.data(), GL_DYNAMIC_DRAW);
  normalBuffer = newBuffer(GL_ARRAY_BUFFER, 12 * n, normals.data(), GL_DYNAMIC_DRAW);
  colourBuffer = newBuffer(GL_ARRAY_BUFFER, 12 * n, colours.data(), GL_DYNAMIC_DRAW);
  texCoordBuffer = newBuffer(GL_ARRAY_BUFFER, 8 * n, texCoords.data(), GL_STATIC_DRAW);
  indexBuffer = newBuffer(GL_ELEMENT_ARRAY_BUFFER, 12 * static_cast<size_t>(triangleCount),
                          triangles.data(), GL_STATIC_DRAW);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
}

void ZoltRenderable::computeNormals() {
  ::computeNormals(positions.data(), triangles.data(), boundaryTriangleCount, surfaceVertexCount,
                   normals.data());
}

void ZoltRenderable::initRenderState() {
  pointBox(restPositions.data(), vertexCount, boxMin, boxMax);
  surfaceProgram = nullptr;
  renderSurface = nullptr;
  renderVolume = nullptr;
  shadowMap = nullptr;

  surfaceTexture = loadSurfaceTexture(settings->texturePath);
  skinLutTexture = loadSkinRamp();

  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClearDepth(1.0);
  glDepthFunc(GL_LESS);
  glShadeModel(GL_SMOOTH);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
  glutSetCursor(GLUT_CURSOR_INFO);
  setProjection();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();

  const GLfloat ambient[4] = {0.3f, 0.3f, 0.3f, 1.0f}, one[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  glLightfv(GL_LIGHT1, GL_AMBIENT, ambient);
  glLightfv(GL_LIGHT1, GL_DIFFUSE, one);
  glLightfv(GL_LIGHT1, GL_SPECULAR, one);
  glLightfv(GL_LIGHT1, GL_POSITION, guiSettings.lightPosition);
  glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
  glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, GL_SEPARATE_SPECULAR_COLOR);
  glEnable(GL_LIGHT1);
}

void ZoltRenderable::update() {
  GuiSettings& gui = guiSettings;
  if (gui.surfaceChanged || (!renderSurface && gui.renderSurfaceOn)) createRenderSurface();
  gui.surfaceChanged = 0;
  gui.volumeParametersChanged = 0;

  needsPrepare = 1;
  frameDrawn = 0;
  if (!hasSimulation) return;

  const DofLayout layout{vertexOfRenderIndex.data(), vertexCount, firstFreeNode, components};
  displacePositions(layout, {displacement, displacementLength}, restPositions.data(),
                    positions.data());
  const ColourSources sources{gui.computeResidual != 0,   gui.computeStress != 0,
                              gui.colourByRightSide != 0, {residual, residualLength},
                              {stress, stressLength},     {rightSide, rightSideLength}};
  const ColourBlend blend{baseColour, settings->accentColour, gui.baseForceValue};
  colourVertices(layout, sources, blend, colours.data(), colourScalars.data());

  if (gui.renderSurfaceOn && renderSurface) renderSurface->copyDisplacements();
  if (gui.renderVolumeOn && renderVolume) updateVolumeDisplacements(renderVolume);
}

void ZoltRenderable::applyPendingChanges() {
  GuiSettings& gui = guiSettings;
  if (gui.volumeChanged && renderVolume)
    configureRenderVolume(renderVolume, reinterpret_cast<float*>(&gui.volumeParameters));
  if (gui.furCommand > 0 && renderSurface) runFurCommand(gui.furCommand);
  if (gui.classificationChanged) resetColours(colours, colourScalars, baseColour);
  if (gui.projectionChanged) setProjection();
  if (displayWallMode && settings->barrier && gui.simulationReset)
    settings->barrier->resetPosition();
  gui.classificationChanged = 0;
  gui.volumeChanged = 0;
  gui.furCommand = 0;
  gui.projectionChanged = 0;
  gui.simulationReset = 0;
}

void ZoltRenderable::addCollisionOffsets() {
  const GuiSettings& gui = guiSettings;
  if (offsets) {
    const DofLayout layout{vertexOfRenderIndex.data(), vertexCount, firstFreeNode, components};
    addOffsets(layout, offsets, positions.data());
  }
  if (gui.renderSurfaceOn && renderSurface) renderSurface->addNodeOffsets();
  if (gui.renderVolumeOn && renderVolume) addVolumeOffsets(renderVolume);
}

void ZoltRenderable::runFurCommand(int command) {
  switch (command) {
    case 1:
      renderSurface->scaleFurTexCoords(1.06f);
      break;
    case 2:
      renderSurface->scaleFurTexCoords(0.94f);
      break;
    case 3:
      renderSurface->scaleFurLength(0.9f);
      break;
    case 4:
      renderSurface->scaleFurLength(1.1f);
      break;
    case 5:
      renderSurface->removeFurLayer();
      break;
    case 6:
      renderSurface->addFurLayer();
      break;
    default:
      break;
  }
}

void ZoltRenderable::createRenderSurface() {
  delete renderSurface;
  renderSurface = nullptr;
  GuiSettings& gui = guiSettings;
  const bool fur = gui.furOn != 0;
  const bool shown = gui.renderSurfaceOn != 0;
  std::cout << (fur ? "\nDebug: rSurface = 'RenderSurfaceFur' "
                    : "\nDebug: rSurface = 'RenderSurface' ")
            << std::endl;
  SurfaceLink link;
  link.displacement = displacement;
  link.firstFreeNode = firstFreeNode;
  link.hasSimulation = hasSimulation != 0;
  link.offsets = offsets;
  link.nodeNormals = normals.data();
  link.nodeIndexMap = renderIndexOfVertex.data();
  link.texturing = &gui.texturing;
  link.shadowOn = &gui.shadowOn;
  link.pixelLighting = &gui.pixelLighting;
  link.renderSurfaceOn = &gui.renderSurfaceOn;
  link.furOn = &gui.furOn;
  link.lightPosition = gui.lightPosition;
  link.frameLightPosition = gui.frameLightPosition;
  renderSurface = fur ? new RenderSurfaceFur(link, mesh, settings)
                      : new RenderSurface(link, mesh, settings, false);
  // A model is never left invisible: a surface meant to be shown that has no
  // geometry leaves the mesh on.
  if (shown && !gui.renderSurfaceOn) gui.drawSimulationMesh = 1;
}

void ZoltRenderable::revealElements(std::vector<FiniteElement*>& elements) {
  const std::vector<Vertex*>& vertices = finestVertices(mesh);
  std::vector<int> newSurface;
  std::vector<Vertex*> faces;
  for (FiniteElement* e : elements) {
    auto* t = dynamic_cast<Tetrahedron*>(e);
    if (!t || !t->cut) continue;
    t->cut = 0;
    std::cout << "Tet" << std::endl;
    for (int i = 0; i < e->degreeOfFreedom(); ++i) {
      Vertex* v = e->getVertex(i);
      if (v->onSurface) continue;
      newSurface.push_back(v->index);
      std::cout << "New Surface Vertex " << renderIndexOfVertex[v->index] << std::endl;
      v->onSurface = 1;
    }
    e->collectBoundaryFaces(faces);
    e->collectInnerFaces(faces);
  }

  const RenderSlots slots{renderIndexOfVertex.data(),
                          vertexOfRenderIndex.data(),
                          positions.data(),
                          restPositions.data(),
                          normals.data(),
                          texCoords.data(),
                          colours.data(),
                          colourScalars.data()};
  std::vector<int> newOfOld;
  surfaceVertexCount =
      moveIntoSurface(slots, vertexCount, surfaceVertexCount, newSurface, newOfOld);
  pointCurrentPositions(vertices, renderIndexOfVertex.data(), positions.data());

  std::vector<uint32_t> faceIndices(faces.size());
  for (size_t k = 0; k < faces.size(); ++k)
    faceIndices[k] = static_cast<uint32_t>(renderIndexOfVertex[faces[k]->index]);
  reworkTriangles(triangles, boundaryTriangleCount, newOfOld, faceIndices, surfaceVertexCount);

  glBindBuffer(GL_ARRAY_BUFFER, texCoordBuffer);
  glBufferSubData(GL_ARRAY_BUFFER, 0, 8 * static_cast<GLsizeiptr>(vertexCount), texCoords.data());
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer);
  glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, 0, 12 * static_cast<GLsizeiptr>(triangleCount),
                  triangles.data());
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
}

ZoltRenderable::~ZoltRenderable() {
  if (currentRenderable == this) currentRenderable = nullptr;
  frameDrawn = 0;
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glutPostRedisplay();
  delete surfaceProgram;
  delete renderSurface;
  deleteRenderVolume(renderVolume);
  deleteShadowMap(shadowMap);
  glDeleteTextures(1, &surfaceTexture);
  glDeleteTextures(1, &skinLutTexture);
  const GLuint buffers[5] = {positionBuffer, normalBuffer, texCoordBuffer, colourBuffer,
                             indexBuffer};
  glDeleteBuffers(5, buffers);
}
