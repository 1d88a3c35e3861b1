// Picks and left-button drags in a real window: two tetrahedra, one in
// front of the other on the view axis, seen by the default view.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "FiniteElement.h"
#include "GLWindow.h"
#include "GuiSettings.h"
#include "MaterialProperties.h"
#include "RenderSettings.h"
#include "StateSimulation.h"
#include "TestMeshes.h"
#include "Tetrahedron.h"
#include "Vertex.h"
#include "ZoltControl.h"

namespace {

using zolt::test::Point;

constexpr int kSize = 200, kCentre = kSize / 2;

size_t count(const std::string& s, const std::string& part) {
  size_t n = 0;
  for (size_t at = s.find(part); at != s.npos; at = s.find(part, at + 1)) ++n;
  return n;
}

class ZoltControlPick : public testing::Test {
 protected:
  // Front tetrahedron at z 0.5..1, the back one at z -1..-0.5; both cover
  // the window centre, and their apexes project onto it.
  std::unique_ptr<TetHierarchy> mesh = zolt::test::meshFromCorners(
      {Point{-0.5f, -0.5f, 0.5f}, Point{0.5f, -0.5f, 0.5f}, Point{0.0f, 0.5f, 0.5f},
       Point{0.0f, 0.0f, 1.0f}, Point{-0.5f, -0.5f, -1.0f}, Point{0.5f, -0.5f, -1.0f},
       Point{0.0f, 0.5f, -1.0f}, Point{0.0f, 0.0f, -0.5f}},
      {{0, 1, 2, 3}, {4, 5, 6, 7}});
  std::vector<float> positions;
  SimulationSettings settings;
  RenderSettings render;
  zolt::test::StateSimulation sim{&settings, 8, 3};
  std::unique_ptr<ZoltControl> control;
  FiniteElement* front = nullptr;
  FiniteElement* back = nullptr;

  void SetUp() override {
    zolt::test::openGLWindow("pick", kSize, kSize);
    glViewport(0, 0, kSize, kSize);
    zolt::test::attachCurrentPositions(*mesh, 0, positions);
    for (FiniteElement* e : mesh->elements[0])
      static_cast<Tetrahedron*>(e)->volume = zolt::test::restVolume(*e);
    settings.material = new MaterialProperties;
    settings.material->timeStep = 0.05;
    control = std::make_unique<ZoltControl>(mesh.get(), &sim, &settings, &render);
    guiSettings.windowWidth = guiSettings.windowHeight = kSize;
    front = mesh->elements[0][0];
    back = mesh->elements[0][1];
    control->captureView();
  }
};

TEST_F(ZoltControlPick, TheFrontElementWinsUnlessClipPickingCutsIt) {
  EXPECT_EQ(control->pickElement(kCentre, kCentre), front);
  EXPECT_EQ(control->pickElement(5, 5), nullptr);
  guiSettings.clipPicking = 1;  // the plane keeps z <= 0
  EXPECT_EQ(control->pickElement(kCentre, kCentre), back);
  // Vertices are clipped alike: the back apex, the back four.
  EXPECT_EQ(control->pickNode(kCentre, kCentre), mesh->vertices[0][7]);
  EXPECT_EQ(control->pickNodesInRect(kCentre, kCentre, kSize, kSize).size(), 4u);
}

TEST_F(ZoltControlPick, SqueezeGrowsWithTheDragAndTheReleaseRestoresTheForce) {
  guiSettings.mouseMode = 0;
  control->initDragging(kCentre, kCentre);
  ASSERT_EQ(control->tipElement, front);
  // The view axis (0, 0, 1) shared by the four vertices, pushing inward.
  EXPECT_EQ(sim.log.rfind("purge ", 0), 0u) << sim.log;
  EXPECT_EQ(count(sim.log, "add "), 4u);
  EXPECT_EQ(count(sim.log, " -0.25 "), 4u) << sim.log;
  control->dragByMouseMode(kCentre + 139, kCentre);
  EXPECT_NEAR(settings.forceNorm, 1000.0f * 2.0037f, 0.1f);
  sim.log.clear();
  control->endDragging(kCentre + 139, kCentre);
  EXPECT_EQ(settings.forceNorm, 1000.0f);
  EXPECT_EQ(sim.log, "purge ");
}

TEST_F(ZoltControlPick, APullSharesItsForceAmongTheTipVertices) {
  guiSettings.mouseMode = 1;
  control->initDragging(kCentre, kCentre);
  ASSERT_TRUE(control->dragPending);
  control->dragByMouseMode(kCentre + 10, kCentre);
  control->zoltReact(control->pendingX, control->pendingY);
  // 1.5 time steps x 10 pixels along the screen x axis; equal volumes, so
  // the drag scale cancels; a quarter for each vertex.
  EXPECT_EQ(count(sim.log, "smooth "), 4u);
  EXPECT_EQ(count(sim.log, " 0.1875 0 0 "), 4u) << sim.log;
  control->endDragging(kCentre + 10, kCentre);
  EXPECT_FALSE(control->dragPending);
}

TEST_F(ZoltControlPick, ASmallRectangleIsAClickOnItsCentre) {
  // A pull that starts far away first: the selection takes its own start.
  guiSettings.mouseMode = 1;
  control->initDragging(10, 10);
  control->endDragging(10, 10);
  guiSettings.mouseMode = 5;
  control->initDragging(kCentre - 1, kCentre - 2);
  control->endDragging(kCentre + 2, kCentre + 2);  // 3 x 4 pixels
  const auto& vs = mesh->vertices[0];
  EXPECT_EQ(vs[3]->fixed, 1);  // the front apex alone
  EXPECT_EQ(std::count_if(vs.begin(), vs.end(), [](Vertex* v) { return v->fixed; }), 1);
  EXPECT_EQ(sim.log, "hierarchy ");
  EXPECT_EQ(guiSettings.selectingRectangle, 0);
  // The whole window: 1 flagged against 7 unflagged clears every flag.
  control->mouseButton(kCentre, kCentre, kSize, kSize);
  EXPECT_TRUE(std::none_of(vs.begin(), vs.end(), [](Vertex* v) { return v->fixed; }));
}

}  // namespace
