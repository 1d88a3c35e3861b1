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
#include <memory>
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
    " written with boundary markers? tetgen -B leaves them out; from meshio, write the points"
    " without their point data";

std::string hintFor(int attribs) { return attribs == 1 ? kMarkerHint : ""; }

std::vector<InterpolationEntry> readVertexTail(std::istream& in, const std::string& path, int level,
                                               long long i, int attribs,
                                               const std::vector<Vertex*>* coarse,
                                               long long coarseBase) {
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
    if (parent < coarseBase || parent - coarseBase >= static_cast<long long>(coarse->size()))
      exitBadFile(path,
                  "Parent " + std::to_string(parent) + " of " + at(level, i) +
                      " names no vertex of level " + std::to_string(level - 1) + " (" +
                      std::to_string(coarse->size()) + " vertices)",
                  kMarkerHint);
    parents.push_back({(*coarse)[static_cast<size_t>(parent - coarseBase)], weight});
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

// The whole file with its '#' comments blanked and every CR LF, or CR
// alone, made one '\n', in place: byte offsets stay those of the file and
// each line end counts once. False when the file cannot be opened.
bool loadMeshText(const char* path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return false;
  text.assign(std::istreambuf_iterator<char>(in), {});
  bool comment = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char& c = text[i];
    if (c == '\r') c = i + 1 < text.size() && text[i + 1] == '\n' ? ' ' : '\n';
    if (c == '\n') {
      comment = false;
      continue;
    }
    if (c == '#') comment = true;
    if (comment) c = ' ';
  }
  return true;
}

// The file as the readers see it, for the line numbers of a message.
std::string fileText(const char* path) {
  std::string text;
  loadMeshText(path, text);
  return text;
}

long long lineAt(const std::string& text, size_t offset) {
  offset = std::min(offset, text.size());
  return 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n');
}

// An input stream over `text`, which it does not copy; tellg and seekg
// work. Running out of memory inside an extraction (a float's digits are
// gathered on the heap) is thrown on, not taken for a number that does not
// parse.
class TextStream : public std::istream {
 public:
  explicit TextStream(std::string& text) : std::istream(nullptr), buf_(text) {
    rdbuf(&buf_);
    exceptions(std::ios::badbit);
  }

 private:
  struct Buf : std::streambuf {
    explicit Buf(std::string& t) { setg(&t[0], &t[0], &t[0] + t.size()); }
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
      char* from = dir == std::ios_base::beg   ? eback()
                   : dir == std::ios_base::cur ? gptr()
                                               : egptr();
      if (off < eback() - from || off > egptr() - from) return pos_type(off_type(-1));
      setg(eback(), from + off, egptr());
      return pos_type(gptr() - eback());
    }
    pos_type seekpos(pos_type p, std::ios_base::openmode m) override {
      return seekoff(off_type(p), std::ios_base::beg, m);
    }
  } buf_;
};

// One line from `at` on: its items and where the next line starts.
std::vector<std::string> lineItems(const std::string& text, size_t& at) {
  const size_t end = std::min(text.find('\n', at), text.size());
  std::istringstream line(text.substr(at, end - at));
  at = end + 1;
  return {std::istream_iterator<std::string>(line), {}};
}

bool isCount(const std::string& item, long long& value) {
  if (item.empty() || item.size() > 18 ||
      !std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  value = std::stoll(item);
  return true;
}

// The element counts of the blocks that follow byte `at`: a line of three
// counts, its records one a line, as a mesh converter writes one block per
// volume.
std::vector<long long> followingBlocks(const std::string& text, size_t at) {
  std::vector<long long> counts;
  while (at < text.size()) {
    std::vector<std::string> items = lineItems(text, at);
    if (items.empty()) continue;
    long long n = 0, k = 0, extras = 0;
    if (items.size() != 3 || !isCount(items[0], n) || !isCount(items[1], k) ||
        !isCount(items[2], extras))
      break;
    counts.push_back(n);
    for (long long records = 0; records < n && at < text.size();)
      if (!lineItems(text, at).empty()) ++records;
  }
  return counts;
}

// "110, 112 and 13169"
std::string listed(const std::vector<long long>& counts) {
  std::string out;
  for (size_t i = 0; i < counts.size(); ++i)
    out += (i == 0 ? "" : i + 1 == counts.size() ? " and " : ", ") + std::to_string(counts[i]);
  return out;
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
  std::string text;
  if (!loadMeshText(path, text)) exitMissingFile(path);
  TextStream in(text);
  ZOLT_ASSERT(hierarchy && nLevels >= 1 && nLevels <= hierarchy->nLevels);
  vertexOffsets.resize(static_cast<size_t>(nLevels), 0);
  vertexBases.assign(static_cast<size_t>(nLevels), 1);
  const float* s = renderSettings.scale;
  const bool swap = renderSettings.swapXY != 0;

  long long coarseBase = 1;  // parents count as the coarser level's vertices do
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
    long long base = 1;
    for (long long i = 0; i < n; ++i) {
      long long number;
      float a, b, z;
      if (!(in >> number))
        exitBadFile(path, "Could not read the coordinates of " + at(l, i), hintFor(attribs));
      // The first number sets the base, as TetGen reads it (-z: 0).
      if (i == 0 && (number == 0 || number == 1)) base = number;
      if (number != base + i) {
        const std::string line =
            " (line " + std::to_string(lineAt(text, static_cast<size_t>(in.tellg()))) + ")";
        const std::string hint =
            attribs == 1 ? kMarkerHint : "vertices are numbered in file order from 0 or 1";
        exitBadFile(path,
                    i == 0 ? "The first vertex of level " + std::to_string(l) + line +
                                 " is numbered " + std::to_string(number) + ", not 0 or 1"
                           : "Vertex " + std::to_string(i + 1) + " of level " + std::to_string(l) +
                                 line + " is numbered " + std::to_string(number) + ", where " +
                                 std::to_string(base + i) + " follows",
                    hint);
      }
      if (!(in >> a >> b >> z))
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
      std::vector<InterpolationEntry> parents =
          readVertexTail(in, path, l, i, attribs, coarse, coarseBase);
      auto v = std::make_unique<Vertex>();
      v->index = vertexOffsets[l] + static_cast<int>(i);
      v->parents = std::move(parents);
      v->restPosition[0] = x * s[0];
      v->restPosition[1] = y * s[1];
      v->restPosition[2] = z * s[2];
      level.push_back(v.get());
      v.release();
    }
    vertexBases[l] = static_cast<int>(base);
    coarseBase = base;
    std::cout << "Reading level " << l << ": " << n << " Vertices,  " << attribs << " Attribs"
              << std::endl;
  }
  nodeFileContinues = !(in >> std::ws).eof();
}

void Run::refuseElementHeader(const std::string& text, std::streamoff start, const char* path,
                              int level) const {
  if (start < 0) return;
  std::istringstream header(text.substr(static_cast<size_t>(start), 256));
  long long n = 0, k = 0, extras = 0;
  if (!(header >> n >> k >> extras)) return;  // the element reader says so
  const std::string what = "The element header of level " + std::to_string(level) + " (line " +
                           std::to_string(lineAt(text, static_cast<size_t>(start))) + ") gives ";
  if (k != 4)
    exitBadFile(path, what + std::to_string(k) + " vertices per element",
                std::string("the 4 corners of a tetrahedron are read: ") +
                    (k == 10 ? "10-node tetrahedra are second order, mesh with order 1"
                               " (gmsh -order 1, tetgen without -o2)"
                             : "mesh the volume into 4-node tetrahedra"));
  if (extras != 0 && extras != 1)
    exitBadFile(path, what + std::to_string(extras) + " attributes per element",
                "0 are read, or 1 as a face mask: mesh without region attributes (tetgen without"
                " -A, or one region); from meshio, write the tetrahedra without their cell data");
}

void Run::readEleLevel(const char* path, int nLevels) {
  std::string text;
  if (!loadMeshText(path, text)) exitMissingFile(path);
  TextStream in(text);
  ZOLT_ASSERT(hierarchy && nLevels >= 1 && nLevels <= hierarchy->nLevels);
  size_t lastBlock = 0;  // elements of the last block read
  for (int l = 0; l < nLevels; ++l) {
    const size_t before = hierarchy->elements[l].size();
    const int offset = static_cast<size_t>(l) < vertexOffsets.size() ? vertexOffsets[l] : 0;
    const int base = static_cast<size_t>(l) < vertexBases.size() ? vertexBases[l] : 1;
    if (elementType == ElementType::TETRAHEDRON) {
      in >> std::ws;  // the block starts at its count
      const std::streamoff start = in.tellg();
      if (start < 0)
        exitBadFile(
            path,
            "No element block of level " + std::to_string(l) + " follows (only blanks or comments)",
            l == 0 ? "meshio writes 4-node tetrahedra alone and leaves the file so for a"
                     " mesh of another kind: mesh the volume with order 1 (gmsh -3 -order 1)"
                   : "READ_HIERARCHY with LEVEL n reads n blocks");
      refuseElementHeader(text, start, path, l);
      Tetrahedron::read(in, hierarchy.get(), l, offset, path, base);
      refuseFlatElements(path, l, before);
      refuseRepeatedElements(path, l, before, start);
      if (hierarchy->elements[l].size() == before && emptyElementBlock.empty())
        emptyElementBlock = "the element count on line " +
                            std::to_string(lineAt(text, static_cast<size_t>(start))) + " of \"" +
                            path + "\" is 0";
    }
    lastBlock = hierarchy->elements[l].size() - before;
    std::cout << "Reading level " << l << ": " << lastBlock << " Elements" << std::endl;
  }
  if (elementType != ElementType::TETRAHEDRON) return;
  // Further blocks over one block of vertices are the volumes of one body,
  // as a converter writes them: reading the first would leave the others
  // out. Under a node file that holds more levels they are levels.
  const std::streamoff end = in.tellg();
  if (!readHierarchy && !nodeFileContinues && end >= 0) {
    std::vector<long long> blocks = followingBlocks(text, static_cast<size_t>(end));
    if (!blocks.empty()) {
      blocks.insert(blocks.begin(), static_cast<long long>(lastBlock));
      exitBadFile(path,
                  "The element file holds " + std::to_string(blocks.size()) + " element blocks (" +
                      listed(blocks) + " elements); only the first would be read",
                  "a converter writes one block per volume: write all tetrahedra as one block,"
                  " see README.md, \"Your own mesh\"");
    }
  }
  warnUnreadLines(in, path, nLevels - 1);
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
  std::string text;
  if (!loadMeshText(path, text)) return;
  TextStream in(text);
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
      if (end >= 0) first << " on line " << lineAt(text, static_cast<size_t>(end));
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
