#include <algorithm>
#include <cctype>
#include <climits>
#include <fstream>
#include <iostream>
#include <sstream>

#include "BinaryIO.h"
#include "ConverterIO.h"
#include "Converters.h"

namespace bin = zolt::bin;

bool convertSurfaceLevels(const std::string& inPath, const std::string& outBase) {
  static const char kMethod[] = "convertSurfaceLevels";
  auto fail = [&](const std::string& what) { return zolt::tools::fail(kMethod, inPath, what); };
  std::ifstream in(inPath, std::ios::binary);
  if (!in) return fail("cannot be opened");

  uint8_t levels = 0, unused = 0;
  uint32_t nCoordinates = 0;
  if (!bin::readU8(in, levels) || !bin::readU8(in, unused)) return fail("header ends early");
  std::cout << "#Levels: " << int(levels) << "\n";
  if (!bin::readU32(in, nCoordinates)) return fail("header ends early");
  std::cout << "#Vertices: " << nCoordinates << "\n";
  if (nCoordinates % 3 != 0)
    return fail("coordinate count " + std::to_string(nCoordinates) + " is no multiple of 3");
  if (int64_t(nCoordinates) * 2 > bin::bytesLeft(in))
    return fail("coordinate count " + std::to_string(nCoordinates) + " exceeds the file");
  std::vector<int16_t> x(nCoordinates);
  for (int16_t& v : x)
    if (!bin::readI16(in, v)) return fail("coordinates end early");
  const uint32_t nVertices = nCoordinates / 3;

  std::ostringstream node, ele;
  for (int l = 0; l < levels; ++l) {
    const std::string level = "level " + std::to_string(l) + " ";
    uint32_t nIndices = 0;
    if (!bin::readU32(in, nIndices)) return fail(level + "index count: the file ends before it");
    std::cout << "#Triangles: " << nIndices << "\n";
    if (nIndices % 3 != 0)
      return fail(level + "index count " + std::to_string(nIndices) + " is no multiple of 3");
    if (int64_t(nIndices) * 2 > bin::bytesLeft(in))
      return fail(level + "index count " + std::to_string(nIndices) + " exceeds the file");
    std::vector<uint16_t> index(nIndices);
    uint32_t used = 0;  // largest 1-based index
    for (uint32_t i = 0; i < nIndices; ++i) {
      if (!bin::readU16(in, index[i])) return fail(level + "indices end early");
      if (index[i] >= nVertices)
        return fail(level + "triangle " + std::to_string(i / 3 + 1) + ": vertex index " +
                    std::to_string(index[i]) + " out of range 0.." + std::to_string(nVertices - 1));
      used = std::max<uint32_t>(used, index[i] + 1u);
    }

    ele << nIndices / 3 << " 3 0\n";
    for (uint32_t t = 0; t < nIndices / 3; ++t)
      ele << t + 1 << " " << index[3 * t] + 1 << " " << index[3 * t + 1] + 1 << " "
          << index[3 * t + 2] + 1 << "\n";
    node << used << " 3 0 1\n";
    for (uint32_t v = 0; v < used; ++v)
      node << v + 1 << " " << x[3 * v] << " " << -int(x[3 * v + 1]) << " " << x[3 * v + 2]
           << " 0\n";
  }
  return zolt::tools::writeMeshFiles(kMethod, outBase, node, ele);
}

namespace {

uint64_t edgeKey(int from, int to) { return (uint64_t(uint32_t(from)) << 32) | uint32_t(to); }

int firstHolding(const OrientedTriangles& list, int from, int to) {
  const auto it = list.firstWithEdge.find(edgeKey(from, to));
  return it == list.firstWithEdge.end() ? INT_MAX : it->second;
}

}  // namespace

int splitFaceCase(OrientedTriangles& list, int a, int b, int c) {
  // The first stored triangle with a conflicting edge decides; within it the
  // edges are tested in the order a->b, c->a, b->c.
  const int ab = firstHolding(list, a, b), ca = firstHolding(list, c, a),
            bc = firstHolding(list, b, c);
  const int first = std::min({ab, ca, bc});
  int kase = 0;
  std::array<int, 3> t = {a, b, c};
  if (first != INT_MAX) {
    kase = ab == first ? 1 : ca == first ? 2 : 3;
    t = kase == 1   ? std::array<int, 3>{b, a, c}
        : kase == 2 ? std::array<int, 3>{c, b, a}
                    : std::array<int, 3>{a, c, b};
    std::cout << "Case " << kase << "\n";
  }
  const int id = static_cast<int>(list.triangles.size());
  list.triangles.push_back(t);
  for (int k = 0; k < 3; ++k) list.firstWithEdge.emplace(edgeKey(t[k], t[(k + 1) % 3]), id);
  return kase;
}

namespace {

struct Face {
  int corner[4];
  int n;
};

// The corners of a face line (after the "f"): 3 or 4 of one form, else 0.
int parseFace(const char* p, int corner[4]) {
  static const struct {
    const char* format;
    int perCorner;
  } kForms[] = {
      {"%d %d %d %d", 1},
      {"%d/%d %d/%d %d/%d %d/%d", 2},
      {"%d//%d %d//%d %d//%d %d//%d", 2},
      {"%d/%d/%d %d/%d/%d %d/%d/%d %d/%d/%d", 3},
  };
  for (const auto& form : kForms) {
    int v[12];
    const int got = std::sscanf(p, form.format, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
                                &v[7], &v[8], &v[9], &v[10], &v[11]);
    if (got != 3 * form.perCorner && got != 4 * form.perCorner) continue;
    const int n = got / form.perCorner;
    for (int k = 0; k < n; ++k) corner[k] = v[k * form.perCorner];
    return n;
  }
  return 0;
}

bool keyword(const char* p, char c) {
  return p[0] == c && std::isspace(static_cast<unsigned char>(p[1]));
}

// One OBJ file as one level block.
bool readObjLevel(const std::string& path, std::ostringstream& node, std::ostringstream& ele) {
  zolt::tools::LineInput in("convertObjMesh", path);
  if (!in.open(false)) {
    std::cout << "Error: The file " << path << " could not be opened\n";
    return false;
  }
  std::vector<std::array<float, 3>> vertices;
  std::vector<Face> faces;
  while (const char* p = in.next()) {
    if (keyword(p, 'v')) {
      std::array<float, 3> x;
      if (!zolt::tools::parseFloats(p + 1, x.data(), 3, true))
        return in.bad("vertex", long(vertices.size()), "not three numbers");
      vertices.push_back(x);
    } else if (keyword(p, 'f')) {
      Face f;
      f.n = parseFace(p + 1, f.corner);
      if (f.n == 0)
        std::cout << "error!!\n";
      else
        faces.push_back(f);
    }
  }

  const long n = long(vertices.size());
  OrientedTriangles list;
  for (size_t i = 0; i < faces.size(); ++i) {
    const Face& f = faces[i];
    for (int k = 0; k < f.n; ++k)
      if (!in.checkVertex(f.corner[k], 1, n, "face", long(i))) return false;
    // A quad gives the triangles (0, 1, 2) and (0, 2, 3).
    splitFaceCase(list, f.corner[0] - 1, f.corner[1] - 1, f.corner[2] - 1);
    if (f.n == 4) splitFaceCase(list, f.corner[0] - 1, f.corner[2] - 1, f.corner[3] - 1);
  }

  ele << list.triangles.size() << " 3 0\n";
  for (size_t t = 0; t < list.triangles.size(); ++t) {
    const auto& c = list.triangles[t];
    ele << t + 1 << " " << c[0] + 1 << " " << c[1] + 1 << " " << c[2] + 1 << "\n";
  }
  node << n << " 3 0 1\n";
  for (long v = 0; v < n; ++v) {
    const auto& x = vertices[size_t(v)];
    node << v + 1 << " " << x[0] << " " << x[1] << " " << x[2] << " 0\n";
  }
  return true;
}

}  // namespace

bool convertObjMesh(const std::string& outBase, const std::vector<std::string>& inPaths) {
  if (inPaths.empty()) {
    std::cout << "Error: No Filename parameter given.\n";
    return false;
  }
  std::ostringstream node, ele;
  for (const std::string& path : inPaths)
    if (!readObjLevel(path, node, ele)) return false;
  return zolt::tools::writeMeshFiles("convertObjMesh", outBase, node, ele);
}
