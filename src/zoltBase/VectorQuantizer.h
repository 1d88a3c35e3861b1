#pragma once
// Vector quantization of 3-vectors, used to group elements into partitions.
//
// Data layout: n vectors as one float array of 3n values (x, y, z of each);
// a codebook (palette) of K entries as 3K floats, entry j at 3j; an
// assignment as n bytes, the codebook entry of each vector. K is at most 256.

#include <cstdint>

// A run of vectors sharing one codebook entry while the codebook is split.
struct Cluster {
  uint32_t* members = nullptr;  // first of the run's vector indices
  uint32_t count = 0;
  double distortion = 0.0;  // sum of the members' squared distances to mean
  double mean[3] = {0.0, 0.0, 0.0};
};

class VectorQuantizer {
 public:
  static constexpr int kMaxPaletteSize = 256;

  // Scale every codebook entry to unit length.
  uint8_t normalize = 0;
  // Store entries as p * 0.5 + 0.5 per component.
  uint8_t pack = 0;
  // Print statistics on standard error.
  uint8_t verbose = 1;
  // Work matrix of LineFit.
  double scatter[3][3] = {};
  // Codebook size K; Quantize lowers it to the number of vectors.
  int paletteSize = kMaxPaletteSize;
  Cluster* clusters;  // kMaxPaletteSize records, owned

  // Announces its search strategy on standard output.
  VectorQuantizer();
  ~VectorQuantizer();
  VectorQuantizer(const VectorQuantizer&) = delete;
  VectorQuantizer& operator=(const VectorQuantizer&) = delete;

  // Initial codebook by repeated principal-axis splits of the cluster with
  // the largest distortion. Hands a new float[3K] codebook and a new
  // uint8_t[n] assignment to the caller, who owns both; returns the number of
  // entries produced (entries not produced are (0, 0, 0)). Returns 0 and
  // hands out nothing when fewer than 2 entries are asked for or there are no
  // vectors.
  uint32_t Quantize(uint8_t** indices, float** palette, const float* data, uint32_t nFloats);

  // One Lloyd pass in place: every vector moves to the nearest of its entry
  // and that entry's `width` nearest codebook neighbours (all entries when
  // fewer than 2 neighbours are searched), then every entry becomes the mean
  // of its vectors ((0, 0, 0) without any). Returns the total squared error
  // after the pass.
  double refine(uint8_t* indices, float* palette, const float* data, uint32_t nFloats,
                uint32_t width);
};

// Unit principal axis (power iteration, at most 15 rounds) of the `count`
// vectors listed in memberIndices, around mean; (0, 0, 0) when they are all
// equal to mean. Uses q.scatter as work space.
void LineFit(VectorQuantizer& q, double axis[3], const double mean[3], const float* data,
             uint32_t count, const uint32_t* memberIndices);

// Search width of the next Lloyd pass: kept while a pass reduces the error by
// the ratio 1.05 or more, widened the more the smaller the gain.
int nextSearchWidth(int width, double ratio);
