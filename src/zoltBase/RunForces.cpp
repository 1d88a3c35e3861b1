// Configuration pass 2: configured forces and deformation targets, the force
// field, and per-element stiffness and density. Runs on the complete,
// centred hierarchy.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ConfigReader.h"
#include "DeformationForce.h"
#include "FiniteElement.h"
#include "Run.h"
#include "SealedFile.h"
#include "TetHierarchy.h"
#include "ZoltAssert.h"

namespace {

const std::vector<Vertex*>& finestVertices(const TetHierarchy* h) {
  return h->vertices[h->nLevels - 1];
}

const std::vector<FiniteElement*>& finestElements(const TetHierarchy* h) {
  return h->elements[h->nLevels - 1];
}

// Mean of the element's node rest positions, in single precision.
void centroid(const FiniteElement* e, float c[3]) {
  c[0] = c[1] = c[2] = 0.0f;
  const int n = e->degreeOfFreedom();
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) c[k] += e->getVertex(i)->restPosition[k];
  for (int k = 0; k < 3; ++k) c[k] /= static_cast<float>(n);
}

VertexForce vertexForce(const Run& run, Vertex* v, const float* f) {
  VertexForce vf;
  vf.vertex = v;
  const bool swap = run.renderSettings.swapXY != 0;
  vf.value[0] = swap ? f[1] : f[0];
  vf.value[1] = swap ? f[0] : f[1];
  vf.value[2] = f[2];
  return vf;
}

// Pass 1 notes, as read, the entries that change element factors: the mesh
// cache holds their result.
void noteShaping(Run& run, const char* keyword, std::initializer_list<double> values,
                 std::initializer_list<std::string> files = {}) {
  std::ostringstream text;
  text << keyword << std::setprecision(17);
  for (double v : values) text << " " << v;
  for (const std::string& f : files) {
    text << " " << f;
    run.shapingFiles.push_back(f);
  }
  run.shapingEntries += text.str() + "\n";
}

// FORCE_VERTICES and DEFORMATION: n times a vertex number and a vector.
void readVertexVectors(Run& run, ConfigReader& r, const char* keyword,
                       std::vector<VertexForce>& out) {
  int n = 0;
  if (!r.values(keyword, n)) return;
  int outOfRange = 0;
  std::string first;
  float firstValue[3] = {0.0f, 0.0f, 0.0f};
  for (int i = 0; i < n; ++i) {
    int number;
    float f[3];
    if (!r.values(keyword, number, f[0], f[1], f[2])) return;
    if (!r.applying()) continue;
    if (!ConfigReader::inRange({f[0], f[1], f[2]})) {
      if (outOfRange++ == 0) {
        first = std::string(keyword) + " vertex " + std::to_string(number);
        std::copy(f, f + 3, firstValue);
      }
      continue;
    }
    Vertex* v = run.configVertex(number);
    if (!v) {
      r.warn(std::string(keyword) + " vertex " + std::to_string(number) +
             " does not exist; skipped");
      continue;
    }
    out.push_back(vertexForce(run, v, f));
  }
  if (outOfRange > 0)
    r.checkRange(first, {firstValue[0], firstValue[1], firstValue[2]},
                 outOfRange > 1 ? " (" + std::to_string(outOfRange) + " entries skipped)" : "");
}

void readForcePlane(Run& run, ConfigReader& r) {
  float h, f[3];
  if (!r.values("FORCE_PLANE", h, f[0], f[1], f[2]) || !r.applying()) return;
  if (!r.checkRange("FORCE_PLANE", {h, f[0], f[1], f[2]})) return;
  const double plane = static_cast<double>(run.renderSettings.scale[1] * h);
  int count = 0;
  for (Vertex* v : finestVertices(run.hierarchy.get())) {
    if (std::fabs(v->restPosition[1] + run.renderSettings.centre[1] - plane) >= 0.001) continue;
    run.settings.forces.push_back(vertexForce(run, v, f));
    ++count;
  }
  std::cout << "Added " << count << " force vectors!" << std::endl;
}

// SPHERICAL_FORCE, WIND_FORCE, VORTEX_FORCE: a type and the first dim
// components of the field vector.
DeformationForce* setField(Run& run, int type, const float* v) {
  DeformationForce* f = run.settings.deformationForce;
  f->type = type;
  for (int k = 0; k < run.dim && k < 3; ++k) f->vector[k] = v[k];
  return f;
}

void readSphericalForce(Run& run, ConfigReader& r) {
  float c[3], p, q;
  if (!r.values("SPHERICAL_FORCE", c[0], c[1], c[2], p, q) || !r.applying()) return;
  if (!r.checkRange("SPHERICAL_FORCE", {c[0], c[1], c[2], p, q})) return;
  DeformationForce* f = setField(run, 1, c);
  f->param[0] = p * 3.1415927f;
  f->param[1] = q;
  f->phase = 0.0f;
}

void readRadialForce(Run& run, ConfigReader& r) {
  float c[3], radius, q;
  if (!r.values("RADIAL_FORCE", c[0], c[1], c[2], radius, q) || !r.applying()) return;
  if (!r.checkRange("RADIAL_FORCE", {c[0], c[1], c[2], radius, q})) return;
  DeformationForce* f = run.settings.deformationForce;
  f->type = 6;
  for (int k = 0; k < 3; ++k) f->vector[k] = c[k];
  f->param[0] = radius * radius;
  f->param[1] = q;
  // An element is listed once for every node that passes the test.
  f->elements = std::make_unique<std::vector<FiniteElement*>>();
  for (FiniteElement* e : finestElements(run.hierarchy.get()))
    for (int i = 0; i < e->degreeOfFreedom(); ++i) {
      const float* p = e->getVertex(i)->restPosition;
      if (c[0] * p[0] + c[1] * p[1] + c[2] * p[2] <= f->param[0]) f->elements->push_back(e);
    }
}

void readWindForce(Run& run, ConfigReader& r) {
  float d[3], p, q;
  if (!r.values("WIND_FORCE", d[0], d[1], d[2], p, q) || !r.applying()) return;
  if (!r.checkRange("WIND_FORCE", {d[0], d[1], d[2], p, q})) return;
  DeformationForce* f = setField(run, 3, d);
  f->param[0] = p;
  f->param[1] = q;
  f->phase = 0.0f;
}

void readBoxClassification(Run& run, ConfigReader& r) {
  float b[6], stiffness, density;
  if (!r.values("BOX_CLASSIFICATION", b[0], b[1], b[2], b[3], b[4], b[5], stiffness, density))
    return;
  if (!r.applying()) {
    noteShaping(run, "BOX_CLASSIFICATION",
                {b[0], b[1], b[2], b[3], b[4], b[5], stiffness, density});
    return;
  }
  if (!(stiffness > 0.0f && std::isfinite(stiffness)) ||
      !(density > 0.0f && std::isfinite(density))) {
    std::ostringstream text;
    text << "BOX_CLASSIFICATION stiffness " << stiffness << " and density " << density
         << " refused: both factors must be positive and finite";
    r.refuse(text.str());
    return;
  }
  if (run.meshFromCache) return;  // the cached factors hold it
  const RenderSettings& rs = run.renderSettings;
  for (int i = 0; i < 6; ++i) {
    const int k = i / 2;
    b[i] = static_cast<float>(static_cast<double>(b[i] * rs.scale[k]) - rs.centre[k]);
  }
  for (FiniteElement* e : finestElements(run.hierarchy.get())) {
    float c[3];
    centroid(e, c);
    if (c[0] >= b[0] && c[0] <= b[1] && c[1] >= b[2] && c[1] <= b[3] && c[2] >= b[4] &&
        c[2] <= b[5]) {
      e->setStiffness(stiffness);
      e->setDensity(density);
    }
  }
}

void readVolumeClassification(Run& run, ConfigReader& r) {
  float f[6];
  int n[3];
  std::string volume, stiffness, density;
  if (!r.values("VOLUME_CLASSIFICATION", f[0], f[1], f[2], f[3], f[4], f[5], n[0], n[1], n[2],
                volume, stiffness, density))
    return;
  if (!r.applying()) {
    for (const std::string* path : {&volume, &stiffness, &density})
      r.checkPath("VOLUME_CLASSIFICATION", *path);
    noteShaping(run, "VOLUME_CLASSIFICATION",
                {f[0], f[1], f[2], f[3], f[4], f[5], double(n[0]), double(n[1]), double(n[2])},
                {volume, stiffness, density});
    return;
  }
  // The cached factors of a warm load hold the classification; its files
  // are still checked, so that a problem is said on every load.
  const bool apply = !run.meshFromCache;
  // The box of the finest vertices, widened by the offsets.
  float box[6] = {1e8f, -1e8f, 1e8f, -1e8f, 1e8f, -1e8f};
  for (const Vertex* v : finestVertices(run.hierarchy.get()))
    for (int k = 0; k < 3; ++k) {
      if (v->restPosition[k] < box[2 * k]) box[2 * k] = v->restPosition[k];
      if (v->restPosition[k] > box[2 * k + 1]) box[2 * k + 1] = v->restPosition[k];
    }
  for (int i = 0; i < 6; ++i) box[i] += f[i] * run.renderSettings.scale[i / 2];
  if (apply)
    std::cout << "Set Stiffness/density from volume \"" << volume << "\" using transfer functions "
              << stiffness << " and " << density << std::endl;
  Run::classifyByVolume(run.hierarchy.get(), n[0], n[1], n[2], volume.c_str(), box,
                        stiffness.c_str(), density.c_str(), apply);
}

void readBellow(Run& run, ConfigReader& r) {
  float p[3], magnitude;
  if (!r.values("BELLOW", p[0], p[1], p[2], magnitude)) return;
  if (!r.applying()) {
    noteShaping(run, "BELLOW", {p[0], p[1], p[2], magnitude});
    return;
  }
  if (!r.checkRange("BELLOW", {p[0], p[1], p[2], magnitude})) return;
  Run::addBellow(run.hierarchy.get(), &run.settings.forces, magnitude, p, nullptr);
}

void readImplant(Run& run, ConfigReader& r) {
  float a, b, c;
  if (!r.values("IMPLANT", a, b, c) || !r.applying()) return;
  if (!Run::addImplant(run.settings.deformationForce, a, b, c))
    r.refuse("IMPLANT skipped: no finest-level element has a stiffness of at most 0.1");
}

// Compared in this order.
const ConfigKeyword kKeywords[] = {
    {"FORCE_VERTICES",
     [](Run& run, ConfigReader& r) {
       readVertexVectors(run, r, "FORCE_VERTICES", run.settings.forces);
     }},
    {"FORCE_PLANE", readForcePlane},
    {"DEFORMATION",
     [](Run& run, ConfigReader& r) {
       readVertexVectors(run, r, "DEFORMATION", run.settings.deformations);
     }},
    {"SPHERICAL_FORCE", readSphericalForce},
    {"RADIAL_FORCE", readRadialForce},
    {"RAND_FORCE",
     [](Run& run, ConfigReader& r) {
       if (r.applying()) run.settings.deformationForce->type = 2;
     }},
    {"WIND_FORCE", readWindForce},
    {"VORTEX_FORCE",
     [](Run& run, ConfigReader& r) {
       float d[3];
       if (!r.values("VORTEX_FORCE", d[0], d[1], d[2]) || !r.applying()) return;
       if (r.checkRange("VORTEX_FORCE", {d[0], d[1], d[2]})) setField(run, 4, d);
     }},
    {"BOX_CLASSIFICATION", readBoxClassification},
    {"VOLUME_CLASSIFICATION", readVolumeClassification},
    {"BELLOW", readBellow},
    {"IMPLANT", readImplant},
};

}  // namespace

KeywordTable forceKeywords() { return kKeywords; }

namespace {

// Up to 256 floats of a text table; entries the file does not supply stay 1.
// False, reported, when the file does not open.
bool readTable(const char* path, float table[256]) {
  for (int i = 0; i < 256; ++i) table[i] = 1.0f;
  std::ifstream in(path);
  const std::string why = zolt::notAFile(path);
  if (!in.is_open() || !why.empty()) {
    std::cerr << "[Run, classifyByVolume] Error: Transfer table \"" << path << "\" "
              << (why.empty() ? "does not open" : why) << "; classification skipped" << std::endl;
    return false;
  }
  for (int i = 0; i < 256 && in >> table[i]; ++i) {
  }
  return true;
}

// False, reported, when entry s of the table is not a positive finite
// factor (it would make the system singular or overflow).
bool factorOk(const char* path, const float table[256], uint8_t s) {
  if (table[s] > 0.0f && std::isfinite(table[s])) return true;
  std::cerr << "[Run, classifyByVolume] Error: Entry " << int(s) << " of \"" << path << "\" is "
            << table[s] << ": every factor used must be positive and finite; classification"
            << " skipped" << std::endl;
  return false;
}

// Grid index of coordinate x in n samples over [lo, hi], or -1 outside.
int64_t gridIndex(int n, float x, float lo, float hi) {
  const float i = std::floor(static_cast<float>(n - 1) * (x - lo) / (hi - lo) + 0.5f);
  return i >= 0.0f && i < static_cast<float>(n) ? static_cast<int64_t>(i) : -1;
}

}  // namespace

Vertex* Run::configVertex(int number) const {
  const std::vector<Vertex*>& finest = finestVertices(hierarchy.get());
  const std::vector<Vertex*>& level = readHierarchy ? hierarchy->vertices[0] : finest;
  if (number < 1 || static_cast<size_t>(number) > level.size()) return nullptr;
  Vertex* v = level[static_cast<size_t>(number) - 1];
  return readHierarchy ? nearestVertex(finest, v->restPosition) : v;
}

bool Run::readForces(const char* path) {
  ZOLT_ASSERT(hierarchy && settings.deformationForce);
  ConfigReader r("readForces", path);
  return r.replay(*this, kKeywords, forcePlaces);
}

void Run::classifyByVolume(TetHierarchy* h, int nx, int ny, int nz, const char* volumeFile,
                           const float box[6], const char* stiffnessTable, const char* densityTable,
                           bool apply) {
  if (!(box[1] > box[0] && box[3] > box[2] && box[5] > box[4]) || nx < 1 || ny < 1 || nz < 1) {
    std::cerr << "[Run, classifyByVolume] Error: The volume box must have a positive extent and"
                 " every sample count must be positive; classification skipped"
              << std::endl;
    return;
  }
  // The volume must hold every sample its counts claim: the counts never
  // size more than the file.
  const long double claimed = static_cast<long double>(nx) * ny * nz;
  std::vector<uint8_t> volume;
  std::ifstream in(volumeFile, std::ios::binary);
  if (!in.is_open()) {
    std::cerr << "[Run, classifyByVolume] Error: Volume file \"" << volumeFile
              << "\" does not open; classification skipped" << std::endl;
    return;
  }
  std::error_code ec;
  const uintmax_t size = std::filesystem::is_regular_file(volumeFile, ec)
                             ? std::filesystem::file_size(volumeFile, ec)
                             : 0;
  if (ec || claimed > static_cast<long double>(size)) {
    std::cerr << "[Run, classifyByVolume] Error: \"" << volumeFile << "\" holds " << (ec ? 0 : size)
              << " bytes, fewer than the " << nx << " x " << ny << " x " << nz
              << " samples; classification skipped" << std::endl;
    return;
  }
  const auto total = static_cast<size_t>(claimed);
  volume.resize(total);
  if (!in.read(reinterpret_cast<char*>(volume.data()), static_cast<std::streamsize>(total)))
    volume.resize(static_cast<size_t>(in.gcount()));
  float stiffness[256], density[256];
  if (!readTable(stiffnessTable, stiffness) || !readTable(densityTable, density)) return;

  // Every factor is checked before any is applied.
  std::vector<std::pair<FiniteElement*, uint8_t>> samples;
  for (FiniteElement* e : finestElements(h)) {
    float c[3];
    centroid(e, c);
    const int64_t i = gridIndex(nx, c[0], box[0], box[1]);
    const int64_t j = gridIndex(ny, c[1], box[2], box[3]);
    const int64_t k = gridIndex(nz, c[2], box[4], box[5]);
    if (i < 0 || j < 0 || k < 0) continue;
    const uint64_t index =
        (static_cast<uint64_t>(j) + static_cast<uint64_t>(k) * ny) * static_cast<uint64_t>(nx) +
        static_cast<uint64_t>(i);
    const uint8_t s = index < volume.size() ? volume[index] : 0;
    if (!factorOk(stiffnessTable, stiffness, s) || !factorOk(densityTable, density, s)) return;
    samples.emplace_back(e, s);
  }
  if (!apply) return;
  for (const auto& [e, s] : samples) {
    e->setStiffness(stiffness[s]);
    e->setDensity(density[s]);
  }
}

void Run::addBellow(TetHierarchy* h, std::vector<VertexForce>* forces, float magnitude,
                    const float* point, Vertex* vertex) {
  Vertex* centre = vertex;
  if (point)
    if (Vertex* v = nearestVertex(finestVertices(h), point, 1e20f)) centre = v;
  if (!centre) return;

  std::vector<FiniteElement*> around;
  std::vector<Vertex*> neighbours;
  for (FiniteElement* e : finestElements(h)) {
    const int n = e->degreeOfFreedom();
    for (int i = 0; i < n; ++i) {
      if (e->getVertex(i) != centre) continue;
      around.push_back(e);
      for (int j = 0; j < n; ++j) {
        Vertex* w = e->getVertex(j);
        if (j == i) continue;
        bool known = false;
        for (const Vertex* u : neighbours) known = known || u == w;
        if (!known) neighbours.push_back(w);
      }
    }
  }
  for (FiniteElement* e : around) {
    e->setStiffness(0.001f);
    e->setDensity(0.01f);
  }
  for (Vertex* w : neighbours) {
    const float d[3] = {w->restPosition[0] - centre->restPosition[0],
                        w->restPosition[1] - centre->restPosition[1],
                        w->restPosition[2] - centre->restPosition[2]};
    const float length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (!(length > 0.0f)) continue;  // a node on top of the centre has no direction
    const float s = magnitude / length;
    VertexForce f;
    f.vertex = w;
    for (int k = 0; k < 3; ++k) f.value[k] = d[k] * s;
    forces->push_back(f);
  }
}

bool Run::addImplant(DeformationForce* field, float a, float b, float c) {
  const std::vector<FiniteElement*>& elements = finestElements(field->hierarchy);
  auto soft = std::make_unique<std::vector<FiniteElement*>>();
  float centre[3] = {0.0f, 0.0f, 0.0f};
  for (FiniteElement* e : elements) {
    if (e->getStiffness() > 0.1) continue;
    soft->push_back(e);
    for (int i = 0; i < e->degreeOfFreedom(); ++i)
      for (int k = 0; k < 3; ++k) centre[k] += e->getVertex(i)->restPosition[k];
  }
  if (soft->empty()) return false;
  // A node is counted once per soft element that holds it.
  const float count = static_cast<float>(elements.front()->degreeOfFreedom() * soft->size());
  field->type = 5;
  field->param[0] = a;
  field->param[1] = b;
  field->param[2] = c;
  for (int k = 0; k < 3; ++k) field->vector[k] = centre[k] / count;
  field->elements = std::move(soft);
  field->markSoftOnlyNodes();
  return true;
}
