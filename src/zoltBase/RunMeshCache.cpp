#include <cstdint>
#include <fstream>
#include <iostream>
#include <memory>
#include <unordered_map>
#include <vector>

#include "AtomicFile.h"
#include "BinaryIO.h"
#include "FiniteElement.h"
#include "MemoryLimits.h"
#include "Run.h"
#include "SealedFile.h"
#include "TetHierarchy.h"
#include "Tetrahedron.h"

using namespace zolt::bin;

// The file starts with a format word and the fingerprint of the model files
// the mesh came from, and ends with its seal (SealedFile.h). A file of the
// unsealed first format starts with its level count instead. Files of
// 0x7A91A002 lack the vertices held between fixed ones and are rebuilt.
namespace {
constexpr uint32_t kMeshMagic = 0x7A91A003;
}

void Run::writeMesh(const char* path) {
  zolt::AtomicFile file(path);
  if (!file.is_open()) {
    const std::string& why = file.why();
    std::cout << "Error: File \"" << path << "\" could not be created"
              << (why.empty() ? "" : " (it " + why + ")") << "!" << std::endl
              << std::endl;
    return;
  }
  std::cout << "Write Mesh to file \"" << path << "\"" << std::endl;
  const TetHierarchy& h = *hierarchy;
  zolt::SealedOutBuf sealed(*file.stream().rdbuf());
  std::ostream out(&sealed);
  ChunkWriter w(out);
  w.writeI32(static_cast<int32_t>(kMeshMagic));
  w.writeI32(static_cast<int32_t>(settings.sourceFingerprint));
  w.writeI32(static_cast<int32_t>(settings.sourceFingerprint >> 32));
  w.writeI32(h.nLevels);
  w.writeI32(settings.fixedCount);
  for (double c : renderSettings.centre) w.writeF64(c);
  w.writeI32(static_cast<int32_t>(elementType));
  const int32_t nEntries = meshEntries ? static_cast<int32_t>(meshEntries->size()) : 0;
  w.writeI32(nEntries);
  for (int32_t e = 0; e < nEntries; ++e)
    for (float m : (*meshEntries)[static_cast<size_t>(e)].matrix) w.writeF32(m);

  std::unordered_map<const Vertex*, int32_t> previous, current;
  for (int l = 0; l < h.nLevels; ++l) {
    const std::vector<Vertex*>& vs = h.vertices[l];
    current.clear();
    for (size_t i = 0; i < vs.size(); ++i) current[vs[i]] = static_cast<int32_t>(i);
    w.writeI32(static_cast<int32_t>(vs.size()));
    for (const Vertex* v : vs) {
      for (float x : v->restPosition) w.writeF32(x);
      w.writeI32(v->index);
      w.writeU8(v->fixed);
      w.writeU8(v->onSurface);
      const size_t p = v->parents.size() > 255 ? 255 : v->parents.size();
      w.writeU8(static_cast<uint8_t>(p));
      for (size_t k = 0; k < p; ++k) {
        const auto it = previous.find(v->parents[k].parent);
        w.writeI32(it == previous.end() ? -1 : it->second);
        w.writeF32(v->parents[k].weight);
      }
    }
    w.writeI32(static_cast<int32_t>(h.removed[l].size()));
    for (const Vertex* v : h.removed[l]) w.writeI32(current.at(v));
    const std::vector<FiniteElement*>& es = h.elements[l];
    w.writeI32(static_cast<int32_t>(es.size()));
    if (!es.empty()) w.writeI32(es.front()->degreeOfFreedom());
    for (const FiniteElement* e : es) {
      for (int k = 0; k < e->degreeOfFreedom(); ++k) w.writeI32(current.at(e->getVertex(k)));
      w.writeI32(e->getFaceMask());
      w.writeF32(e->getStiffness());
      w.writeF32(e->getDensity());
    }
    previous.swap(current);
  }
  w.flush();
  if (!sealed.seal() || !out) file.stream().setstate(std::ios::failbit);
  if (!file.commit())
    std::cerr << "[Run, writeMesh] Error: Writing \"" << path << "\" failed; file removed"
              << std::endl;
}

namespace {

// Reads one level of the cache into h; false on any count, index or size
// that disagrees with the bytes left or the level before.
bool readLevel(ChunkReader& in, TetHierarchy& h, int l, ElementType type) {
  int32_t n = 0;
  if (!in.readI32(n) || n < 0 || n > in.remaining() / 19) return false;
  std::vector<Vertex*>& vs = h.vertices[l];
  const std::vector<Vertex*>* coarse = l > 0 ? &h.vertices[l - 1] : nullptr;
  std::vector<uint8_t> seen(static_cast<size_t>(n), 0);
  vs.reserve(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    auto* v = new Vertex;
    vs.push_back(v);
    uint8_t p = 0;
    for (float& x : v->restPosition)
      if (!in.readF32(x)) return false;
    if (!in.readI32(v->index) || !in.readU8(v->fixed) || !in.readU8(v->onSurface) || !in.readU8(p))
      return false;
    if (v->index < 0 || v->index >= n || seen[static_cast<size_t>(v->index)]++) return false;
    for (int k = 0; k < p; ++k) {
      int32_t at = 0;
      float w = 0;
      if (!in.readI32(at) || !in.readF32(w)) return false;
      if (!coarse) continue;
      if (at < 0 || static_cast<size_t>(at) >= coarse->size()) return false;
      v->parents.push_back({(*coarse)[static_cast<size_t>(at)], w});
    }
  }
  int32_t r = 0;
  if (!in.readI32(r) || r < 0 || r > n) return false;
  for (int32_t i = 0; i < r; ++i) {
    int32_t at = 0;
    if (!in.readI32(at) || at < 0 || at >= n) return false;
    h.removed[l].push_back(vs[static_cast<size_t>(at)]);
  }
  int32_t e = 0, k = 0;
  if (!in.readI32(e) || e < 0) return false;
  if (e == 0) return true;
  if (!in.readI32(k) || k < 1 || k > 64 || e > in.remaining() / (4 * k + 12)) return false;
  if (type == ElementType::TETRAHEDRON && k != 4) return false;
  // Room first: a push_back that ran out of memory would lose its element.
  if (type == ElementType::TETRAHEDRON) h.elements[l].reserve(h.elements[l].size() + e);
  for (int32_t j = 0; j < e; ++j) {
    int32_t node[64];
    int32_t mask = 0;
    float stiffness = 0, density = 0;
    for (int32_t q = 0; q < k; ++q)
      if (!in.readI32(node[q]) || node[q] < 0 || node[q] >= n) return false;
    if (!in.readI32(mask) || !in.readF32(stiffness) || !in.readF32(density)) return false;
    if (type != ElementType::TETRAHEDRON) continue;
    auto* t = new Tetrahedron(vs[static_cast<size_t>(node[0])], vs[static_cast<size_t>(node[1])],
                              vs[static_cast<size_t>(node[2])], vs[static_cast<size_t>(node[3])],
                              static_cast<uint8_t>(mask));
    t->id = static_cast<int>(h.elements[l].size());
    h.elements[l].push_back(t);
    t->setStiffness(stiffness);
    t->setDensity(density);
  }
  return true;
}

}  // namespace

bool Run::readMesh(const char* path) {
  // Not a file (a directory): as missing, but writeMesh says why.
  if (!zolt::notAFile(path).empty()) return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::cout << "File \"" << path << "\" could not be opened!" << std::endl << std::endl;
    return false;
  }
  zolt::SealedInBuf sealed(*file.rdbuf());
  std::istream in(&sealed);
  // A header that does not match is damage when the seal fails, else stale.
  auto refuse = [&](const char* why) {
    if (sealed.verify())
      std::cout << "[Run, readMesh] Mesh cache \"" << path << "\" " << why
                << "; the mesh is rebuilt" << std::endl;
    else
      std::cerr << "[Run, readMesh] Error: Checksum mismatch in mesh cache \"" << path
                << "\"; the mesh is rebuilt" << std::endl;
    return false;
  };
  uint32_t magic = 0, low = 0, high = 0;
  if (!readU32(in, magic) || magic != kMeshMagic) return refuse("has another format");
  if (!readU32(in, low) || !readU32(in, high) ||
      (uint64_t(high) << 32 | low) != settings.sourceFingerprint)
    return refuse("was written for other model files or configuration entries");
  int32_t nLevels = 0, fixedCount = 0, type = 0, nEntries = 0;
  double centre[3];
  if (!readI32(in, nLevels) || nLevels != levels) return refuse("was written for another LEVEL");
  if (!readI32(in, fixedCount)) return refuse("is truncated");
  for (double& c : centre)
    if (!readF64(in, c)) return refuse("is truncated");
  if (!readI32(in, type) || type != static_cast<int32_t>(elementType))
    return refuse("was written for another element type");
  const size_t expected = meshEntries ? meshEntries->size() : 0;
  if (!readI32(in, nEntries) || nEntries < 0 || static_cast<size_t>(nEntries) != expected)
    return refuse("was written for other MESH entries");
  for (size_t e = 0; e < expected; ++e)
    for (float m : (*meshEntries)[e].matrix) {
      float stored = 0;
      if (!readF32(in, stored) || stored < m || stored > m)
        return refuse("was written for other MESH entries");
    }

  std::cout << "Read Mesh from file \"" << path << "\"" << std::endl << std::endl;
  auto h = std::make_unique<TetHierarchy>(nLevels);
  bool ok = true;
  ChunkReader levels(in, bytesLeft(in));
  for (int l = 0; ok && l < nLevels; ++l) {
    ok = readLevel(levels, *h, l, elementType);
    if (l == 0) roomBeforeRefined = mappingRoom();
  }
  // The numbering invariant: fixed vertices are exactly those below the count.
  const std::vector<Vertex*>& finest = h->vertices[nLevels - 1];
  ok = ok && levels.remaining() == 0 && bytesLeft(in) == 0 && fixedCount >= 0 &&
       static_cast<size_t>(fixedCount) <= finest.size();
  for (size_t i = 0; ok && i < finest.size(); ++i)
    ok = (finest[i]->index < fixedCount) == (finest[i]->fixed != 0);
  const bool sound = sealed.verify();
  if (!ok && sound) {
    std::cerr << "[Run, readMesh] Error: Mesh cache \"" << path
              << "\" is truncated or inconsistent; the mesh is rebuilt" << std::endl;
    return false;
  }
  if (!sound) {
    std::cerr << "[Run, readMesh] Error: Checksum mismatch in mesh cache \"" << path
              << "\"; the mesh is rebuilt" << std::endl;
    return false;
  }
  settings.fixedCount = fixedCount;
  for (int c = 0; c < 3; ++c) renderSettings.centre[c] = centre[c];
  hierarchy = std::move(h);
  return true;
}
