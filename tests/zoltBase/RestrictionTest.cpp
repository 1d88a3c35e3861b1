#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "Capture.h"
#include "FiniteElement.h"
#include "PackedMatrix.h"
#include "TestMeshes.h"

using namespace zolt::test;

using zolt::test::captureStderr;
using zolt::test::captureStdout;

namespace {

struct Counts {
  int entries = 0, ones = 0, halves = 0;
};

Counts count(const PackedMatrix<double>& R) {
  Counts c;
  for (int k = 0; k < R.nnz; ++k) {
    ++c.entries;
    c.ones += R.entries[k].val == 1.0;
    c.halves += R.entries[k].val == 0.5;
  }
  return c;
}

// Affine field, one value per component.
double field(const float* p, int d) { return 0.5 + (d + 1) * p[0] - 2.0 * p[1] + 0.25 * d * p[2]; }

}  // namespace

TEST(Restriction, OneTetrahedronRefinedOnce) {
  auto h = singleTetrahedron(2);
  h->generateRestrictions(0, 0, 3, 0.005f);
  const PackedMatrix<double>& R = *h->restriction[0];
  EXPECT_EQ(R.nRow, 12);
  EXPECT_EQ(R.nCol, 30);
  Counts c = count(R);
  EXPECT_EQ(c.entries, 48);
  EXPECT_EQ(c.ones, 12);
  EXPECT_EQ(c.halves, 36);
  EXPECT_FALSE(R.symmetric);
  for (int i = 0; i < R.nRow; ++i)
    for (int k = 1; k < R.rowLen[i]; ++k) EXPECT_LT(R.rowStart[i][k - 1].col, R.rowStart[i][k].col);
}

TEST(Restriction, ProlongationReproducesAffineFields) {
  for (int dim : {2, 3}) {
    auto h = box(2, 1, 1, 0.5f, 3);
    h->generateRestrictions(0, 0, static_cast<uint8_t>(dim), 0.005f);
    for (int l = 0; l < 2; ++l) {
      const PackedMatrix<double>& R = *h->restriction[l];
      Vector<double> coarse(R.nRow), fine(R.nCol);
      for (const Vertex* v : h->vertices[l])
        for (int d = 0; d < dim; ++d) coarse[dim * v->index + d] = field(v->restPosition, d);
      R.multTransposed(coarse, fine);
      for (const Vertex* v : h->vertices[l + 1])
        for (int d = 0; d < dim; ++d)
          EXPECT_NEAR(fine[dim * v->index + d], field(v->restPosition, d), 1e-12);
    }
  }
}

TEST(Restriction, FixedVerticesHaveNoRowOrColumn) {
  auto h = unitCube(2);
  // Fix the bottom face on both levels (copies keep the flag of their origin).
  for (int l = 0; l < 2; ++l)
    for (Vertex* v : h->vertices[l])
      if (v->restPosition[2] == 0.0f) v->fixed = 1;
  int fixedCoarse = 0, fixedFine = 0;
  for (Vertex* v : h->vertices[0]) fixedCoarse += v->fixed;
  for (Vertex* v : h->vertices[1]) fixedFine += v->fixed;
  std::string err = captureStderr([&] { h->generateRestrictions(0, 0, 3, 0.005f); });
  EXPECT_EQ(err, "");  // fixed fine vertices without interpolation are not lost
  const PackedMatrix<double>& R = *h->restriction[0];
  EXPECT_EQ(R.nRow, 3 * (8 - fixedCoarse));
  EXPECT_EQ(R.nCol, 3 * (27 - fixedFine));
  // Columns are renumbered consecutively: every column index is in range.
  for (int k = 0; k < R.nnz; ++k) {
    EXPECT_GE(R.entries[k].col, 0);
    EXPECT_LT(R.entries[k].col, R.nCol);
  }
}

TEST(Restriction, ThresholdDropsOnlyFromTheMatrix) {
  auto h = singleTetrahedron(2);
  h->vertices[1][5]->parents[0].weight = 0.004f;  // below 0.005
  h->generateRestrictions(0, 0, 1, 0.005f);
  EXPECT_EQ(h->restriction[0]->nnz, 4 + 12 - 1);
  EXPECT_EQ(h->vertices[1][5]->parents.size(), 2u);
}

TEST(Restriction, LostAndDeletedVerticesAreReported) {
  auto h = singleTetrahedron(2);
  h->vertices[1][4]->parents.clear();
  h->removed[0].push_back(h->vertices[0][3]);
  h->source = "m.node";
  std::string err = captureStderr([&] { h->generateRestrictions(0, 0, 1, 0.005f); });
  EXPECT_NE(err.find("[TetHierarchy, calcRestriction] Warning: Vertex 5 of level 1 of \"m.node\""
                     " lies outside level 0 (no interpolation); the coarser levels leave it out,"
                     " only smoothing on level 1 moves it\n"),
            std::string::npos);
  EXPECT_NE(err.find("[TetHierarchy, calcRestriction] Error: Deleted vertex (3) used!\n"),
            std::string::npos);
  const PackedMatrix<double>& R = *h->restriction[0];
  EXPECT_EQ(R.nRow, 3);
  // The entries of the removed vertex are skipped, not written elsewhere.
  for (int i = 0; i < R.nRow; ++i)
    for (int k = 0; k < R.rowLen[i]; ++k) {
      int col = R.rowStart[i][k].col;
      const Vertex* v = h->vertices[1][col];
      bool parentFound = false;
      for (const auto& e : v->parents) parentFound |= e.parent->index == i && e.weight > 0;
      EXPECT_TRUE(parentFound) << "row " << i << " col " << col;
    }
  EXPECT_EQ(R.rowLen[0] + R.rowLen[1] + R.rowLen[2], R.nnz);
}

TEST(Restriction, RecordsRoundTripAndBadOnesAreRefused) {
  auto h = box(1, 1, 1, 1.0f, 3);
  h->generateRestrictions(0, 0, 3, 0.005f);
  std::stringstream s;
  h->writeRestrictions(s);
  const std::string bytes = s.str();
  EXPECT_EQ(bytes.size(), 13u + 4 * h->restriction[0]->nRow + 12 * h->restriction[0]->nnz + 13 +
                              4 * h->restriction[1]->nRow + 12 * h->restriction[1]->nnz);

  auto g = box(1, 1, 1, 1.0f, 3);
  std::stringstream in(bytes);
  ASSERT_TRUE(g->readRestrictions(in));
  for (int l = 0; l < 2; ++l) {
    const auto &a = *h->restriction[l], &b = *g->restriction[l];
    ASSERT_EQ(a.nnz, b.nnz);
    for (int k = 0; k < a.nnz; ++k) {
      EXPECT_EQ(a.entries[k].col, b.entries[k].col);
      EXPECT_EQ(a.entries[k].val, b.entries[k].val);
    }
  }

  for (size_t cut : {size_t(0), size_t(5), bytes.size() / 2, bytes.size() - 1}) {
    std::stringstream truncated(bytes.substr(0, cut));
    EXPECT_FALSE(g->readRestrictions(truncated)) << cut;
    EXPECT_EQ(g->restriction, nullptr);
  }

  // Two valid records that do not chain (the second one twice).
  std::stringstream one, mismatched;
  h->restriction[1]->writeToFile(one);
  mismatched << one.str() << one.str();
  EXPECT_FALSE(g->readRestrictions(mismatched));
}

TEST(Restriction, SingleLevelHasNoSlots) {
  auto h = singleTetrahedron(1);
  h->generateRestrictions(0, 0, 3, 0.005f);
  std::stringstream s;
  h->writeRestrictions(s);
  EXPECT_EQ(s.str().size(), 0u);
  EXPECT_TRUE(h->readRestrictions(s));
}

TEST(Restriction, CompactInterpolationKeepsEntries) {
  auto h = singleTetrahedron(3);
  for (Vertex* v : h->vertices[1]) v->parents.reserve(20);
  h->compactInterpolation();
  for (Vertex* v : h->vertices[1]) EXPECT_EQ(v->parents.capacity(), v->parents.size());
  EXPECT_EQ(h->vertices[1][4]->parents.size(), 2u);
}

TEST(Interpolation, FoundBySearchEqualsRefinement) {
  auto refined = box(2, 1, 1, 0.5f, 3);
  refined->generateRestrictions(0, 0, 3, 0.005f);
  auto searched = box(2, 1, 1, 0.5f, 3);
  for (int l = 1; l < 3; ++l)
    for (Vertex* v : searched->vertices[l]) v->parents.clear();
  std::string out = captureStdout([&] { searched->buildInterpolation(true); });
  EXPECT_EQ(out, "");  // every coarse vertex is used
  searched->generateRestrictions(0, 0, 3, 0.005f);
  for (int l = 0; l < 2; ++l) {
    const auto &a = *refined->restriction[l], &b = *searched->restriction[l];
    ASSERT_EQ(a.nRow, b.nRow);
    ASSERT_EQ(a.nnz, b.nnz) << "level " << l;
    for (int k = 0; k < a.nnz; ++k) {
      EXPECT_EQ(a.entries[k].col, b.entries[k].col);
      EXPECT_NEAR(a.entries[k].val, b.entries[k].val, 1e-6);
    }
  }
  // Search lists hold one entry per corner of the containing element.
  EXPECT_EQ(searched->vertices[1][0]->parents.size(), 4u);
}

TEST(Interpolation, UselessCoarseVerticesAreReportedAndRemoved) {
  auto h = singleTetrahedron(2);
  for (Vertex* v : h->vertices[1]) v->parents.clear();
  for (int fixed : {0, 1}) {
    auto* lonely = new Vertex();
    lonely->index = static_cast<int>(h->vertices[0].size());
    lonely->fixed = static_cast<uint8_t>(fixed);
    lonely->restPosition[0] = 5.0f;
    h->vertices[0].push_back(lonely);
  }
  std::string out = captureStdout([&] { h->findInterpolation(0, true); });
  EXPECT_EQ(out,
            "  Useless Vertex 4 found on level 0.  \n"
            "  Useless Vertex 5 found on level 0.  \n");
  ASSERT_EQ(h->removed[0].size(), 1u);  // the fixed one stays
  EXPECT_EQ(h->removed[0][0]->index, 4);
  h->generateRestrictions(0, 0, 1, 0.005f);
  EXPECT_EQ(h->restriction[0]->nRow, 4);  // 6 vertices, one removed, one fixed
}

TEST(Interpolation, EveryOtherLevel) {
  auto h = singleTetrahedron(4);
  for (int l = 1; l < 4; ++l)
    for (Vertex* v : h->vertices[l]) v->parents.clear();
  h->buildInterpolationEveryOtherLevel(false);
  EXPECT_FALSE(h->vertices[3][0]->parents.empty());  // l = 2 handled
  EXPECT_TRUE(h->vertices[2][0]->parents.empty());   // l = 1 skipped
  EXPECT_TRUE(h->vertices[1][0]->parents.empty());   // level 0 never coarse here
}
