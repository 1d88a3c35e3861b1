#pragma once
// The nested tetrahedral mesh levels: level 0 is the coarsest, level
// nLevels-1 the one that is simulated, drawn and picked.
//
// Owns every vertex and element of its level lists, the restriction
// matrices with their array, and the partition array; the removed lists only
// refer to vertices of their level.

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "Vertex.h"

class FiniteElement;
template <class T>
class PackedMatrix;
template <class T>
class Vector;

// An element a pick ray passes through: t is the distance along the
// normalised ray to the point where it enters (0 when it starts inside).
struct PickHit {
  FiniteElement* element;
  float t;
};

class TetHierarchy {
 public:
  int nLevels;
  // The level refined by buildNestedHierarchy and centred by
  // setCenterOfGravity.
  int startLevel;
  std::vector<Vertex*>* vertices;         // nLevels lists
  std::vector<FiniteElement*>* elements;  // nLevels lists
  // Per level, the vertices left out of its degree-of-freedom numbering.
  std::vector<Vertex*>* removed;
  // Unknowns of level l: dim for each vertex neither fixed nor left out.
  int unknowns(int l, int dim) const;
  // restriction[l] maps level l+1 to level l; null until built or read.
  PackedMatrix<double>** restriction = nullptr;
  uint8_t* partitionOfElement = nullptr;  // one per finest element, or null
  int nPartitions = 0;
  // The files the levels were read from, for messages; may be empty.
  std::string source;

  // nLevels empty levels.
  explicit TetHierarchy(int nLevels);
  // Takes over two arrays (new[]) of nLevels filled lists; every level
  // counts as supplied, so nothing is refined or centred.
  TetHierarchy(int nLevels, std::vector<Vertex*>* vertices, std::vector<FiniteElement*>* elements);
  ~TetHierarchy();
  TetHierarchy(const TetHierarchy&) = delete;
  TetHierarchy& operator=(const TetHierarchy&) = delete;

  // Moves every vertex of every level so that the mean of the element
  // corners of startLevel (a vertex counted once per element) is the origin;
  // that mean is written to center.
  void setCenterOfGravity(double* center);
  // refineLevel for every level from startLevel up to the last but one.
  void buildNestedHierarchy();
  // Builds the empty level l+1 by splitting every element of level l into 8.
  void refineLevel(int l);

  // Interpolation lists of level l+1 from the elements of level l; with
  // markUseless, coarse vertices that nothing uses join removed[l].
  void findInterpolation(int l, bool markUseless);
  void buildInterpolation(bool markUseless);
  void buildInterpolationEveryOtherLevel(bool markUseless);
  // The restriction from level l+1 to level l, dim components per vertex,
  // entries below threshold in magnitude dropped; stored in *slot. A free
  // vertex of level l+1 without interpolation gets an empty column (one
  // warning per vertex).
  void calcRestriction(PackedMatrix<double>** slot, int l, uint8_t dim, float threshold);
  // A new restriction array filled by calcRestriction. The fixed range
  // arguments are not consulted: fixed vertices carry their own flag.
  void generateRestrictions(int firstFixedDof, int nFixedDofs, uint8_t dim, float threshold);
  // The nLevels-1 restrictions as packed records, coarsest first.
  void writeRestrictions(std::ostream& stream) const;
  // Reads nLevels-1 packed records; on a bad or inconsistent record nothing
  // is kept (restriction stays null) and the result is false.
  bool readRestrictions(std::istream& stream);
  // Trims the interpolation lists of every level but the finest.
  void compactInterpolation();

  // The finest-level elements, cut ones left out, that the ray
  // origin + t * direction / |direction|, 0 <= t < 1e8, passes through at the
  // current positions; a ray that only touches an element misses it.
  // direction must not be zero (a zero or non-finite one hits nothing).
  // All hits in list order, or with nearestOnly: depth 0 gives the one
  // nearest element (null when nothing is hit); another depth gives, in list
  // order, every hit entering less than depth behind the nearest entry.
  std::vector<FiniteElement*> pickElements(const float* direction, const float* origin,
                                           bool nearestOnly, float depth) const;

  // Groups the finest-level elements into min(n, 256) spatially compact
  // partitions by vector quantization of their corner sums, and stores one
  // partition number per element in partitionOfElement. nPartitions becomes
  // n, or 256 when n is larger; with n <= 1 or no finest elements nothing is
  // built.
  void buildPartitions(int n);

 private:
  void releaseRestrictions();
};

// Renumbers the finest-level vertices from position (vertex count of the
// second-finest level - firstIndex) on by ascending coordinate sum of their
// positions (dim per vertex, vertex index - firstIndex as position), keeping
// the order of equal sums; vertices below firstIndex keep their index. Every
// position must belong to exactly one finest-level vertex.
void sortPointsByCoordinateSum(TetHierarchy& h, const Vector<double>& positions,
                               uint32_t firstIndex, uint8_t dim);

// The vertex of list nearest to p in rest position, the first of equally
// near ones; null when none is nearer than limit.
Vertex* nearestVertex(const std::vector<Vertex*>& list, const float* p, float limit = 1e16f);
