#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "ConverterIO.h"
#include "Converters.h"

using zolt::tools::TextInput;

namespace {

void appendf(std::string& s, const char* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (n > 0) {
    const size_t at = s.size();
    s.resize(at + size_t(n) + 1);
    std::vsnprintf(&s[at], size_t(n) + 1, format, again);
    s.resize(at + size_t(n));
  }
  va_end(again);
}

// Minimum, maximum, mean and standard deviation of one column of a table.
template <size_t N>
void printStatistics(const char* label, const std::vector<std::array<double, N>>& rows,
                     size_t column) {
  double lo = 0.0, hi = 0.0, mean = 0.0, deviation = 0.0;
  if (!rows.empty()) {
    lo = hi = rows[0][column];
    for (const auto& r : rows) {
      lo = std::min(lo, r[column]);
      hi = std::max(hi, r[column]);
      mean += r[column];
    }
    mean /= double(rows.size());
    for (const auto& r : rows) deviation += (r[column] - mean) * (r[column] - mean);
    deviation = std::sqrt(deviation / double(rows.size()));
  }
  std::printf("%-12s min %.5f   max %.5f   avg %.5f   dev %.5f\n", label, lo, hi, mean, deviation);
}

// `count` records of N vertex numbers, each in 1..nVertices.
template <size_t N>
bool readCorners(TextInput& in, const char* item, int count, int nVertices,
                 std::vector<std::array<int, N>>& out) {
  out.resize(size_t(count));
  for (int e = 0; e < count; ++e)
    for (int& v : out[size_t(e)])
      if (!in.read(v, item, e) || !in.checkVertex(v, 1, nVertices, item, e)) return false;
  return true;
}

}  // namespace

int convertFlowField(const std::string& gridPath, const std::string& flowPath,
                     const std::string& outBase) {
  static const char kMethod[] = "convertFlowField";
  std::printf("Grid file:   %s\nFlow file:   %s\nOutput base: %s\n", gridPath.c_str(),
              flowPath.c_str(), outBase.c_str());
  TextInput grid(kMethod, gridPath);
  int nVertices = 0, nTriangles = 0, nTets = 0;
  if (!grid.open() || !grid.count(nVertices, "vertex", 3) ||
      !grid.count(nTriangles, "triangle", 3) || !grid.count(nTets, "tetrahedron", 4))
    return 0;
  std::printf("Vertices:    %i\nTriangles:   %i\nTetrahedra:  %i\n", nVertices, nTriangles, nTets);

  std::vector<std::array<double, 3>> x(static_cast<size_t>(nVertices));
  if (!grid.expect("VERTICES")) return 0;
  for (int i = 0; i < nVertices; ++i)
    for (double& c : x[size_t(i)])
      if (!grid.read(c, "vertex", i)) return 0;
  std::vector<std::array<int, 3>> triangles;
  std::vector<std::array<int, 4>> tets;
  if (!grid.expect("TRIANGLES") ||
      !readCorners(grid, "triangle", nTriangles, nVertices, triangles) ||
      !grid.expect("TETRAHEDRA") || !readCorners(grid, "tetrahedron", nTets, nVertices, tets))
    return 0;
  static const char* const kAxes[] = {"x", "y", "z"};
  for (size_t k = 0; k < 3; ++k) printStatistics(kAxes[k], x, k);

  TextInput flow(kMethod, flowPath);
  int nodes = 0;
  double header[4];  // Mach number, angle of attack, Reynolds number, time
  if (!flow.open() || !flow.read(nodes, "node count")) return 0;
  if (nodes != nVertices) {
    std::printf("ERROR: FLOWFIELD DOES NOT MATCH GRID - %i nodes indicated!\n", nodes);
    std::fflush(stdout);
    return flow.fail("node count " + std::to_string(nodes) + " does not match the " +
                     std::to_string(nVertices) + " vertices of " + gridPath);
  }
  for (double& h : header)
    if (!flow.read(h, "flow header")) return 0;
  std::vector<std::array<double, 5>> q(static_cast<size_t>(nVertices));
  for (int i = 0; i < nVertices; ++i)
    for (double& v : q[size_t(i)])
      if (!flow.read(v, "node", i)) return 0;
  static const char* const kQuantities[] = {"density", "X-momentum", "Y-momentum", "Z-momentum",
                                            "energy"};
  for (size_t k = 0; k < 5; ++k) printStatistics(kQuantities[k], q, k);

  std::string node, ele;
  appendf(node, "%i 3 0 1\n", nVertices);
  for (int i = 0; i < nVertices; ++i) {
    const auto& p = x[size_t(i)];
    appendf(node, "%i %f %f %f %f\n", i + 1, p[0], p[1], p[2], q[size_t(i)][4]);
  }
  appendf(ele, "%i 4 0\n", nTets);
  for (int e = 0; e < nTets; ++e) {
    const auto& t = tets[size_t(e)];
    appendf(ele, "%i %i %i %i %i\n", e + 1, t[0], t[1], t[2], t[3]);
  }
  return zolt::tools::writeMeshFiles(kMethod, outBase, node, ele) ? 1 : 0;
}
