// Drag arithmetic and selection records against closed forms.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "MouseDrag.h"
#include "ViewRotation.h"

namespace {

TEST(MouseDrag, SqueezeDoublesEvery139PixelsRightOrUp) {
  const struct {
    int dx, dy;
    float factor;
  } rows[] = {{139, 0, 2.0037f}, {0, 139, 2.0037f}, {139, -139, 1.0f}, {-139, 0, 0.49908f}};
  for (const auto& r : rows)
    EXPECT_NEAR(squeezeForceNorm(1000.0f, r.dx, r.dy), 1000.0f * r.factor, 0.05f) << r.dx << r.dy;
}

TEST(MouseDrag, PullFollowsTheScreenAxesOfTheCapturedView) {
  // A view turned away from the identity, shifted and zoomed.
  float R[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, view[16];
  double axis[3];
  rotateViewMatrix(R, 35.0f, -50.0f);
  captureDragView(R, 0.3f, -0.2f, -4.0f, view, axis);
  // Screen components of the force over the step scale.
  // clang-format off
  const struct { int dx, dy; bool shift; double right, up; } rows[] = {
      {10, 0, false, 10, 0}, {0, -7, false, 0, -7}, {10, 0, true, 10, 0}, {20, 0, true, 40, 0},
      {-20, 10, true, -40, 10}};
  // clang-format on
  // Back to the screen through the rotation: R v + t.
  auto screen = [&view](const auto* v, int i, double t) {
    return view[i] * v[0] + view[4 + i] * v[1] + view[8 + i] * v[2] + t;
  };
  for (const auto& r : rows) {
    double f[3];
    pullForce(view, 0.5f, r.dx, r.dy, r.shift, f);
    for (int i = 0; i < 3; ++i)
      EXPECT_NEAR(screen(f, i, 0), 0.5 * (i == 0 ? r.right : i == 1 ? r.up : 0.0), 1e-5) << r.dx;
  }
  // The view axis is the screen's z axis in model space; the eye maps to
  // the view's origin.
  float eye[3];
  eyePosition(view, eye);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(axis[i], view[4 * i + 2]);
    EXPECT_NEAR(screen(eye, i, view[12 + i]), 0.0, 1e-6);
  }
}

TEST(MouseDrag, RectangleVote) {
  const struct {
    int flagged, unflagged;
    uint8_t flag;
  } rows[] = {{3, 2, 1}, {2, 3, 0}, {0, 5, 1}, {5, 0, 0}, {2, 2, 0}, {0, 0, 1}};
  for (const auto& r : rows)
    EXPECT_EQ(rectangleFlag(r.flagged, r.unflagged), r.flag) << r.flagged << " " << r.unflagged;
}

TEST(MouseDrag, SelectionRecords) {
  // Records: names count, min depth, max depth, names.
  const uint32_t buffer[] = {1, 500, 900, 4, 2, 300, 400, 7, 8, 1, 300, 310, 2, 0, 100, 100};
  const struct {
    int size, hits, nearest;
    std::vector<int> all;
  } rows[] = {{16, 3, 2, {4, 8, 2}},  // a tie goes to the later record; the last name counts
              {16, 4, 2, {4, 8, 2}},  // a record without names is skipped
              {16, -1, -1, {}},       // overflow
              {12, 3, -1, {}},        // a record past the buffer's end
              {16, 1, 4, {4}}};
  for (const auto& r : rows) {
    EXPECT_EQ(nearestHit(buffer, r.size, r.hits), r.nearest) << r.hits;
    EXPECT_EQ(allHits(buffer, r.size, r.hits), r.all) << r.hits;
  }
}

}  // namespace
