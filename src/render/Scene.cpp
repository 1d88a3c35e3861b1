// display and renderScene: the frame, in the order the window expects it.

// clang-format off
#include <GL/glew.h>  // before any other GL header
#include <GL/freeglut.h>
// clang-format on

#include "Scene.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "Barrier.h"
#include "DrawableArrays.h"
#include "FiniteElement.h"
#include "GLUtils.h"
#include "GuiSettings.h"
#include "Program.h"
#include "RenderSettings.h"
#include "RenderSurface.h"
#include "Run.h"
#include "SceneLinks.h"
#include "SceneMatrices.h"
#include "ScenePass.h"
#include "TetHierarchy.h"
#include "Threads.h"
#include "Vertex.h"
#include "ZoltRenderable.h"

void (*sceneOverlay)() = nullptr;

namespace {

// The selection rectangle's corners in window pixels.
bool selectionStarted = false;
int selectionStart[2] = {0, 0};

// The clip plane, copied out of the packed block, which keeps its doubles
// only 4-byte aligned.
void clipPlane(const GuiSettings& g, double* plane) {
  std::memcpy(plane, reinterpret_cast<const char*>(&g) + offsetof(GuiSettings, clipPlaneEquation),
              4 * sizeof(double));
}

const std::vector<Vertex*>& finestVertices(const ZoltRenderable* d) {
  return d->mesh->vertices[d->mesh->nLevels - 1];
}

const std::vector<FiniteElement*>& finestElements(const ZoltRenderable* d) {
  return d->mesh->elements[d->mesh->nLevels - 1];
}

// ---- display ----------------------------------------------------------------

void drawNoModel(const GuiSettings& g) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glColor3f(1.0f, 1.0f, 1.0f);
  drawCenteredText(0.0f, 0.0f, noModelText(g.modelLoaded));
  // Where the panel's strip does not cover it, the way back to the model list.
  if (!g.modelLoaded) {
    glColor3f(1.0f, 0.0f, 0.1f);
    drawText(0.7f, 0.95f, kControlsHintText);
  }
  if (g.groundTexture) drawLogoOverlay();
  if (sceneOverlay) sceneOverlay();
  glutSwapBuffers();
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void drawAxes() {
  const float axes[3][3] = {{0, 1, 1}, {1, 0, 1}, {1, 1, 0}};
  glBegin(GL_LINES);
  for (int a = 0; a < 3; ++a) {
    glColor3fv(axes[a]);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glVertex3f(a == 0 ? 100000.0f : 0.0f, a == 1 ? 100000.0f : 0.0f, a == 2 ? 100000.0f : 0.0f);
  }
  glEnd();
}

void setPolygonMode(int renderMode) {
  glDisable(GL_CULL_FACE);
  switch (renderMode) {
    case 0:
      glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
      break;
    case 1:
      glEnable(GL_CULL_FACE);
      glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
      break;
    case 2:
      glPolygonMode(GL_FRONT, GL_LINE);
      glPolygonMode(GL_BACK, GL_FILL);
      break;
    case 3:
      glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
      break;
    default:
      glPolygonMode(GL_FRONT, GL_FILL);
  }
}

// Head-up texts, screenshot and movie frame, logo and selection rectangle,
// in device coordinates.
void drawHeadUp(GuiSettings& g) {
  const HudPlan plan = planHud(g.recordFrames, g.saveFrames, g.maxFps, g.panelAutoHide,
                               g.showPointerSprite, g.windowWidth, g.windowHeight);
  if (plan.fpsLabel) {
    glColor3f(1.0f, 0.0f, 0.1f);
    drawText(-0.95f, 0.95f, plan.fpsLabel);
    if (plan.controlsHint) drawText(0.7f, 0.95f, kControlsHintText);
  }
  if (plan.clearSaveRequest) g.saveFrames = 0;
  if (plan.drawSprite) drawPointerSprite(g.pointerX, g.pointerY, g.windowWidth, g.windowHeight);
  if (plan.saveFrame) GLUtils::saveScreenshot(moviesPath.c_str(), false);
  if (plan.recordingLabel) {
    glColor4f(1.0f, 0.0f, 0.1f, 1.0f);
    drawText(-0.95f, 0.95f, kRecordingText);
  }
  if (g.groundTexture) drawLogoOverlay();
  if (g.selectingRectangle) {
    if (!selectionStarted) {
      selectionStart[0] = g.pointerX;
      selectionStart[1] = g.pointerY;
      selectionStarted = true;
    }
    const int end[2] = {g.pointerX, g.pointerY};
    drawSelectionRectangle(selectionStart, end, g.windowWidth, g.windowHeight);
  } else {
    selectionStarted = false;
  }
}

}  // namespace

void display() {
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  GuiSettings& g = guiSettings;
  ZoltRenderable* drawable = currentRenderable;
  if (!drawable) {
    drawNoModel(g);
    return;
  }
  if (frameDrawn && !g.paused) return;
  if (!frameDrawn && !g.paused) frameDrawn = drawable->hasSimulation;

  glViewport(0, 0, g.windowWidth, g.windowHeight);
  glEnable(GL_DEPTH_TEST);
  glTranslatef(g.shiftX, g.shiftY, g.zoom);
  glMultMatrixf(g.viewRotation);
  if (g.showAxes) drawAxes();
  if (g.lightingOn) {
    glEnable(GL_LIGHTING);
    glEnable(GL_NORMALIZE);
  }
  setPolygonMode(g.renderMode);
  double plane[4];
  clipPlane(g, plane);
  if (g.clipPlaneOn) {
    glClipPlane(GL_CLIP_PLANE0, plane);
    glEnable(GL_CLIP_PLANE0);
  }
  renderScene(drawable);
  glDisable(GL_LIGHTING);
  glDisable(GL_NORMALIZE);
  glDisable(GL_CULL_FACE);
  glDisable(GL_CLIP_PLANE0);
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  if (g.showGround) drawGroundPlane(plane, g.zoom, g.groundOrientation, g.groundTexture);

  glDisable(GL_DEPTH_TEST);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  drawHeadUp(g);
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  if (displayWallMode) returnZeroStub();
  if (sceneOverlay) sceneOverlay();
  glutSwapBuffers();
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// ---- renderScene ----------------------------------------------------------------

namespace {

// The box of the displaced surface vertices, widened by a twentieth on each
// side for a render surface, which may reach beyond the mesh.
void shadowBox(const ZoltRenderable* d, bool widen, float* lo, float* hi) {
  pointBox(d->positions.data(), d->surfaceVertexCount, lo, hi);
  if (!widen) return;
  for (int i = 0; i < 3; ++i) {
    lo[i] -= 0.05f * (hi[i] - lo[i]);
    hi[i] += 0.05f * (hi[i] - lo[i]);
  }
}

void uploadPositions(const ZoltRenderable* d, int count) {
  glBindBuffer(GL_ARRAY_BUFFER, d->positionBuffer);
  glBufferSubData(GL_ARRAY_BUFFER, 0, 12 * static_cast<GLsizeiptr>(count), d->positions.data());
}

// The depth pass from the light into the shadow map.
void renderShadowDepth(ZoltRenderable* d, const GuiSettings& g) {
  ShadowMap* sm = d->shadowMap;
  glPushAttrib(GL_COLOR_BUFFER_BIT | GL_VIEWPORT_BIT | GL_DEPTH_BUFFER_BIT | GL_POLYGON_BIT);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadMatrixf(sm->lightMatrix);
  glViewport(0, 0, sm->size, sm->size);
  glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
  glEnable(GL_CULL_FACE);
  glCullFace(GL_FRONT);
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  glEnable(GL_POLYGON_OFFSET_FILL);
  glPolygonOffset(3.0f, 5.0f);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, sm->framebuffer);
  glClear(GL_DEPTH_BUFFER_BIT);
  sm->depthProgram->Enable();
  if (g.renderSurfaceOn && d->renderSurface) {
    d->renderSurface->depthPass = 1;
    d->renderSurface->render();
    d->renderSurface->depthPass = 0;
  } else {
    uploadPositions(d, d->surfaceVertexCount);
    glVertexPointer(3, GL_FLOAT, 0, nullptr);
    glEnableClientState(GL_VERTEX_ARRAY);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, d->indexBuffer);
    glDrawElements(GL_TRIANGLES, 3 * d->boundaryTriangleCount, GL_UNSIGNED_INT, nullptr);
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
  }
  sm->depthProgram->Disable();
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  glDisable(GL_POLYGON_OFFSET_FILL);
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glPopAttrib();
  glActiveTexture(GL_TEXTURE0);
}

// Creates, refits and renders the shadow map, or frees it with shadows off.
// Leaves the shadow texture matrix pushed on unit 1 while shadows are on.
void prepareShadows(ZoltRenderable* d, GuiSettings& g) {
  if (!g.shadowOn) {
    deleteShadowMap(d->shadowMap);
    d->shadowMap = nullptr;
    return;
  }
  if (!d->shadowMap) {
    d->shadowMap = createShadowMap();
    if (!d->shadowMap) {
      // Reported by createShadowMap; the program is rebuilt without shadows.
      g.shadowOn = 0;
      g.coloursChanged = 1;
      return;
    }
  }
  ShadowMap* sm = d->shadowMap;
  float lo[3], hi[3];
  shadowBox(d, g.renderSurfaceOn && d->renderSurface, lo, hi);
  float view[16];
  std::copy(g.viewRotation, g.viewRotation + 16, view);
  view[12] = g.shiftX;
  view[13] = g.shiftY;
  view[14] = g.zoom;
  computeLightMatrices(sm, g.lightPosition, lo, hi, g.lightFixedToModel ? nullptr : view);
  renderShadowDepth(d, g);
  glActiveTexture(GL_TEXTURE1);
  glBindTexture(GL_TEXTURE_2D, sm->depthTexture);
  glMatrixMode(GL_TEXTURE);
  glPushMatrix();
  glLoadMatrixf(sm->shadowTextureMatrix);
  sm->textureMatrixPushed = 1;
  glMatrixMode(GL_MODELVIEW);
  glActiveTexture(GL_TEXTURE0);
}

void finishShadows(ZoltRenderable* d) {
  if (!d->shadowMap || !d->shadowMap->textureMatrixPushed) return;
  glActiveTexture(GL_TEXTURE1);
  glBindTexture(GL_TEXTURE_2D, 0);
  glMatrixMode(GL_TEXTURE);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glActiveTexture(GL_TEXTURE0);
  d->shadowMap->textureMatrixPushed = 0;
}

void frameLight(GuiSettings& g) {
  const float* l = g.lightPosition;
  if (!g.lightFixedToModel) {
    std::copy(l, l + 3, g.frameLightPosition);
    return;
  }
  const float* m = g.viewRotation;
  const float shift[3] = {g.shiftX, g.shiftY, g.zoom};
  for (int i = 0; i < 3; ++i)
    g.frameLightPosition[i] =
        m[i] * l[0] + m[4 + i] * l[1] + m[8 + i] * l[2] + m[12 + i] * l[3] + shift[i];
}

void prepareSurfaceProgram(ZoltRenderable* d, GuiSettings& g) {
  if (!g.pixelLighting) {
    delete d->surfaceProgram;
    d->surfaceProgram = nullptr;
    return;
  }
  if (g.coloursChanged || !d->surfaceProgram) {
    delete d->surfaceProgram;
    d->surfaceProgram = nullptr;
    buildShadowShaders(d, g.texturing);
    g.coloursChanged = 0;
  }
  d->surfaceProgram->Enable();
  if (g.shadowOn) d->surfaceProgram->SetUniformVector("maxShadow", 0.5f, 0.0f, 0.0f, 0.0f);
  d->surfaceProgram->SetUniformVector("vLightPos", g.frameLightPosition);
  d->surfaceProgram->Disable();
}

// Vertices uploaded and triangles drawn by the mesh pass.
int drawnVertexCount(const ZoltRenderable* d, const GuiSettings& g) {
  return g.surfaceOnly ? d->surfaceVertexCount : d->vertexCount;
}

void drawMeshSurface(ZoltRenderable* d, const GuiSettings& g) {
  const bool program = g.pixelLighting && d->surfaceProgram;
  if (program) d->surfaceProgram->Enable();
  glColor3fv(d->baseColour);
  const int n = drawnVertexCount(d, g);
  if (g.texturing) {
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, d->surfaceTexture);
    glEnable(GL_TEXTURE_2D);
    glBindBuffer(GL_ARRAY_BUFFER, d->texCoordBuffer);
    glClientActiveTexture(GL_TEXTURE0);
    glTexCoordPointer(2, GL_FLOAT, 0, nullptr);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  }
  if (g.colourByRightSide || g.computeStress || g.computeResidual) {
    glBindBuffer(GL_ARRAY_BUFFER, d->colourBuffer);
    glBufferSubData(GL_ARRAY_BUFFER, 0, 12 * static_cast<GLsizeiptr>(n), d->colours.data());
    glColorPointer(3, GL_FLOAT, 0, nullptr);
    glEnableClientState(GL_COLOR_ARRAY);
  }
  if (g.skinShading) {
    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_1D, d->skinLutTexture);
    glActiveTexture(GL_TEXTURE0);
  }
  uploadPositions(d, n);
  glVertexPointer(3, GL_FLOAT, 0, nullptr);
  glEnableClientState(GL_VERTEX_ARRAY);
  glBindBuffer(GL_ARRAY_BUFFER, d->normalBuffer);
  glBufferSubData(GL_ARRAY_BUFFER, 0, 12 * static_cast<GLsizeiptr>(n), d->normals.data());
  glNormalPointer(GL_FLOAT, 0, nullptr);
  glEnableClientState(GL_NORMAL_ARRAY);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, d->indexBuffer);
  const int triangles = g.surfaceOnly ? d->boundaryTriangleCount : d->triangleCount;
  glDrawElements(GL_TRIANGLES, 3 * triangles, GL_UNSIGNED_INT, nullptr);

  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glActiveTexture(GL_TEXTURE2);
  glBindTexture(GL_TEXTURE_1D, 0);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, 0);
  glDisable(GL_TEXTURE_2D);
  if (program) d->surfaceProgram->Disable();
}

void drawBarrier(ZoltRenderable* d, const GuiSettings& g) {
  Barrier* barrier = d->settings->barrier;
  if (!barrier) return;
  if (displayWallMode) barrier->move();
  const float none[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, none);
  const bool program = g.pixelLighting && d->surfaceProgram;
  if (program) {
    d->surfaceProgram->Enable();
    if (g.shadowOn) d->surfaceProgram->SetUniformVector("maxShadow", 0.15f, 0.0f, 0.0f, 0.0f);
  }
  barrier->draw(g.texturing != 0);
  if (program) d->surfaceProgram->Disable();
}

void attenuatedPoints(float size) {
  const float attenuation[3] = {0.25f, 0.5f, 0.5f};
  glPointSize(size);
  glPointParameterfv(GL_POINT_DISTANCE_ATTENUATION, attenuation);
}

// Painted stiffness (mode 3) or density (mode 4) per element: blue above 1,
// green below, on a log scale.
void drawPaintedElements(const ZoltRenderable* d, const GuiSettings& g) {
  glPolygonMode(GL_FRONT, GL_FILL);
  if (g.nonTetrahedralElements) {
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendColor(0.0f, 0.0f, 0.0f, 0.5f);
    glBlendFunc(GL_CONSTANT_ALPHA, GL_ONE_MINUS_CONSTANT_ALPHA);
  }
  const bool stiffness = g.mouseMode == 3;
  const double scale = std::log(stiffness ? 125.0 : 16.0);
  glBegin(GL_TRIANGLES);
  for (const FiniteElement* e : finestElements(d)) {
    const float s = stiffness ? e->getStiffness() : e->getDensity();
    if (s == 1.0f) continue;
    const float f = static_cast<float>(std::log(s) / scale);
    if (s > 1.0f)
      glColor3f(0.0f, 0.0f, f);
    else
      glColor3f(0.0f, -f, 0.0f);
    e->draw(false);
  }
  glEnd();
  glDisable(GL_BLEND);
  glEnable(GL_DEPTH_TEST);
}

void drawPointArrays(const ZoltRenderable* d, int count, bool coloured) {
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glVertexPointer(3, GL_FLOAT, 0, d->positions.data());
  glEnableClientState(GL_VERTEX_ARRAY);
  if (coloured) {
    glColorPointer(3, GL_FLOAT, 0, d->colours.data());
    glEnableClientState(GL_COLOR_ARRAY);
  }
  glDrawArrays(GL_POINTS, 0, count);
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
}

// Node selection: green unselected, red selected fixed, orange selected free.
void drawNodeSelection(ZoltRenderable* d, const GuiSettings& g) {
  attenuatedPoints(50.0f);
  glEnable(GL_POINT_SMOOTH);
  for (const Vertex* v : finestVertices(d)) {
    float* c = &d->colours[3 * d->renderIndexOfVertex[v->index]];
    const bool fixed = v->index < d->firstFreeNode;
    c[0] = v->fixed ? 1.0f : 0.0f;
    c[1] = v->fixed ? (fixed ? 0.0f : 0.5f) : 1.0f;
    c[2] = 0.0f;
  }
  drawPointArrays(d, drawnVertexCount(d, g), true);
  glDisable(GL_POINT_SMOOTH);
}

void drawPartitions(const ZoltRenderable* d) {
  attenuatedPoints(30.0f);
  glEnable(GL_POINT_SMOOTH);
  const TetHierarchy* h = d->mesh;
  const std::vector<FiniteElement*>& elements = finestElements(d);
  glBegin(GL_POINTS);
  for (size_t k = 0; k < elements.size(); ++k) {
    const FiniteElement* e = elements[k];
    if (h->partitionOfElement && h->nPartitions > 0) {
      const float p = float(h->partitionOfElement[k]) / h->nPartitions;
      glColor3f(p, 1.0f - p, 0.0f);
    } else {
      glColor3f(1.0f, 0.0f, 0.0f);
    }
    float mean[3] = {0.0f, 0.0f, 0.0f};
    const int n = e->degreeOfFreedom();
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < 3; ++j) mean[j] += e->getVertex(i)->currentPosition[j] / n;
    glVertex3fv(mean);
  }
  glEnd();
  glDisable(GL_POINT_SMOOTH);
}

void drawDisplacementLines(const ZoltRenderable* d) {
  glColor3f(0.0f, 1.0f, 0.0f);
  glBegin(GL_LINES);
  for (const Vertex* v : finestVertices(d)) {
    if (v->fixed || !v->currentPosition) continue;
    glVertex3fv(v->restPosition);
    glVertex3fv(v->currentPosition);
  }
  glEnd();
}

void drawBoundingBox(const ZoltRenderable* d) {
  const float* b[2] = {d->boxMin, d->boxMax};
  glColor3f(1.0f, 0.0f, 0.0f);
  glBegin(GL_LINES);
  // Each edge joins two corners that differ in one axis.
  for (int c = 0; c < 8; ++c)
    for (int axis = 0; axis < 3; ++axis) {
      if (c & (1 << axis)) continue;
      const int e = c | (1 << axis);
      glVertex3f(b[c & 1][0], b[(c >> 1) & 1][1], b[(c >> 2) & 1][2]);
      glVertex3f(b[e & 1][0], b[(e >> 1) & 1][1], b[(e >> 2) & 1][2]);
    }
  glEnd();
}

void drawDebugOverlays(ZoltRenderable* d, const GuiSettings& g) {
  if (g.mouseMode == 3 || g.mouseMode == 4) drawPaintedElements(d, g);
  if (g.mouseMode == 5) drawNodeSelection(d, g);
  if (g.showVertices) {
    attenuatedPoints(25.0f);
    glColor3f(1.0f, 1.0f, 0.0f);
    drawPointArrays(d, drawnVertexCount(d, g), false);
  }
  if (g.showPartitions) drawPartitions(d);
  if (g.showDisplacementLines && d->hasSimulation) drawDisplacementLines(d);
  if (g.showBoundingBox) drawBoundingBox(d);
}

}  // namespace

void buildShadowShaders(ZoltRenderable* drawable, bool textured) {
  const GuiSettings& g = guiSettings;
  drawable->surfaceProgram =
      buildSurfaceProgram(textured, g.shadowOn != 0, g.skinShading != 0, g.lightPosition);
}

void renderScene(ZoltRenderable* d) {
  GuiSettings& g = guiSettings;
  if (d->needsPrepare) {
    d->applyPendingChanges();
    d->needsPrepare = 0;
  }
  if (d->components == 2) glDisable(GL_DEPTH_TEST);
  for (int i = 0; i < 3; ++i) d->baseColour[i] = g.texturing ? 1.0f : d->settings->colour[i];
  const bool surface = g.renderSurfaceOn && d->renderSurface;
  if (surface) {
    d->computeNormals();
    d->renderSurface->update();
  } else if (g.threeDimensional && g.drawSimulationMesh) {
    d->computeNormals();
  }
  glEnable(GL_COLOR_MATERIAL);
  glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
  glMaterialfv(GL_FRONT, GL_SPECULAR, d->settings->specularColour);
  glMateriali(GL_FRONT, GL_SHININESS, std::clamp(d->settings->shininess, 0, 128));

  prepareShadows(d, g);
  frameLight(g);
  prepareSurfaceProgram(d, g);
  if (g.drawSimulationMesh) drawMeshSurface(d, g);
  glDisable(GL_POLYGON_OFFSET_LINE);
  glDisable(GL_POLYGON_OFFSET_FILL);
  drawBarrier(d, g);
  if (surface) d->renderSurface->render();
  finishShadows(d);
  glDisable(GL_COLOR_MATERIAL);
  glDisable(GL_LIGHTING);
  glDisable(GL_NORMALIZE);
  if (g.renderVolumeOn && d->renderVolume) drawRenderVolume(d->renderVolume);
  drawDebugOverlays(d, g);
  const float* c = d->settings->extraColour;
  glClearColor(c[0], c[1], c[2], c[3]);
}
