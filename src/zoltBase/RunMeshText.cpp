// Text mesh levels (.node / .ele, several levels per file, appended to the
// levels already read) and the parameter file (.params). Every count,
// number and value is checked against the level and the stream: a bad one
// ends the program with exit code 1, like a missing file.

#include <algorithm>
#include <array>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "AtomicFile.h"
#include "ConfigReader.h"
#include "FiniteElement.h"
#include "Run.h"
#include "TetHierarchy.h"
#include "Tetrahedron.h"
#include "ZoltAssert.h"

namespace {

// Puts a written text file in place; one line when that failed.
void commitText(zolt::AtomicFile& file, const char* method) {
  if (!file.commit())
    std::cout << "[Run, " << method << "] Error: File \"" << file.path()
              << "\" could not be written; it is left as it was" << std::endl;
}

std::string at(int level, long long vertex) {
  return "vertex " + std::to_string(vertex + 1) + " of level " + std::to_string(level);
}

// Node files of serendipity and quadratic elements fill every other level.
int levelStep(ElementType type) {
  return type == ElementType::SERENDIPITY_TET || type == ElementType::QUADRATIC_QUAD ? 2 : 1;
}

// Nodes per element as written to an element file.
int nodesPerElement(ElementType type) {
  switch (type) {
    case ElementType::TRIANGLE:
    case ElementType::TRIANGLE3D:
      return 3;
    case ElementType::HEXAHEDRON:
      return 8;
    default:
      return 4;
  }
}

// One vertex line after its number and coordinates: the interpolation list
// (attribute count 1; kept above level 0) or `attribs` skipped integers.
// A generator's node file with boundary markers has a fourth header item of
// 1 too, but a marker where the interpolation list would be.
const char* const kMarkerHint =
    "its header's fourth item 1 means every vertex line ends with an interpolation list:"
    " written with boundary markers?";

std::string hintFor(int attribs) { return attribs == 1 ? kMarkerHint : ""; }

std::vector<InterpolationEntry> readVertexTail(std::istream& in, const std::string& path, int level,
                                               long long i, int attribs,
                                               const std::vector<Vertex*>* coarse) {
  std::vector<InterpolationEntry> parents;
  if (attribs != 1) {
    for (int a = 0; a < attribs; ++a) {
      long long skipped;
      if (!(in >> skipped)) exitBadFile(path, "Could not read the attributes of " + at(level, i));
    }
    return parents;
  }
  long long m = 0;
  if (!(in >> m) || m < 0)
    exitBadFile(path, "Could not read the interpolation count of " + at(level, i), kMarkerHint);
  for (long long j = 0; j < m; ++j) {
    long long parent = 0;
    float weight = 0.0f;
    if (!(in >> parent >> weight))
      exitBadFile(
          path,
          "Could not read interpolation entry " + std::to_string(j + 1) + " of " + at(level, i),
          kMarkerHint);
    if (!coarse) continue;  // level 0 has no coarser level: the list is dropped
    if (parent < 1 || parent > static_cast<long long>(coarse->size()))
      exitBadFile(path,
                  "Parent " + std::to_string(parent) + " of " + at(level, i) +
                      " names no vertex of level " + std::to_string(level - 1) + " (" +
                      std::to_string(coarse->size()) + " vertices)",
                  kMarkerHint);
    parents.push_back({(*coarse)[static_cast<size_t>(parent - 1)], weight});
  }
  return parents;
}

// The corners' rest positions in double, divided by `scale` when given.
void corners(const FiniteElement& e, const float* scale, double (&p)[4][3]) {
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 3; ++k)
      p[i][k] = static_cast<double>(e.getVertex(i)->restPosition[k]) / (scale ? scale[k] : 1.0f);
}

// Six times the signed volume of the corners, and the longest edge.
double sixVolume(const double (&p)[4][3], double& edge) {
  double u[3][3], longest = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) u[i][k] = p[i + 1][k] - p[0][k];
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j) {
      double d2 = 0.0;
      for (int k = 0; k < 3; ++k) d2 += (p[i][k] - p[j][k]) * (p[i][k] - p[j][k]);
      longest = std::max(longest, d2);
    }
  edge = std::sqrt(longest);
  return u[0][0] * (u[1][1] * u[2][2] - u[1][2] * u[2][1]) -
         u[0][1] * (u[1][0] * u[2][2] - u[1][2] * u[2][0]) +
         u[0][2] * (u[1][0] * u[2][1] - u[1][1] * u[2][0]);
}

// Corners (nearly) in one plane add a singular block.
bool spansVolume(const double (&p)[4][3], double& det) {
  double edge = 0.0;
  det = std::fabs(sixVolume(p, edge));
  return std::isfinite(det) && det > 1e-6 * edge * edge * edge;
}

// The whole file, for the line numbers of a message.
std::string fileText(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

long long lineAt(const std::string& text, size_t offset) {
  offset = std::min(offset, text.size());
  return 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n');
}

// 1-based lines of records a and b of the element block at `start`: the
// header is three items, a record five, six with a face mask.
std::pair<long long, long long> recordLines(const std::string& text, size_t start, size_t a,
                                            size_t b) {
  std::istringstream header(text.substr(start, 256));
  long long n = 0, k = 0, extras = 0;
  header >> n >> k >> extras;
  const size_t perRecord = extras == 1 ? 6 : 5;
  const size_t first = 3 + a * perRecord, second = 3 + b * perRecord;
  long long line = lineAt(text, start), lineA = 0;
  size_t token = 0;
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] == '\n') ++line;
    if (std::isspace(static_cast<unsigned char>(text[i]))) continue;
    if (token == first) lineA = line;
    if (token == second) return {lineA, line};
    ++token;
    while (i + 1 < text.size() && !std::isspace(static_cast<unsigned char>(text[i + 1]))) ++i;
  }
  return {lineA, line};
}

void reportCountMismatch(const char* path, const char* what, long long inFile, size_t inMesh,
                         const char* unused) {
  std::cerr << "[Run, readParamsValues] Error: \"" << path << "\" holds " << inFile << " " << what
            << ", the mesh " << inMesh << "; its " << unused << " are not used" << std::endl;
}

}  // namespace

void Run::readNodeLevel(const char* path, int nLevels, const float* matrix) {
  std::ifstream in(path);
  if (!in.is_open()) exitMissingFile(path);
  ZOLT_ASSERT(hierarchy && nLevels >= 1 && nLevels <= hierarchy->nLevels);
  vertexOffsets.resize(static_cast<size_t>(nLevels), 0);
  const float* s = renderSettings.scale;
  const bool swap = renderSettings.swapXY != 0;

  for (int l = 0; l < nLevels; l += levelStep(elementType)) {
    std::vector<Vertex*>& level = hierarchy->vertices[l];
    vertexOffsets[l] = static_cast<int>(level.size());
    long long n = 0, ignored = 0;
    int attribs = 0;
    if (!(in >> n >> ignored >> ignored >> attribs))
      exitBadFile(path, "Could not read the node header of level " + std::to_string(l));
    if (n < 0 || n > std::numeric_limits<int>::max() - vertexOffsets[l] || attribs < 0)
      exitBadFile(path, "Bad node header of level " + std::to_string(l) + " (" + std::to_string(n) +
                            " vertices, " + std::to_string(attribs) + " attributes)");
    const std::vector<Vertex*>* coarse = l > 0 ? &hierarchy->vertices[l - 1] : nullptr;
    for (long long i = 0; i < n; ++i) {
      long long number;
      float a, b, z;
      if (!(in >> number >> a >> b >> z))
        exitBadFile(path, "Could not read the coordinates of " + at(l, i), hintFor(attribs));
      float x = swap ? b : a, y = swap ? a : b;
      if (matrix) {
        const float* m = matrix;
        const float tx = m[0] * x + m[1] * y + m[2] * z + m[3];
        const float ty = m[4] * x + m[5] * y + m[6] * z + m[7];
        z = m[8] * x + m[9] * y + m[10] * z + m[11];
        x = tx;
        y = ty;
      }
      std::vector<InterpolationEntry> parents = readVertexTail(in, path, l, i, attribs, coarse);
      auto* v = new Vertex;
      v->index = vertexOffsets[l] + static_cast<int>(i);
      v->parents = std::move(parents);
      v->restPosition[0] = x * s[0];
      v->restPosition[1] = y * s[1];
      v->restPosition[2] = z * s[2];
      level.push_back(v);
    }
    std::cout << "Reading level " << l << ": " << n << " Vertices,  " << attribs << " Attribs"
              << std::endl;
  }
}

void Run::readEleLevel(const char* path, int nLevels) {
  std::ifstream in(path);
  if (!in.is_open()) exitMissingFile(path);
  ZOLT_ASSERT(hierarchy && nLevels >= 1 && nLevels <= hierarchy->nLevels);
  for (int l = 0; l < nLevels; ++l) {
    const size_t before = hierarchy->elements[l].size();
    const int offset = static_cast<size_t>(l) < vertexOffsets.size() ? vertexOffsets[l] : 0;
    if (elementType == ElementType::TETRAHEDRON) {
      in >> std::ws;  // the block starts at its count
      const std::streamoff start = in.tellg();
      Tetrahedron::read(in, hierarchy.get(), l, offset, path);
      refuseFlatElements(path, l, before);
      refuseRepeatedElements(path, l, before, start);
      if (hierarchy->elements[l].size() == before && emptyElementBlock.empty())
        emptyElementBlock = "the element count on line " +
                            std::to_string(lineAt(fileText(path), static_cast<size_t>(start))) +
                            " of \"" + path + "\" is 0";
    }
    std::cout << "Reading level " << l << ": " << hierarchy->elements[l].size() - before
              << " Elements" << std::endl;
  }
  if (elementType == ElementType::TETRAHEDRON) warnUnreadLines(in, path, nLevels - 1);
}

void Run::refuseRepeatedElements(const char* path, int level, size_t first,
                                 std::streamoff start) const {
  const std::vector<FiniteElement*>& elements = hierarchy->elements[level];
  // Sorted corner numbers, then the element's place: equal corners side by side.
  std::vector<std::pair<std::array<int, 4>, size_t>> keys;
  keys.reserve(elements.size() - first);
  for (size_t e = first; e < elements.size(); ++e) {
    std::array<int, 4> corners;
    for (int i = 0; i < 4; ++i) corners[i] = elements[e]->getVertex(i)->index;
    std::sort(corners.begin(), corners.end());
    keys.emplace_back(corners, e - first);
  }
  std::sort(keys.begin(), keys.end());
  // The first repeat in file order, and the element it repeats.
  size_t repeat = SIZE_MAX, original = 0;
  for (size_t i = 1; i < keys.size(); ++i) {
    if (keys[i].first != keys[i - 1].first || keys[i].second >= repeat) continue;
    size_t j = i - 1;
    while (j > 0 && keys[j - 1].first == keys[i].first) --j;
    repeat = keys[i].second;
    original = keys[j].second;
  }
  if (repeat == SIZE_MAX) return;
  const auto [lineA, lineB] =
      recordLines(fileText(path), static_cast<size_t>(start), original, repeat);
  exitBadFile(path,
              "Element " + std::to_string(repeat + 1) + " of level " + std::to_string(level) +
                  " (line " + std::to_string(lineB) + ") has the four vertices of element " +
                  std::to_string(original + 1) + " (line " + std::to_string(lineA) + ")",
              "it would count its stiffness and mass twice");
}

void Run::warnUnreadLines(std::istream& in, const char* path, int level) const {
  const std::streamoff end = in.tellg();
  if (end < 0) return;
  // The rest of the last element's line, then whole lines; '#' starts a comment.
  std::string line;
  for (long long k = 0; std::getline(in, line); ++k) {
    const size_t at = line.find_first_not_of(" \t\r");
    if (at == std::string::npos || line[at] == '#') continue;
    std::cerr << "[Run, readEleLevel] Warning: Line "
              << lineAt(fileText(path), static_cast<size_t>(end)) + k << " of \"" << path
              << "\" follows the elements of level " << level << " and is not read" << std::endl;
    return;
  }
}

void Run::refuseFlatElements(const char* path, int level, size_t first) const {
  const std::vector<FiniteElement*>& elements = hierarchy->elements[level];
  for (size_t e = first; e < elements.size(); ++e) {
    double p[4][3], det = 0.0, unscaledDet = 0.0;
    corners(*elements[e], nullptr, p);
    const std::string element =
        "Element " + std::to_string(e - first + 1) + " of level " + std::to_string(level);
    const float* s = renderSettings.scale;
    const bool scaled = s[0] != 1.0f || s[1] != 1.0f || s[2] != 1.0f;
    if (!spansVolume(p, det)) {
      // A body SCALE stretched too unevenly, or out of the float range.
      corners(*elements[e], s, p);
      if (scaled && (!std::isfinite(det) || spansVolume(p, unscaledDet))) {
        std::ostringstream hint;
        hint << "SCALE " << s[0] << " " << s[1] << " " << s[2]
             << " stretches the body too unevenly";
        exitBadFile(path, element + " has no volume once scaled", hint.str());
      }
      exitBadFile(path, element + " has no volume (its four vertices lie in one plane)");
    }
    // The element code works in single precision, where such a volume is 0.
    if (det < FLT_MIN) {
      std::ostringstream what, hint;
      what << element << " has a volume of " << det / 6.0;
      hint << "too small for single precision";
      if (scaled)
        hint << ": SCALE " << s[0] << " " << s[1] << " " << s[2] << " shrinks the body too far";
      exitBadFile(path, what.str(), hint.str());
    }
  }
}

void Run::readParamsValues(const char* path) {
  std::ifstream in(path);
  if (!in.is_open()) return;
  std::cout << "Read Stiffness/Density/FixedVerts File \"" << path << "\"" << std::endl;
  const std::vector<FiniteElement*>& elements = hierarchy->elements[hierarchy->nLevels - 1];
  const std::vector<Vertex*>& vertices = hierarchy->vertices[hierarchy->nLevels - 1];

  long long count = 0;
  if (!(in >> count)) exitBadFile(path, "Could not read the element count");
  if (count != static_cast<long long>(elements.size())) {
    // A file for another mesh is not used; one that holds fewer records
    // than it announces is damaged.
    long long records = 0;
    for (float pair[2]; records < count && in >> pair[0] >> pair[1];) ++records;
    if (records < count)
      exitBadFile(path, std::to_string(count) +
                            " elements announced but fewer stiffness and density records follow");
    reportCountMismatch(path, "elements", count, elements.size(), "stiffness and density");
    return;
  }
  long long refusedCount = 0;
  std::string firstRefused;
  for (size_t e = 0; e < elements.size(); ++e) {
    float stiffness, density;
    if (!(in >> stiffness >> density))
      exitBadFile(path,
                  "Could not read the stiffness and density of element " + std::to_string(e + 1));
    // Zero, negative or non-finite factors would make the system singular.
    const bool stiffnessOk = std::isfinite(stiffness) && stiffness > 0.0f;
    const bool densityOk = std::isfinite(density) && density > 0.0f;
    if ((!stiffnessOk || !densityOk) && refusedCount++ == 0) {
      const std::streamoff end = in.tellg();  // the end of the pair, on its line
      std::ostringstream first;
      first << (stiffnessOk ? "density " : "stiffness ") << (stiffnessOk ? density : stiffness)
            << " of element " << e + 1;
      if (end >= 0) first << " on line " << lineAt(fileText(path), static_cast<size_t>(end));
      firstRefused = first.str();
    }
    // Values a classification keyword set already are kept.
    if (stiffnessOk && elements[e]->getStiffness() == 1.0f) elements[e]->setStiffness(stiffness);
    if (densityOk && elements[e]->getDensity() == 1.0f) elements[e]->setDensity(density);
  }
  if (refusedCount > 0)
    std::cerr << "[Run, readParamsValues] Error: " << refusedCount
              << (refusedCount == 1 ? " element in \"" : " elements in \"") << path
              << (refusedCount == 1 ? "\" has" : "\" have")
              << " a stiffness or density factor that is not positive and finite (the first: "
              << firstRefused << "); " << (refusedCount == 1 ? "it keeps its" : "they keep their")
              << " own" << std::endl;

  const long long nVertices = static_cast<long long>(vertices.size());
  if (!(in >> count)) exitBadFile(path, "Could not read the vertex count");
  if (count != nVertices) {
    reportCountMismatch(path, "vertices", count, vertices.size(), "fixed vertices");
    return;
  }
  long long nFixed = 0;
  if (!(in >> nFixed) || nFixed < 0 || nFixed > nVertices)
    exitBadFile(path, "Bad fixed vertex count (" + std::to_string(nVertices) + " vertices)");
  fixedFromParams = nFixed != 0;
  if (nFixed == 0) return;
  fixedVertices.clear();
  for (long long i = 0; i < nFixed; ++i) {
    long long p = -1;
    if (!(in >> p)) exitBadFile(path, "Could not read fixed vertex entry " + std::to_string(i + 1));
    if (p < 0 || p >= nVertices)
      exitBadFile(path, "Fixed vertex entry " + std::to_string(i + 1) + " (" + std::to_string(p) +
                            ") names no vertex (" + std::to_string(nVertices) + " vertices)");
    fixedVertices.push_back(static_cast<int>(p));
    vertices[static_cast<size_t>(p)]->fixed = 1;
  }
}

// The text writers below replace their file whole (AtomicFile): a failed
// write leaves the old file.
void Run::writeParamsValues(const char* path) const {
  zolt::AtomicFile file(path);
  if (!file.is_open()) {
    std::cout << "Error: File \"" << path << "\" could not be created!" << std::endl;
    return;
  }
  writeParamsValues(file.stream());
  commitText(file, "writeParamsValues");
}

void Run::writeParamsValues(std::ostream& out) const {
  const std::vector<FiniteElement*>& elements = hierarchy->elements[hierarchy->nLevels - 1];
  const std::vector<Vertex*>& vertices = hierarchy->vertices[hierarchy->nLevels - 1];
  out << elements.size() << " \n";
  for (const FiniteElement* e : elements)
    out << e->getStiffness() << " " << e->getDensity() << " \n";
  out << vertices.size() << " \n";
  size_t nFixed = 0;
  for (const Vertex* v : vertices) nFixed += v->fixed ? 1 : 0;
  out << nFixed << " \n";
  for (size_t i = 0; i < vertices.size(); ++i)
    if (vertices[i]->fixed) out << i << " \n";
}

void Run::writeNodeLevel(const char* path, int nLevels) const {
  zolt::AtomicFile file(path);
  if (!file.is_open()) exitMissingFile(path);
  std::ostream& out = file.stream();
  const float* s = renderSettings.scale;
  const double* c = renderSettings.centre;
  const bool swap = renderSettings.swapXY != 0;
  // Enough digits that the coordinates read back as they were.
  out << std::setprecision(17);
  for (int l = 0; l < nLevels && l < hierarchy->nLevels; ++l) {
    const std::vector<Vertex*>& level = hierarchy->vertices[l];
    out << level.size() << " " << 3 << " " << 0 << " " << 1 << "\n";
    for (size_t i = 0; i < level.size(); ++i) {
      const float* p = level[i]->restPosition;
      const double x = (p[0] + c[0]) / s[0], y = (p[1] + c[1]) / s[1], z = (p[2] + c[2]) / s[2];
      out << i + 1 << " \t" << (swap ? y : x) << " \t" << (swap ? x : y) << " \t" << z << " \t" << 0
          << "\n";
    }
  }
  commitText(file, "writeNodeLevel");
}

void Run::flagSurfaces(const char* name) {
  const int n = readHierarchy ? levels : 1;
  for (int l = 0; l < n; ++l) {
    std::cout << "Flag Surfaces on level " << l << std::endl;
    const std::vector<FiniteElement*>& level = hierarchy->elements[l];
    for (FiniteElement* e : level) e->computeFaceMask(level.begin(), level.end());
  }
  writeEleFlags((modelsPath + name + ".ele").c_str(), n);
}

void Run::writeEleFlags(const char* path, int nLevels) const {
  zolt::AtomicFile file(path);
  if (!file.is_open()) exitMissingFile(path);
  std::ostream& out = file.stream();
  const int nodes = nodesPerElement(elementType);
  for (int l = 0; l < nLevels && l < hierarchy->nLevels; ++l) {
    const std::vector<FiniteElement*>& level = hierarchy->elements[l];
    if (level.empty()) continue;
    out << level.size() << " " << nodes << " " << 1 << "\n";
    for (size_t e = 0; e < level.size(); ++e) {
      out << e + 1 << " \t";
      for (int i = 0; i < level[e]->degreeOfFreedom(); ++i)
        out << level[e]->getVertex(i)->index + 1 << " \t";
      out << static_cast<int>(level[e]->getFaceMask()) << " \t\n";
    }
  }
  commitText(file, "writeEleFlags");
}
