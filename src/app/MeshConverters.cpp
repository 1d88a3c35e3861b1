#include <array>
#include <cmath>
#include <iostream>
#include <sstream>
#include <vector>

#include "ConverterIO.h"
#include "Converters.h"

using zolt::tools::LineInput;
using zolt::tools::TextInput;

namespace {

struct Point {
  float x[3];
  float value;
};

using Corners = std::array<long, 4>;

// One block of a node file: header "count two-values k", vertex lines
// "index x y z" and `extras` values (k values when extras < 0); the first
// of them, if any, is kept as the vertex value.
bool readNodeBlock(TextInput& in, int extras, std::vector<Point>& points) {
  int n = 0, k = 0;
  if (!in.count(n, "vertex", 4) || !in.skip(2, "node header") || !in.read(k, "attribute count"))
    return false;
  if (extras < 0) extras = k;
  if (extras < 0) return in.bad("attribute count", -1, std::to_string(k) + " is negative");
  points.assign(static_cast<size_t>(n), Point{{0, 0, 0}, 0});
  for (int i = 0; i < n; ++i) {
    Point& p = points[static_cast<size_t>(i)];
    if (!in.skip(1, "vertex", i) || !in.read(p.x[0], "vertex", i) ||
        !in.read(p.x[1], "vertex", i) || !in.read(p.x[2], "vertex", i) ||
        (extras > 0 && (!in.read(p.value, "vertex", i) || !in.skip(extras - 1, "vertex", i))))
      return false;
  }
  return true;
}

// One block of an element file: header "count 4 extras", lines
// "index v0 v1 v2 v3" and `extras` values; vertex numbers count from 1 up
// to nVertices. With `extra` the block may hold one integer extra at most
// (0 without one), which is kept; without, extras are skipped.
bool readEleBlock(TextInput& in, long nVertices, std::vector<Corners>& elements,
                  std::vector<int>* extra) {
  int m = 0, corners = 0, extras = 0;
  if (!in.count(m, "element", 5) || !in.read(corners, "corner count") ||
      !in.read(extras, "extra count"))
    return false;
  if (corners != 4) return in.bad("corner count", -1, std::to_string(corners) + ", expected 4");
  if (extras < 0 || (extra && extras > 1))
    return in.bad("extra count", -1, std::to_string(extras) + " not allowed");
  elements.resize(static_cast<size_t>(m));
  if (extra) extra->assign(static_cast<size_t>(m), 0);
  for (int e = 0; e < m; ++e) {
    if (!in.skip(1, "element", e)) return false;
    for (long& v : elements[static_cast<size_t>(e)]) {
      int k = 0;
      if (!in.read(k, "element", e) || !in.checkVertex(k, 1, nVertices, "element", e)) return false;
      v = k;
    }
    if (extra && extras == 1 && !in.read((*extra)[static_cast<size_t>(e)], "element", e))
      return false;
    if (!extra && !in.skip(extras, "element", e)) return false;
  }
  return true;
}

// Scales (and moves) the points in place as they are written, in single
// precision; false, naming the scale and offset arguments, when a
// coordinate is not finite.
bool placePoints(const TextInput& in, std::vector<Point>& points, float scale, const float* offset,
                 const char* scaleName) {
  static const char* const kOffsetNames[3] = {"ox", "oy", "oz"};
  for (size_t i = 0; i < points.size(); ++i)
    for (int k = 0; k < 3; ++k) {
      const float scaled = points[i].x[k] * scale;
      const float moved = offset ? scaled + offset[k] : scaled;
      if (std::isfinite(moved)) {
        points[i].x[k] = moved;
        continue;
      }
      std::ostringstream what;
      what << scaleName << " " << scale;
      if (std::isfinite(scaled)) what << " with " << kOffsetNames[k] << " " << offset[k];
      what << " gives a coordinate that is not finite";
      return in.bad("vertex", static_cast<long>(i), what.str());
    }
  return true;
}

}  // namespace

bool rewriteNodeEle(const std::string& inBase, const std::string& outPath) {
  static const char kMethod[] = "rewriteNodeEle";
  TextInput node(kMethod, inBase + ".node"), ele(kMethod, inBase + ".ele");
  std::vector<Point> points;
  std::vector<Corners> elements;
  if (!node.open() || !readNodeBlock(node, -1, points) || !ele.open() ||
      !readEleBlock(ele, static_cast<long>(points.size()), elements, nullptr))
    return false;

  std::ostringstream out;
  out << points.size() << " " << elements.size() << "\n";
  for (const Point& p : points)
    out << p.x[0] << " " << p.x[1] << " " << p.x[2] << " " << p.value << "\n";
  for (const Corners& c : elements)
    out << c[0] - 1 << " " << c[1] - 1 << " " << c[2] - 1 << " " << c[3] - 1 << "\n";
  return zolt::tools::writeTextFile(kMethod, outPath, out);
}

bool convertMeshA(int levels, const float offset[3], float scaleA, float scaleB,
                  const std::string& outBase, const std::string& inBaseA,
                  const std::string& inBaseB) {
  static const char kMethod[] = "convertMeshA";
  std::cout << "Read: " << inBaseA << "\n"
            << "Read: " << inBaseB << "\n";
  if (levels < 1) return zolt::tools::fail(kMethod, outBase, "no level to merge");
  // Zero would collapse a mesh to a point.
  if (!(scaleA < 0.0f || scaleA > 0.0f))
    return zolt::tools::fail(kMethod, inBaseA + ".node", "scaleA 0 collapses the mesh to a point");
  if (!(scaleB < 0.0f || scaleB > 0.0f))
    return zolt::tools::fail(kMethod, inBaseB + ".node", "scaleB 0 collapses the mesh to a point");
  TextInput nodeA(kMethod, inBaseA + ".node"), eleA(kMethod, inBaseA + ".ele");
  TextInput nodeB(kMethod, inBaseB + ".node"), eleB(kMethod, inBaseB + ".ele");
  if (!nodeA.open() || !eleA.open() || !nodeB.open() || !eleB.open()) return false;

  std::ostringstream node, ele;
  std::vector<Point> pa, pb;
  std::vector<Corners> ea, eb;
  std::vector<int> xa, xb;
  for (int l = 0; l < levels; ++l) {
    const std::string block = "level " + std::to_string(l) + " ";
    for (TextInput* in : {&nodeA, &eleA, &nodeB, &eleB}) in->setBlock(block);
    if (!readNodeBlock(nodeA, 1, pa) ||
        !readEleBlock(eleA, static_cast<long>(pa.size()), ea, &xa) ||
        !readNodeBlock(nodeB, 1, pb) ||
        !readEleBlock(eleB, static_cast<long>(pb.size()), eb, &xb) ||
        !placePoints(nodeA, pa, scaleA, nullptr, "scaleA") ||
        !placePoints(nodeB, pb, scaleB, offset, "scaleB"))
      return false;

    const size_t nA = pa.size(), mA = ea.size();
    node << nA + pb.size() << " \t3 \t0 \t1\n";
    for (size_t i = 0; i < nA; ++i)
      node << i << " \t" << pa[i].x[0] << " \t" << pa[i].x[1] << " \t" << pa[i].x[2] << " \t0\n";
    for (size_t i = 0; i < pb.size(); ++i)
      node << nA + i << " \t" << pb[i].x[0] << " \t" << pb[i].x[1] << " \t" << pb[i].x[2]
           << " \t0\n";

    ele << mA + eb.size() << " \t4 \t1\n";
    auto element = [&ele](size_t number, const Corners& c, long shift, int extra) {
      ele << number << " \t" << c[0] + shift << " \t" << c[1] + shift << " \t" << c[2] + shift
          << " \t" << c[3] + shift << " \t " << extra << "\n";
    };
    for (size_t e = 0; e < mA; ++e) element(e, ea[e], 0, xa[e]);
    for (size_t e = 0; e < eb.size(); ++e) element(mA + e, eb[e], static_cast<long>(nA), xb[e]);
  }
  return zolt::tools::writeMeshFiles(kMethod, outBase, node, ele);
}

bool convertMeshMinMax(const std::string& outBase, const std::string& inPath) {
  static const char kMethod[] = "convertMeshMinMax";
  std::cout << "Read: " << inPath << "\n";
  LineInput in(kMethod, inPath);
  int n = 0;
  if (!in.open() || !in.count(n, "vertex", 18)) return false;
  std::vector<Point> points(static_cast<size_t>(n));
  float lo[3] = {1e8f, 1e8f, 1e8f}, hi[3] = {-1e8f, -1e8f, -1e8f};
  for (int i = 0; i < n; ++i) {
    const char* line = in.need("vertex", i);
    float v[9];
    if (!line) return false;
    if (!zolt::tools::parseFloats(line, v, 9)) return in.bad("vertex", i, "not nine numbers");
    Point& p = points[static_cast<size_t>(i)];
    for (int k = 0; k < 3; ++k) {
      p.x[k] = v[k];
      if (v[k] < lo[k]) lo[k] = v[k];
      if (v[k] > hi[k]) hi[k] = v[k];
    }
    p.value = v[3];
  }
  int m = 0;
  if (!in.count(m, "element", 8)) return false;
  std::vector<Corners> kept;
  const double xLo = 0.7 * lo[0] + 0.3 * hi[0], xHi = 0.3 * lo[0] + 0.7 * hi[0];
  const double zLo = 0.6 * lo[2] + 0.4 * hi[2], zHi = 0.4 * lo[2] + 0.6 * hi[2];
  for (int e = 0; e < m; ++e) {
    const char* line = in.need("element", e);
    Corners c;
    if (!line) return false;
    if (!zolt::tools::parseInts(line, c.data(), 4)) return in.bad("element", e, "not four numbers");
    bool inside = true;
    for (long v : c) {
      if (!in.checkVertex(v, 0, n, "element", e)) return false;
      const float* x = points[static_cast<size_t>(v)].x;
      inside = inside && x[0] >= xLo && x[0] <= xHi && x[2] >= zLo && x[2] <= zHi;
    }
    if (inside) kept.push_back(c);
  }

  std::ostringstream node, ele;
  node << n << " 3 0 1\n";
  for (int i = 0; i < n; ++i) {
    const Point& p = points[static_cast<size_t>(i)];
    node << i + 1 << " " << p.x[0] << " " << p.x[1] << " " << p.x[2] << " " << p.value << "\n";
  }
  std::cout << "min: " << lo[0] << "; " << lo[1] << "; " << lo[2] << "\n";
  std::cout << "max: " << hi[0] << "; " << hi[1] << "; " << hi[2] << "\n";
  ele << kept.size() << " 4 0\n";
  for (size_t e = 0; e < kept.size(); ++e) {
    const Corners& c = kept[e];
    ele << e + 1 << " " << c[0] + 1 << " " << c[1] + 1 << " " << c[2] + 1 << " " << c[3] + 1
        << "\n";
  }
  return zolt::tools::writeMeshFiles(kMethod, outBase, node, ele);
}

bool convertMeshC(const std::string& outBase, const std::vector<std::string>& inPaths) {
  static const char kMethod[] = "convertMeshC";
  std::ostringstream node, ele;
  for (const std::string& path : inPaths) {
    std::cout << "Read: " << path << "\n";
    LineInput in(kMethod, path);
    int n = 0, m = 0;
    if (!in.open() || !in.count(n, "vertex", 6)) return false;
    node << n << " 3 0 1\n";
    for (int i = 0; i < n; ++i) {
      const char* line = in.need("vertex", i);
      float x[3];
      if (!line) return false;
      if (!zolt::tools::parseFloats(line, x, 3)) return in.bad("vertex", i, "not three numbers");
      node << i + 1 << " " << x[0] << " " << x[1] << " " << x[2] << " 0\n";
    }
    if (!in.count(m, "element", 10)) return false;
    ele << m << " 4 0\n";
    for (int e = 0; e < m; ++e) {
      const char* line = in.need("element", e);
      long v[5];
      if (!line) return false;
      if (!zolt::tools::parseInts(line, v, 5)) return in.bad("element", e, "not five numbers");
      for (int k = 1; k < 5; ++k)
        if (!in.checkVertex(v[k], 1, n, "element", e)) return false;
      ele << e + 1 << " " << v[1] << " " << v[2] << " " << v[3] << " " << v[4] << "\n";
    }
  }
  return zolt::tools::writeMeshFiles(kMethod, outBase, node, ele);
}
