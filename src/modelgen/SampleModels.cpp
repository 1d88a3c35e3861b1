#include "SampleModels.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <iostream>
#include <system_error>

#include "ModelFiles.h"
#include "Refinement.h"
#include "Textures.h"
#include "VoxelMesh.h"

namespace zolt::modelgen {

namespace {

namespace fs = std::filesystem;

using VertexTest = std::function<bool(const float*)>;
// Stiffness factor of a finest element from its centroid.
using ElementFactor = std::function<float(const Vec3&)>;

SampleModel named(const char* name, int levels) {
  SampleModel m;
  m.name = name;
  m.levels = levels;
  return m;
}

// A box of cells x cells y cells z cubes of edge h from origin.
TetMesh boxMesh(Vec3 origin, double h, int nx, int ny, int nz) {
  const Vec3 hi = origin + Vec3{nx * h, ny * h, nz * h};
  return voxelise(boxShape(origin, hi), {origin, h, {nx, ny, nz}});
}

// Fills the level sizes, with `stiffness` the elements' stiffness factors,
// and, with a test, the clamped finest vertices and the parameter file.
void refineAndClamp(SampleModel& m, const VertexTest& clamped,
                    const ElementFactor& stiffness = nullptr) {
  const std::vector<TetMesh> levels = buildLevels(m.mesh, m.levels);
  for (const TetMesh& level : levels) {
    m.levelVertices.push_back(level.vertexCount());
    m.levelElements.push_back(level.elementCount());
    m.levelStiffness.emplace_back();
    if (!stiffness) continue;
    for (const Corners& t : level.tets) {
      Vec3 c{0.0, 0.0, 0.0};
      for (int v : t) {
        const float* p = level.position(v);
        c = c + 0.25 * Vec3{p[0], p[1], p[2]};
      }
      m.levelStiffness.back().push_back(stiffness(c));
    }
  }
  if (!clamped) return;
  m.hasParams = true;
  for (const TetMesh& level : levels) {
    m.levelFixed.emplace_back();
    for (int v = 0; v < level.vertexCount(); ++v)
      if (clamped(level.position(v))) m.levelFixed.back().push_back(v);
  }
  m.fixed = m.levelFixed.back();
}

std::string materialLine(double e, double nu, double density, double damping, double dt,
                         double friction) {
  char line[128];
  std::snprintf(line, sizeof line, "MATERIAL %g %g %g %g %g %g\n", e, nu, density, damping,
                friction, dt);
  return line;
}

// Friction equal to damping: no friction offsets (their factor is the
// difference of the two).
std::string materialLine(double e, double nu, double density, double damping, double dt) {
  return materialLine(e, nu, density, damping, dt, damping);
}

// The force a squeeze presses with before its drag scales it (1000 when not
// given). A 100-pixel squeeze, 1.65 times it on one finest element, should
// dent the body visibly at its middle and bend it at its far end (a tip,
// an ear) by less than a fifth of its size: some 2 % and 15 %.
std::string forceNorm(double f) {
  char line[64];
  std::snprintf(line, sizeof line, "FORCE_NORM %g\n", f);
  return line;
}

// The configuration's first lines, for the model's own level count.
std::string header(const SampleModel& m, const char* colour) {
  return "TETRAHEDRON\nLEVEL " + std::to_string(m.levels) + "\nCOLOR " + colour + "\n";
}

VertexTest onPlane(int axis, float value) {
  return [axis, value](const float* p) { return std::abs(p[axis] - value) < 1e-5f; };
}

// A free cube: a drag pulls a picked element's vertices with a load that
// grows with their share of the mass (m_v / M ~ (h / H)^3 / 2) and falls with
// the time step, so the whole body speeds up at a = 450 m_v / (M dt) for
// 150 pixels, and the off-centre pull turns it. Linear strain reads a turn
// as growth, which nothing takes back. Fine cubes, a short step and heavy
// damping keep the growth below a fifth; friction, the damping of the mean
// motion (f v per unit mass), holds the fall to g / f, 0.5 m/s, and a
// 150-pixel pull held for 2 s to a slide of some 75 to 85 % of the height.
std::string freeCubeMaterial(double e) { return materialLine(e, 0.3, 1000, 300, 0.01, 20); }

// Resting on the ground plane (gravity starts off).
SampleModel cube1(const char* name) {
  SampleModel m = named(name, 5);
  m.mesh = boxMesh({0, 0, 0}, 1.0, 1, 1, 1);
  refineAndClamp(m, nullptr);
  m.config = header(m, "200 200 210") + freeCubeMaterial(1e6) +
             "GROUND_BARRIER -2 -0.5 -2 -2 -0.5 2 2 -0.5 2 2 -0.5 -2\n" + forceNorm(2000);
  return m;
}

SampleModel cube3(const char* name) {
  SampleModel m = named(name, 2);
  m.mesh = boxMesh({0, 0, 0}, 1.0 / 3.0, 3, 3, 3);
  refineAndClamp(m, onPlane(1, 0.0f));
  m.config = header(m, "200 200 210") + materialLine(1e6, 0.33, 1000, 5, 0.05) + forceNorm(5000);
  return m;
}

// 0.2 x 1.0 x 0.2 along y, clamped at y = 0, pulled up at y = 1 (the held
// forces, times the force norm, stretch it by about a tenth).
// Gravity runs across it, as for a bar standing out from a wall: it bends
// by some 0.15 (q L^4 / 8 E I = 0.18 for a beam).
SampleModel bar(const char* name) {
  SampleModel m = named(name, 2);
  m.mesh = boxMesh({0, 0, 0}, 0.1, 2, 10, 2);
  refineAndClamp(m, onPlane(1, 0.0f));
  m.config = header(m, "190 200 230") + materialLine(2e6, 0.3, 1000, 5, 0.05) +
             "GRAVITY -9.81 0 0\nFORCE_PLANE 1 0 3.75 0\n" + forceNorm(80);
  return m;
}

// 1.0 x 0.1 x 0.1 cantilever along x, clamped at x = 0, sagging under
// gravity. A drag loads the grabbed vertices by their mass over the time
// step, so the finer beam steps twice as often to follow a plain 150-pixel
// drag by some 4 % of its height rather than 2 %.
SampleModel beam(const char* name, double h, double dt, double squeeze) {
  SampleModel m = named(name, 3);
  const int n = static_cast<int>(std::lround(0.1 / h));
  m.mesh = boxMesh({0, 0, 0}, h, 10 * n, n, n);
  refineAndClamp(m, onPlane(0, 0.0f));
  m.config = header(m, "230 200 150") + materialLine(1e7, 0.3, 1000, 2, dt) + forceNorm(squeeze);
  return m;
}

// A free block 1.0 high, 1.1 above the ground plane (more than its own
// height, so the fall shows), on cubes of 0.5 refined to 0.0625.
// The ground holds it by pushes that act as one-step loads of 2 rho / dt^2
// times mass times push, so at rest the bottom layer (h / 2H of the mass)
// carries the weight at a penetration of g dt^2 H / h, 0.016 for dt = 0.01,
// a quarter of the finest cube. The friction of freeCubeMaterial slows the
// fall to some 0.5 m/s; it lands after 2.5 s.
SampleModel groundDrop(const char* name) {
  SampleModel m = named(name, 4);
  m.mesh = boxMesh({-0.5, -0.5, -0.5}, 0.5, 2, 2, 2);
  refineAndClamp(m, nullptr);
  // Corners counter-clockwise seen from above: the normal points up.
  m.config = header(m, "120 200 140") + freeCubeMaterial(2e5) +
             "GROUND_BARRIER -2 -1.6 -2 -2 -1.6 2 2 -1.6 2 2 -1.6 -2\n";
  return m;
}

// A post clamped at its foot and a ball that rolls through its upper part
// along x, bending it over while they touch. The ball pushes each vertex it
// covers by its depth as a one-step load of 2 rho / dt^2 times the vertex's
// mass, against the post's bending stiffness (3 E I / L^3 at the top): a
// short step and a light post let it bend the top by some 15 % of the width
// (E 1e6 and dt 0.05 gave 3 %). A drag moves the post in proportion to
// density / (E dt) (see kPliantCreature): stiff enough that a 100-pixel
// Shift drag on its top bends it by less than half its height.
SampleModel ballPush(const char* name) {
  SampleModel m = named(name, 2);
  m.mesh = boxMesh({-0.15, -0.45, -0.15}, 0.1, 3, 9, 3);
  refineAndClamp(m, onPlane(1, -0.45f));
  m.config = header(m, "220 170 120") + materialLine(1.6e6, 0.3, 150, 2, 0.02) +
             "SPHERE_BARRIER -0.7 0.35 0 0.2\nMOVE_BARRIER 0.25 0 0\n" + forceNorm(300);
  return m;
}

// The creature on cubes of 0.11, its surface fitted to the shape, clamped
// at the soles of its feet (y = 0), which stay flat. Its ears, thin flaps
// that a squeeze on their tips would fold over, are ten times as stiff as
// the body (cartilage); `flesh` may soften more of it.
SampleModel creatureModel(const char* name, int levels, const ElementFactor& flesh = nullptr) {
  SampleModel m = named(name, levels);
  const Implicit shape = creature();
  const double h = 0.11;
  const VoxelGrid grid{{-7 * h, 0.0, -4 * h}, h, {14, 13, 8}};
  m.mesh = voxelise(shape, grid);
  fitBoundary(m.mesh, shape, h, 0.3, 0.0);
  // The ear of creature(), mirrored, and a margin of 0.03.
  const Implicit ear = ellipsoid({0.27, 0.93, 0.15}, {0.075, 0.28, 0.06}, 0.12);
  const ElementFactor stiffness = [ear, flesh](const Vec3& c) {
    if (c.y > 0.7 && ear({c.x, c.y, std::abs(c.z)}) < 0.03) return 10.0f;
    return flesh ? flesh(c) : 1.0f;
  };
  const VertexTest onSoles = [](const float* p) { return p[1] == 0.0f; };
  refineAndClamp(m, onSoles, stiffness);
  return m;
}

SampleModel bunny(const char* name) {
  SampleModel m = creatureModel(name, 2);
  m.config = header(m, "210 190 170") + materialLine(3e5, 0.3, 1000, 1, 0.05) + forceNorm(50) +
             "DRAW_SURFACE\n";
  return m;
}

// A drag loads the grabbed element's vertices by their mass, which shrinks
// eightfold with every level, while gravity loads the whole body: on the
// benchmark model, two levels finer than bunny, a material that stands as
// bunny does (E 3e5, a sag of 6 % of the height) follows a plain 150-pixel
// drag by 0.4 %, and one soft enough for the drag (E 3e4) slumps to 61 %.
// So it has bunny's material and soft flesh (a fiftieth of the stiffness)
// 0.05 deep under its flanks, the sides that face the view, which the
// drag pulls (4 %) while the firmer core, legs, head and ears carry the
// weight (6 %). Its time step, mesh and solver, what the benchmark
// measures, are bunny's.
SampleModel bunnyLarge(const char* name) {
  const double depth = 0.05;
  const Implicit shape = creature();
  const ElementFactor flanks = [shape, depth](const Vec3& c) {
    if (!(shape(c) > -depth) || c.y > 0.65) return 1.0f;  // the trunk's surface layer
    const Vec3 n = gradient(shape, c, 0.005);
    const double length = std::sqrt(dot(n, n));
    if (!(std::abs(n.z) > 0.7 * length)) return 1.0f;  // facing the view
    // Only where the body is more than twice as thick (not the legs).
    const Vec3 inner = c + (-2.0 * depth / length) * n;
    return shape(inner) < -depth ? 0.02f : 1.0f;
  };
  SampleModel m = creatureModel(name, 4, flanks);
  m.config = header(m, "210 190 170") + materialLine(3e5, 0.3, 1000, 1, 0.05) + forceNorm(14) +
             "DRAW_SURFACE\n";
  return m;
}

// The default model. A drag pushes the grabbed vertices by a distance
// (1.5 dt per pixel and step, a load of mass / dt^2 times it) while gravity
// loads mass times g, so both move the body in proportion to density / E and
// only a shorter step lets a plain drag pull it visibly (by 6 % of its
// height for 150 pixels) while it sags by 8 % under its weight.
const char* const kPliantCreature = "MATERIAL 80000 0.3 350 0.5 0.5 0.02\n";

SampleModel bunnyFurTex(const char* name) {
  SampleModel m = creatureModel(name, 3);
  m.surfaceFile = m.name + ".obj";
  m.textureFile = m.name + ".tga";
  m.config = header(m, "200 180 160") + kPliantCreature + forceNorm(10) +
             "SPEC_COLOR 40 40 40\nDRAW_SURFACE\n" + "RENDER_SURFACE_PATH " + m.surfaceFile +
             "\nTEXTURE_PATH ../models/" + m.textureFile + "\n";
  // The grid is offset from y = 0 so that no grid point lies on the soles.
  m.surface = extractSurface(creature(), {-0.75, -0.031, -0.4}, {0.75, 1.4, 0.4}, 0.05);
  SideView view{1e9, -1e9, 1e9, -1e9};
  for (const Vec3& v : m.surface.vertices) {
    view.x0 = std::min(view.x0, v.x);
    view.x1 = std::max(view.x1, v.x);
    view.y0 = std::min(view.y0, v.y);
    view.y1 = std::max(view.y1, v.y);
  }
  for (const Vec3& v : m.surface.vertices)
    m.texCoords.push_back(
        {(v.x - view.x0) / (view.x1 - view.x0), (v.y - view.y0) / (view.y1 - view.y0)});
  m.texture = furTexture(256, view);
  return m;
}

// The models in the order they are written, each built under its name.
struct Entry {
  const char* name;
  SampleModel (*build)(const char* name);
};
const Entry kCatalogue[] = {
    {"cube1", cube1},
    {"cube3", cube3},
    {"bar", bar},
    {"beam", [](const char* name) { return beam(name, 0.1, 0.05, 30); }},
    {"beamFine", [](const char* name) { return beam(name, 0.05, 0.025, 20); }},
    {"groundDrop", groundDrop},
    {"ballPush", ballPush},
    {"bunny", bunny},
    {"bunnyFurTex", bunnyFurTex},
    {"bunnyLarge", bunnyLarge},
};

void removeCaches(const std::string& cachesDir, const std::string& name) {
  std::error_code ec;
  std::vector<fs::path> stale;
  for (const auto& entry : fs::directory_iterator(cachesDir, ec))
    if (entry.path().filename().string().rfind(name + ".", 0) == 0) stale.push_back(entry.path());
  for (const fs::path& p : stale) fs::remove(p, ec);
}

}  // namespace

std::vector<std::string> sampleModelNames() {
  std::vector<std::string> names;
  for (const Entry& entry : kCatalogue) names.push_back(entry.name);
  return names;
}

SampleModel buildSampleModel(const std::string& name) {
  for (const Entry& entry : kCatalogue)
    if (name == entry.name) return entry.build(entry.name);
  return {};
}

bool writeSampleModel(const SampleModel& m, const std::string& modelsDir) {
  const std::string base = modelsDir + m.name;
  bool ok = writeTextFile(base + ".config", m.config) && writeNodeFile(base + ".node", m.mesh) &&
            writeEleFile(base + ".ele", m.mesh);
  if (ok && m.hasParams)
    ok = writeParamsFile(base + ".params", m.levelElements.back(), m.levelVertices.back(), m.fixed,
                         m.levelStiffness.back());
  // The same model loaded with a lower LEVEL k >= 2 needs the parameters of
  // that level: <name>.level<k>.params.
  for (int k = 2; ok && m.hasParams && k < m.levels; ++k)
    ok = writeParamsFile(base + ".level" + std::to_string(k) + ".params", m.levelElements[k - 1],
                         m.levelVertices[k - 1], m.levelFixed[k - 1], m.levelStiffness[k - 1]);
  if (ok && !m.surfaceFile.empty())
    ok = writeSurfaceFile(modelsDir + m.surfaceFile, m.surface, m.texCoords);
  if (ok && !m.textureFile.empty()) ok = writeTGA(modelsDir + m.textureFile, m.texture);
  return ok;
}

bool writeRunDirectory(const std::string& runDir, std::ostream& log) {
  const std::string root = runDir.empty() || runDir.back() == '/' ? runDir : runDir + "/";
  for (const char* dir : {"bin", "models", "caches", "movies", "imageData"}) {
    std::error_code ec;
    fs::create_directories(root + dir, ec);
    if (ec) {
      std::cerr << "[SampleModels, writeRunDirectory] Error: cannot create \"" << root << dir
                << "\": " << ec.message() << "\n";
      return false;
    }
  }
  bool ok = writeTextFile(root + "bin/ZOLT.init",
                          "MODELS_PATH ../models/\nCACHES_PATH ../caches/\n"
                          "MOVIES_PATH ../movies/\n") &&
            writeBMP(root + "imageData/texture.bmp", meshTexture(256));
  for (const std::string& name : sampleModelNames()) {
    if (!ok) break;
    const auto start = std::chrono::steady_clock::now();
    const SampleModel m = buildSampleModel(name);
    ok = writeSampleModel(m, root + "models/");
    removeCaches(root + "caches/", name);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    log << "  " << name << ": LEVEL " << m.levels << ", vertices";
    for (int n : m.levelVertices) log << ' ' << n;
    log << ", elements";
    for (int n : m.levelElements) log << ' ' << n;
    log << ", fixed " << m.fixed.size();
    if (!m.surfaceFile.empty()) log << ", surface vertices " << m.surface.vertices.size();
    char time[32];
    std::snprintf(time, sizeof time, " (%.2f s)\n", seconds.count());
    log << time;
  }
  return ok;
}

}  // namespace zolt::modelgen
