#pragma once
// A raw 8-bit 3D image (x fastest, then y, then z): reading, smoothing and
// trilinear sampling for the render volume. No GL.

#include <cstdint>
#include <string>
#include <vector>

struct VolumeImage {
  int width = 0, height = 0, depth = 0;
  std::vector<uint8_t> voxels;  // width x height x depth

  size_t size() const { return size_t(width) * size_t(height) * size_t(depth); }
};

// Largest image accepted, in voxels.
constexpr int64_t kMaxVolumeVoxels = int64_t(1) << 30;

// Reads width x height x depth bytes of path into image. A short file leaves
// the last byte read (0 when none) in the remaining voxels. False, with the
// image empty, when the file cannot be read or the size is not positive and
// at most kMaxVolumeVoxels.
bool readRawVolume(const std::string& path, int width, int height, int depth, VolumeImage& image);

// `passes` times: every interior voxel becomes the floor of its 3 x 3 x 3
// neighbourhood weighted by (1/4, 1/2, 1/4) along each axis, read from the
// previous pass; border voxels keep their values.
void smoothVolume(VolumeImage& image, int passes);

// Trilinear value at voxel coordinates (u, v, t): the eight corners around
// the point that lie inside the image, each with its ordinary weight (the
// corner at floor(u) takes 1 - fractional part); corners outside add nothing.
float sampleVolume(const VolumeImage& image, float u, float v, float t);
