// Configuration pass 1: element kind, material, levels, render options,
// barrier and MESH entries. Values are checked before they are stored: a
// value that does not parse ends the pass (the model is refused), one out of
// range is refused with a message and the old value kept.

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Barrier.h"
#include "ConfigReader.h"
#include "Run.h"
#include "TimeIntegration.h"

namespace {

// Above this the element count of the finest level, level 0 times
// 8^(LEVEL - 1), no longer fits in an int.
constexpr int kMaxLevels = 11;

double length(const double* v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// n = (b - a) x (c - a) in double; returns |b - a| |c - a|.
double cross(const float* a, const float* b, const float* c, double n[3]) {
  const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
  const double w[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
  n[0] = u[1] * w[2] - u[2] * w[1];
  n[1] = u[2] * w[0] - u[0] * w[2];
  n[2] = u[0] * w[1] - u[1] * w[0];
  return length(u) * length(w);
}

// The three points span a plane: |(b - a) x (c - a)| > 1e-6 |b - a| |c - a|.
bool spansPlane(const float* a, const float* b, const float* c) {
  double n[3];
  const double sides = cross(a, b, c, n);
  const double area = length(n);
  return std::isfinite(area) && area > 1e-6 * sides;
}

// Eight corners c0..c7 whose six faces (the barrier's plane table) each span
// a plane and that do not all lie in the bottom plane.
bool spansSolid(const float* c) {
  auto p = [c](int i) { return c + 3 * i; };
  // Each face as the three corners its normal is built from.
  static const int kFaces[6][3] = {{0, 1, 2}, {4, 5, 1}, {5, 6, 2},
                                   {6, 7, 3}, {7, 4, 0}, {5, 4, 7}};
  for (const auto& f : kFaces)
    if (!spansPlane(p(f[0]), p(f[1]), p(f[2]))) return false;
  double n[3], extent = 0.0, height = 0.0;
  cross(p(0), p(1), p(2), n);
  const double len = length(n);
  for (int i = 1; i < 8; ++i) {
    const double d[3] = {double(p(i)[0]) - c[0], double(p(i)[1]) - c[1], double(p(i)[2]) - c[2]};
    extent = std::fmax(extent, length(d));
    height = std::fmax(height, std::fabs(n[0] * d[0] + n[1] * d[1] + n[2] * d[2]) / len);
  }
  return height > 1e-6 * extent;
}

// Elasticity E and transverse contraction nu of the Lame parameters.
double elasticity(double lambda, double mu) {
  return mu * (3.0 * lambda + 2.0 * mu) / (lambda + mu);
}
double contraction(double lambda, double mu) { return 0.5 * lambda / (lambda + mu); }

void replaceBarrier(Run& run, Barrier* barrier) {
  delete run.settings.barrier;
  run.settings.barrier = barrier;
}

void readFixedVertices(Run& run, ConfigReader& r) {
  int n = 0;
  if (!r.values("FIXED_VERTICES", n)) return;
  for (int i = 0; i < n; ++i) {
    int v = 0;
    if (!r.values("FIXED_VERTICES", v)) return;
    // Numbers below 1 name no vertex: kept as -1 and refused with the mesh.
    run.fixedVertices.push_back(v >= 1 ? v - 1 : -1);
  }
}

void readScale(Run& run, ConfigReader& r) {
  // Kept as written: a factor too small for a float reads as 0 or a
  // denormal, which the messages would show as 0.
  std::string word[3];
  if (!r.values("SCALE", word[0], word[1], word[2])) return;
  float s[3];
  for (int k = 0; k < 3; ++k) {
    std::istringstream in(word[k]);
    if (!(in >> s[k]) || in.peek() != std::char_traits<char>::eof()) {
      r.fail("Could not read the values of SCALE in \"" + r.path() + "\"");
      return;
    }
  }
  for (float v : s)
    if (!std::isnormal(v)) {
      std::ostringstream text;
      text << "SCALE " << word[0] << " " << word[1] << " " << word[2]
           << " refused: every factor must be finite and at least " << FLT_MIN << " in magnitude";
      r.refuse(text.str());
      return;
    }
  for (int k = 0; k < 3; ++k) run.renderSettings.scale[k] = s[k];
}

void readColour(ConfigReader& r, const char* keyword, float* colour) {
  float c[3];
  if (!r.values(keyword, c[0], c[1], c[2])) return;
  for (int k = 0; k < 3; ++k) colour[k] = static_cast<float>(c[k] * 0.00392156862745098);
}

void readMaterial(Run& run, ConfigReader& r) {
  double e, nu, density, damping, friction, dt;
  if (!r.values("MATERIAL", e, nu, density, damping, friction, dt)) return;
  const double all[6] = {e, nu, density, damping, friction, dt};
  bool finite = true;
  for (double v : all) finite = finite && std::isfinite(v);
  // Negative damping or friction feeds energy in: the steps grow without bound.
  if (!finite || !(e > 0.0) || !(nu > -1.0 && nu < 0.5) || !(density > 0.0) || !(dt > 0.0) ||
      !(damping >= 0.0) || !(friction >= 0.0)) {
    std::ostringstream text;
    text << "MATERIAL " << e << " " << nu << " " << density << " " << damping << " " << friction
         << " " << dt
         << " refused: elasticity, density and time step must be positive, damping and"
            " friction at least 0, all finite, and the transverse contraction between -1 and"
            " 0.5";
    r.refuse(text.str());
    return;
  }
  // The friction term is explicit: from this bound on it drives the motion
  // instead of stopping it.
  const double maxFriction = TimeIntegration::maxFriction(run.integrationScheme, damping, dt);
  if (!(friction < maxFriction)) {
    std::ostringstream text;
    text << "MATERIAL friction " << friction << " refused: with damping " << damping
         << " and time step " << dt << " it must stay below " << maxFriction
         << ", where the friction term starts to drive the motion";
    r.refuse(text.str());
    return;
  }
  const double lambda = (nu * e) / ((1.0 + (-2.0) * nu) * (nu + 1.0));
  const double mu = e / ((nu + 1.0) + (nu + 1.0));
  *run.settings.material = {lambda, mu, density, damping, friction, dt};
  std::cout << "Material Properties: " << std::endl
            << "  Elasticity:             " << elasticity(lambda, mu) << " [N/m^2]" << std::endl
            << "  Transverse contraction: " << contraction(lambda, mu) << std::endl
            << "  Density:                " << density * 0.001 << " [g/cm^3]" << std::endl
            << "  Damping:                " << damping << std::endl
            << "  Friction:               " << friction << std::endl
            << "  Timestep (Frequency):   " << dt << " [sec]"
            << "  ( " << 1.0 / dt << " [Hz] )" << std::endl
            << std::endl;
}

void readLevel(Run& run, ConfigReader& r) {
  int levels = 0;
  if (!r.values("LEVEL", levels)) return;
  if (levels < 1 || levels > kMaxLevels) {
    r.refuse("LEVEL " + std::to_string(levels) + " refused: it must lie in 1 .. " +
             std::to_string(kMaxLevels));
    return;
  }
  run.levels = levels;
}

void setElementType(Run& run, ElementType type, const char* name) {
  run.elementType = type;
  std::cout << "Elements: " << name << std::endl << std::endl;
}

void readRenderSurfacePath(Run& run, ConfigReader& r) {
  std::string word;
  if (!r.values("RENDER_SURFACE_PATH", word)) return;
  r.checkPath("RENDER_SURFACE_PATH", word);
  const std::string path = modelsPath + word;
  RenderSettings& rs = run.renderSettings;
  if (!run.meshEntries) {
    std::cout << "Use render surface" << path << std::endl;
    rs.surfacePath = path;
    return;
  }
  // Serves the first MESH entry without a surface and every entry of its name.
  const std::vector<MeshEntry>& meshes = *run.meshEntries;
  rs.surfaces.resize(meshes.size());
  size_t k = 0;
  while (k < rs.surfaces.size() && !rs.surfaces[k].name.empty()) ++k;
  if (k == rs.surfaces.size()) {
    r.warn("RENDER_SURFACE_PATH " + word + " ignored: every MESH entry has a render surface");
    return;
  }
  std::cout << "Use render surface" << path << std::endl;
  for (size_t j = 0; j < meshes.size(); ++j) {
    if (meshes[j].name != meshes[k].name) continue;
    rs.surfaces[j] = meshes[j];
    rs.surfaces[j].name = path;
  }
  rs.surfacePath.clear();
}

void readVolumeSampling(Run& run, ConfigReader& r) {
  RenderSettings& rs = run.renderSettings;
  float b[6];
  int n[3];
  std::string word;
  if (!r.values("VOLUME_SAMPLING", b[0], b[1], b[2], b[3], b[4], b[5], n[0], n[1], n[2], word))
    return;
  r.checkPath("VOLUME_SAMPLING", word);
  for (int k = 0; k < 6; ++k) rs.volumeBounds[k] = b[k];
  for (int k = 0; k < 3; ++k) rs.volumeSamples[k] = n[k];
  rs.volumeTexturePath = word;
  std::cout << "Use volume texture" << word << std::endl;
}

void readGroundBarrier(Run& run, ConfigReader& r) {
  float c[12];
  for (float& v : c)
    if (!r.values("GROUND_BARRIER", v)) return;
  if (!spansPlane(c, c + 3, c + 6)) {
    r.refuse("GROUND_BARRIER refused: its first three corners span no plane");
    return;
  }
  replaceBarrier(run, new GroundBarrier(c));
}

template <class B>
void readCuboidBarrier(Run& run, ConfigReader& r, const char* keyword) {
  float c[24];
  for (float& v : c)
    if (!r.values(keyword, v)) return;
  if (!spansSolid(c)) {
    r.refuse(std::string(keyword) + " refused: its corners span no solid");
    return;
  }
  replaceBarrier(run, new B(c));
}

void readSphereBarrier(Run& run, ConfigReader& r) {
  float c[3], radius;
  if (!r.values("SPHERE_BARRIER", c[0], c[1], c[2], radius)) return;
  if (!(radius > 0.0f)) {
    r.refuse("SPHERE_BARRIER refused: the radius must be positive");
    return;
  }
  replaceBarrier(run, new SphereBarrier(c, radius));
}

void readMoveBarrier(Run& run, ConfigReader& r) {
  // Without a barrier the three values are skipped as unknown words.
  if (!run.settings.barrier) return;
  float v[3];
  if (!r.values("MOVE_BARRIER", v[0], v[1], v[2])) return;
  const double dt = run.settings.material->timeStep;
  run.settings.barrier->setMoving(static_cast<float>(v[0] * dt), static_cast<float>(v[1] * dt),
                                  static_cast<float>(v[2] * dt));
}

void readMesh(Run& run, ConfigReader& r) {
  MeshEntry entry;
  if (!r.values("MESH", entry.name)) return;
  r.checkPath("MESH", entry.name);
  for (float& m : entry.matrix)
    if (!r.values("MESH", m)) return;
  if (!run.meshEntries) run.meshEntries = std::make_unique<std::vector<MeshEntry>>();
  run.meshEntries->push_back(entry);
}

// Compared in this order.
const ConfigKeyword kKeywords[] = {
    {"FIXED_VERTICES", readFixedVertices},
    {"SCALE", readScale},
    {"2D", [](Run& run, ConfigReader&) { run.dim = 2; }},
    {"SWAP_X_Y", [](Run& run, ConfigReader&) { run.renderSettings.swapXY = 1; }},
    {"FORCE_NORM",
     [](Run& run, ConfigReader& r) {
       float v;
       if (r.values("FORCE_NORM", v)) run.settings.forceNorm = v;
     }},
    {"COLOR", [](Run& run, ConfigReader& r) { readColour(r, "COLOR", run.renderSettings.colour); }},
    {"SPEC_COLOR",
     [](Run& run, ConfigReader& r) {
       readColour(r, "SPEC_COLOR", run.renderSettings.specularColour);
     }},
    {"SPEC_EXPONENT",
     [](Run& run, ConfigReader& r) {
       int v;
       if (r.values("SPEC_EXPONENT", v)) run.renderSettings.shininess = v;
     }},
    {"DRAW_SURFACE", [](Run& run, ConfigReader&) { run.renderSettings.drawSurface = 1; }},
    {"MATERIAL", readMaterial},
    {"GRAVITY",
     [](Run& run, ConfigReader& r) {
       float* g = run.settings.gravity;
       float v[3];
       if (!r.values("GRAVITY", v[0], v[1], v[2])) return;
       if (!r.checkRange("GRAVITY", {v[0], v[1], v[2]})) return;
       for (int k = 0; k < 3; ++k) g[k] = v[k];
       std::cout << "Gravity: " << g[0] << ", " << g[1] << ", " << g[2] << std::endl;
     }},
    {"LEVEL", readLevel},
    {"PARTITIONS",
     [](Run& run, ConfigReader& r) {
       int v;
       if (r.values("PARTITIONS", v)) run.partitions = v;
     }},
    {"BOX_TEXTURE_COORDS",
     [](Run& run, ConfigReader& r) {
       float v;
       if (!r.values("BOX_TEXTURE_COORDS", v)) return;
       run.renderSettings.texCoordScale = v;
       run.renderSettings.texCoordMode = 1;
     }},
    {"SPHERE_TEXTURE_COORDS",
     [](Run& run, ConfigReader& r) {
       float v;
       if (!r.values("SPHERE_TEXTURE_COORDS", v)) return;
       run.renderSettings.texCoordScale = v;
       run.renderSettings.texCoordMode = 0;
     }},
    {"TRIANGLE",
     [](Run& run, ConfigReader&) {
       run.dim = 2;
       run.renderSettings.texCoordMode = 2;
       setElementType(run, ElementType::TRIANGLE, "Triangles");
     }},
    {"QUAD",
     [](Run& run, ConfigReader&) {
       run.dim = 2;
       run.renderSettings.texCoordMode = 2;
       setElementType(run, ElementType::QUAD, "Quads");
     }},
    {"QUADRATIC_QUAD",
     [](Run& run, ConfigReader&) {
       run.dim = 2;
       run.renderSettings.texCoordMode = 2;
       if (run.levels <= 1) run.levels = 2;
       setElementType(run, ElementType::QUADRATIC_QUAD, "QuadraticQuads");
     }},
    {"TRIANGLE3D",
     [](Run& run, ConfigReader&) {
       run.renderSettings.texCoordMode = 2;
       setElementType(run, ElementType::TRIANGLE3D, "Triangles3D");
     }},
    {"TETRAHEDRON",
     [](Run& run, ConfigReader&) {
       setElementType(run, ElementType::TETRAHEDRON, "Tetrahedrons");
     }},
    {"HEXAHEDRON",
     [](Run& run, ConfigReader&) { setElementType(run, ElementType::HEXAHEDRON, "Hexahedrons"); }},
    {"SERENDIPITY_TET",
     [](Run& run, ConfigReader&) {
       if (run.levels <= 1) run.levels = 2;
       setElementType(run, ElementType::SERENDIPITY_TET, "Serendipity Tetrahedrons");
     }},
    {"TEXTURE_PATH",
     [](Run& run, ConfigReader& r) {
       std::string w;
       if (!r.values("TEXTURE_PATH", w)) return;
       r.checkPath("TEXTURE_PATH", w);
       run.renderSettings.texturePath = w;
       std::cout << "Use texture " << w << std::endl;
     }},
    {"RENDER_SURFACE_PATH", readRenderSurfacePath},
    {"RENDER_SURFACE_SCALE",
     [](Run& run, ConfigReader& r) {
       float v;
       if (r.values("RENDER_SURFACE_SCALE", v)) run.renderSettings.surfaceScale = v;
     }},
    {"RENDER_SURFACE_WEIGHTING",
     [](Run& run, ConfigReader& r) {
       float v;
       if (r.values("RENDER_SURFACE_WEIGHTING", v)) run.renderSettings.surfaceWeighting = v;
     }},
    {"RENDER_VOLUME_PATH",
     [](Run& run, ConfigReader& r) {
       std::string w;
       if (!r.values("RENDER_VOLUME_PATH", w)) return;
       r.checkPath("RENDER_VOLUME_PATH", w);
       run.renderSettings.volumePath = modelsPath + w;
       std::cout << "Use render volume" << run.renderSettings.volumePath << std::endl;
     }},
    {"VOLUME_SAMPLING", readVolumeSampling},
    {"VOLUME_TEXTURE_3D", [](Run& run, ConfigReader&) { run.renderSettings.volumeTexture3D = 1; }},
    {"VOLUME_LOG_SCALARS",
     [](Run& run, ConfigReader&) { run.renderSettings.volumeLogScalars = 1; }},
    {"VOLUME_INV_SCALARS",
     [](Run& run, ConfigReader&) { run.renderSettings.volumeInvScalars = 1; }},
    {"VOLUME_TRANSFER_FUNCTION",
     [](Run& run, ConfigReader& r) {
       std::string w;
       if (!r.values("VOLUME_TRANSFER_FUNCTION", w)) return;
       r.checkPath("VOLUME_TRANSFER_FUNCTION", w);
       run.renderSettings.transferFunctionPath = w;
       std::cout << "Use volume transfer function " << w << std::endl;
     }},
    {"READ_HIERARCHY", [](Run& run, ConfigReader&) { run.readHierarchy = 1; }},
    {"GROUND_BARRIER", readGroundBarrier},
    {"QUADER_BARRIER",
     [](Run& run, ConfigReader& r) { readCuboidBarrier<QuaderBarrier>(run, r, "QUADER_BARRIER"); }},
    {"BOX_BARRIER",
     [](Run& run, ConfigReader& r) { readCuboidBarrier<BoxBarrier>(run, r, "BOX_BARRIER"); }},
    {"SPHERE_BARRIER", readSphereBarrier},
    {"MOVE_BARRIER", readMoveBarrier},
    {"BARRIER_TEXTURE_PATH",
     [](Run& run, ConfigReader& r) {
       std::string w;
       if (!r.values("BARRIER_TEXTURE_PATH", w)) return;
       r.checkPath("BARRIER_TEXTURE_PATH", w);
       if (run.settings.barrier) run.settings.barrier->setTexturePath(w);
     }},
    {"COLLISION_EXTRUSION",
     [](Run& run, ConfigReader& r) {
       float v[4];
       if (r.values("COLLISION_EXTRUSION", v[0], v[1], v[2], v[3]))
         for (int k = 0; k < 4; ++k) run.settings.collisionExtrusion[k] = v[k];
     }},
    {"COLLISION_RESPONSE",
     [](Run& run, ConfigReader& r) {
       float v[2];
       if (r.values("COLLISION_RESPONSE", v[0], v[1]))
         for (int k = 0; k < 2; ++k) run.settings.collisionResponse[k] = v[k];
     }},
    {"MESH", readMesh},
};

}  // namespace

bool Run::readConfig(const char* path) {
  forcePlaces.clear();
  shapingEntries.clear();
  shapingFiles.clear();
  ConfigReader r("readConfig", path);
  return r.run(*this, kKeywords, forceKeywords(), "readForces", forcePlaces);
}

namespace {

// The six old MATERIAL values end somewhere after the keyword: on its own
// line or on the lines that follow. Returns what follows the sixth value on
// its line, and advances `line` past the lines it consumed.
std::string skipOldValues(const std::vector<std::string>& lines, size_t& line, size_t column) {
  int left = 6;
  std::string rest = lines[line].substr(column);
  while (true) {
    std::istringstream words(rest);
    std::string w;
    std::streampos end = 0;
    while (left > 0 && words >> w) {
      --left;
      end = words.tellg();
    }
    if (left == 0) return end < 0 ? std::string() : rest.substr(static_cast<size_t>(end));
    if (line + 1 >= lines.size()) return std::string();
    rest = lines[++line];
  }
}

}  // namespace

std::string Run::rewriteMaterial(std::istream& in, const double material[6]) {
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const double lambda = material[0], mu = material[1];
  std::ostringstream text;
  auto writeEntry = [&] {
    text << "MATERIAL\n" << std::setprecision(10);
    const double values[6] = {elasticity(lambda, mu),
                              contraction(lambda, mu),
                              material[2],
                              material[3],
                              material[4],
                              material[5]};
    for (double v : values) text << v << " ";
    text << "\n" << std::setprecision(6);
  };
  bool written = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const size_t p = lines[i].find("MATERIAL");
    if (p == std::string::npos) {
      text << lines[i] << "\n";
      continue;
    }
    if (p > 0) text << lines[i].substr(0, p) << "\n";
    writeEntry();
    written = true;
    const std::string rest = skipOldValues(lines, i, p + 8);
    if (rest.find_first_not_of(" \t\r") != std::string::npos) text << rest << "\n";
  }
  // Without an entry the new values would be lost.
  if (!written) writeEntry();
  return text.str();
}

void Run::writeMaterial(const char* path, const double material[6]) {
  std::string text;
  {
    std::ifstream in(path);
    if (!in.is_open()) {
      std::cout << "Error: File \"" << path << "\" doesn`t exist!" << std::endl;
      return;
    }
    text = rewriteMaterial(in, material);
  }
  std::ofstream out(path, std::ios::trunc);
  out << text << "\n";
}
