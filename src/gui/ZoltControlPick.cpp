// Selection-mode picking of elements and vertices against the view captured
// at the drag start, and ray picks through the point under the pointer.

#include <GL/glew.h>
#include <GL/glu.h>

#include <vector>

#include "FiniteElement.h"
#include "GLUtils.h"
#include "GuiSettings.h"
#include "MouseDrag.h"
#include "SceneMatrices.h"
#include "TetHierarchy.h"
#include "Vertex.h"
#include "ZoltControl.h"

namespace {

// The scene's projection for the current view words, without a pick region.
void multiplyViewProjection() {
  const GuiSettings& g = guiSettings;
  const double aspect = double(g.windowWidth) / (g.windowHeight > 0 ? g.windowHeight : 1);
  float m[16];
  if (g.perspectiveProjection)
    mat4::perspective(45.0, aspect, 0.1, 100.0, m);
  else
    mat4::ortho(aspect * g.zoom / 2, -aspect * g.zoom / 2, g.zoom / 2, -g.zoom / 2, -100.0, 100.0,
                m);
  glMultMatrixf(m);
}

// A selection pass: both matrices pushed, the drag view and the pick
// projection loaded, fixed-function filled front faces; draw(i) draws
// name i. Returns the hit count, or -1 on overflow.
template <class Draw>
int selectionPass(const ZoltControl& c, int x, int y, int w, int h, std::vector<uint32_t>& buffer,
                  int names, Draw draw) {
  const GuiSettings& g = guiSettings;
  glSelectBuffer(static_cast<GLsizei>(buffer.size()), buffer.data());
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadMatrixf(c.dragView);
  glPushAttrib(GL_ENABLE_BIT | GL_POLYGON_BIT | GL_TRANSFORM_BIT);
  GLint program = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &program);
  glUseProgram(0);
  glDisable(GL_LIGHTING);
  glDisable(GL_TEXTURE_2D);
  glPolygonMode(GL_FRONT, GL_FILL);
  glEnable(GL_CULL_FACE);
  glCullFace(GL_BACK);
  if (g.clipPicking) {
    glClipPlane(GL_CLIP_PLANE0, g.clipPlaneEquation);
    glEnable(GL_CLIP_PLANE0);
  }
  glRenderMode(GL_SELECT);
  setPickProjection(x, y, w, h);
  glInitNames();
  glPushName(0);
  for (int i = 0; i < names; ++i) {
    glLoadName(static_cast<GLuint>(i));
    draw(i);
  }
  const int hits = glRenderMode(GL_RENDER);
  glUseProgram(program);
  glPopAttrib();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  return hits;
}

// Vertices of the finest level as points of size 10 in a w x h region.
std::vector<int> pickVertices(const ZoltControl& c, int x, int y, int w, int h, size_t words,
                              bool nearest) {
  const std::vector<Vertex*>& vertices = c.hierarchy->vertices[c.hierarchy->nLevels - 1];
  std::vector<uint32_t> buffer(words);
  GLfloat pointSize = 1.0f;
  glGetFloatv(GL_POINT_SIZE, &pointSize);
  glPointSize(10.0f);
  const int hits =
      selectionPass(c, x, y, w, h, buffer, static_cast<int>(vertices.size()), [&](int i) {
        if (!vertices[i]->currentPosition) return;
        glBegin(GL_POINTS);
        glVertex3fv(vertices[i]->currentPosition);
        glEnd();
      });
  glPointSize(pointSize);
  if (!nearest) return allHits(buffer.data(), static_cast<int>(words), hits);
  const int name = nearestHit(buffer.data(), static_cast<int>(words), hits);
  return name >= 0 ? std::vector<int>{name} : std::vector<int>{};
}

}  // namespace

void setPickProjection(int x, int y, int w, int h) {
  const GuiSettings& g = guiSettings;
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPickMatrix(x, g.windowHeight - y, w, h, viewport);
  multiplyViewProjection();
  glMatrixMode(GL_MODELVIEW);
}

FiniteElement* ZoltControl::pickElement(int x, int y) {
  const std::vector<FiniteElement*>& elements = hierarchy->elements[hierarchy->nLevels - 1];
  std::vector<uint32_t> buffer(1024);
  const bool allFaces = guiSettings.clipPicking != 0;
  const int hits =
      selectionPass(*this, x, y, 1, 1, buffer, static_cast<int>(elements.size()), [&](int i) {
        glBegin(GL_TRIANGLES);
        elements[i]->draw(!allFaces);
        glEnd();
      });
  const int name = nearestHit(buffer.data(), static_cast<int>(buffer.size()), hits);
  return name >= 0 && name < static_cast<int>(elements.size()) ? elements[name] : nullptr;
}

Vertex* ZoltControl::pickNode(int x, int y) {
  const std::vector<Vertex*>& vertices = hierarchy->vertices[hierarchy->nLevels - 1];
  for (int name : pickVertices(*this, x, y, 10, 10, 128, true))
    if (name < static_cast<int>(vertices.size())) return vertices[name];
  return nullptr;
}

std::vector<Vertex*> ZoltControl::pickNodesInRect(int cx, int cy, int w, int h) {
  const std::vector<Vertex*>& vertices = hierarchy->vertices[hierarchy->nLevels - 1];
  std::vector<Vertex*> found;
  for (int name : pickVertices(*this, cx, cy, w, h, 16384, false))
    if (name < static_cast<int>(vertices.size())) found.push_back(vertices[name]);
  return found;
}

namespace {

// The ray from the captured eye through the model-space point under (x, y).
bool pointerRay(const ZoltControl& c, int x, int y, float* origin, float* direction) {
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  multiplyViewProjection();
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadMatrixf(c.dragView);
  float point[3], depth = 0.0f;
  const bool ok = GLUtils::pickPoint(x, y, point, true, &depth);
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  if (!ok) return false;
  eyePosition(c.dragView, origin);
  for (int i = 0; i < 3; ++i) direction[i] = point[i] - origin[i];
  return true;
}

}  // namespace

std::vector<FiniteElement*> ZoltControl::findElementAt(int x, int y) {
  captureView();
  float origin[3], direction[3];
  if (!pointerRay(*this, x, y, origin, direction)) return {};
  return hierarchy->pickElements(direction, origin, false, 0.0f);
}

void ZoltControl::beginPick(int x, int y) {
  if (pickBusy) return;
  pickBusy = true;
  captureView();
  float origin[3], direction[3];
  // Nothing uses the elements found yet.
  if (pointerRay(*this, x, y, origin, direction))
    hierarchy->pickElements(direction, origin, true, 0.2f);
}
