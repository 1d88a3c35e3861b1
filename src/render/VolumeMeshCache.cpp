// The render-volume cache: u32 format word, i32 node count, u8 scalars
// present, 4 weights and 4 node numbers per node, then (when present) the
// scalars, 3 texture coordinates per node, u32 width, height, depth and the
// smoothed image; then the seal (SealedFile.h).

#include <cstdio>
#include <fstream>
#include <iostream>

#include "AtomicFile.h"
#include "BinaryIO.h"
#include "RenderSettings.h"
#include "SealedFile.h"
#include "TetHierarchy.h"
#include "VolumeMesh.h"

using namespace zolt::bin;

namespace {

constexpr uint32_t kVolumeMagic = 0x7A91C002;

bool readFloats(std::istream& s, std::vector<float>& v) {
  for (float& x : v)
    if (!readF32(s, x)) return false;
  return true;
}

}  // namespace

bool VolumeMesh::readCache(const std::string& path, bool wantImage) {
  std::ifstream file(path, std::ios::binary);
  zolt::SealedInBuf sealed(*file.rdbuf());
  std::istream in(&sealed);
  uint32_t magic = 0;
  int32_t count = 0;
  uint8_t hasScalars = 0;
  if (!file || !readU32(in, magic) || magic != kVolumeMagic || !readI32(in, count) ||
      count != nodeCount || !readU8(in, hasScalars) || hasScalars > 1)
    return false;
  const bool imageConfigured = !settings->volumeTexturePath.empty();
  if (imageConfigured && !hasScalars) return false;  // the image was never sampled
  const int64_t n = nodeCount;
  if (bytesLeft(in) < 32 * n + (hasScalars ? 16 * n + 12 : 0)) return false;

  std::vector<float> w(4 * size_t(n)), s, t;
  std::vector<int32_t> indices(4 * size_t(n));
  const int64_t vertices = int64_t(mesh->vertices[mesh->nLevels - 1].size());
  if (!readFloats(in, w)) return false;
  for (int32_t& j : indices)
    if (!readI32(in, j) || j < 0 || j >= vertices) return false;
  VolumeImage cached;
  if (hasScalars) {
    s.resize(size_t(n));
    t.resize(3 * size_t(n));
    uint32_t dims[3];
    if (!readFloats(in, s) || !readFloats(in, t)) return false;
    for (uint32_t& d : dims)
      if (!readU32(in, d) || d < 1 || d > uint32_t(kMaxVolumeVoxels)) return false;
    for (int a = 0; a < 3; ++a)
      if (imageConfigured && int64_t(dims[a]) != settings->volumeSamples[a]) return false;
    const int64_t voxels = int64_t(dims[0]) * dims[1] * dims[2];
    if (voxels > kMaxVolumeVoxels || bytesLeft(in) != voxels) return false;
    if (wantImage) {
      cached.width = int(dims[0]);
      cached.height = int(dims[1]);
      cached.depth = int(dims[2]);
      cached.voxels.resize(size_t(voxels));
      if (!in.read(reinterpret_cast<char*>(cached.voxels.data()), voxels)) return false;
    }
  }
  if (!sealed.verify()) {
    std::cout << "[RenderVolume, readCache] Error: Checksum mismatch in \"" << path
              << "\"; the volume weights are computed again" << std::endl;
    return false;
  }
  weights = std::move(w);
  nodeIndices = std::move(indices);
  if (hasScalars) {
    scalars = std::move(s);
    texCoords = std::move(t);
    image = std::move(cached);
  }
  return true;
}

bool VolumeMesh::writeCache(const std::string& path, bool withScalars,
                            const VolumeImage& smoothed) const {
  zolt::AtomicFile file(path);
  zolt::SealedOutBuf sealed(*file.stream().rdbuf());
  std::ostream out(&sealed);
  writeU32(out, kVolumeMagic);
  writeI32(out, nodeCount);
  writeU8(out, withScalars ? 1 : 0);
  for (float w : weights) writeF32(out, w);
  for (int32_t j : nodeIndices) writeI32(out, j);
  if (withScalars) {
    for (float s : scalars) writeF32(out, s);
    for (float t : texCoords) writeF32(out, t);
    for (int d : {smoothed.width, smoothed.height, smoothed.depth}) writeU32(out, uint32_t(d));
    out.write(reinterpret_cast<const char*>(smoothed.voxels.data()),
              std::streamsize(smoothed.voxels.size()));
  }
  if (!sealed.seal() || !out) file.stream().setstate(std::ios::failbit);
  if (file.commit()) return true;
  std::cout << "[RenderVolume, writeCache] Error: Can't write file \"" << path << "\"" << std::endl;
  return false;
}
