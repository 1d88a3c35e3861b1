#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "Barrier.h"
#include "ModelFixture.h"

using namespace zolt::test;

namespace {

struct Pass {
  std::unique_ptr<::Run> run;
  CapturedOutput output;
  bool ok = false;
};

// Configuration pass 1 over `text` on a freshly loaded cube.
Pass pass1(const ModelDirs& d, const std::string& text) {
  d.cube("base", "");
  Pass p;
  p.run = loadRun("base");
  writeFile(d.models + "row.config", text);
  p.output = captureBoth([&] { p.ok = p.run->readConfig((d.models + "row.config").c_str()); });
  return p;
}

std::string matrixText(float first) {
  std::string m;
  for (int i = 0; i < 16; ++i) m += " " + std::to_string(first + i);
  return m;
}

// The pass-1 fields as "name=value" words.
std::string summary(const ::Run& r) {
  std::ostringstream s;
  const RenderSettings& rs = r.renderSettings;
  s << "levels=" << r.levels << " dim=" << int(r.dim) << " type=" << int(r.elementType)
    << " tex=" << rs.texCoordMode << "/" << rs.texCoordScale << " colour=" << rs.colour[0] << ","
    << rs.colour[1] << "," << rs.colour[2] << "," << rs.colour[3] << " fixed=";
  for (int v : r.fixedVertices) s << v << ",";
  s << " ";
  return s.str();
}

}  // namespace

TEST(RunConfig, MaterialGivesLameParametersAndEchoesEAndNu) {
  ModelDirs d;
  Pass p = pass1(d, "MATERIAL 1e6 0.33 1000 5 1 0.05\n");
  const MaterialProperties& m = *p.run->settings.material;
  EXPECT_EQ(m.lambda, 729765.590446705);
  EXPECT_EQ(m.mu, 375939.84962406015);
  EXPECT_EQ(p.output.out,
            "Material Properties: \n"
            "  Elasticity:             1e+06 [N/m^2]\n"
            "  Transverse contraction: 0.33\n"
            "  Density:                1 [g/cm^3]\n"
            "  Damping:                5\n"
            "  Friction:               1\n"
            "  Timestep (Frequency):   0.05 [sec]  ( 20 [Hz] )\n\n");

  // Textbook Lame parameters for other materials.
  for (const auto& [e, nu] :
       std::vector<std::pair<double, double>>{{2e5, 0.0}, {7e10, 0.3}, {1e3, 0.49}, {5e4, -0.5}}) {
    Pass q = pass1(d, "MATERIAL " + std::to_string(e) + " " + std::to_string(nu) + " 1 0 0 0.01");
    const MaterialProperties& r = *q.run->settings.material;
    EXPECT_NEAR(r.lambda, e * nu / ((1 + nu) * (1 - 2 * nu)), 1e-12 * e) << e << " " << nu;
    EXPECT_NEAR(r.mu, e / (2 * (1 + nu)), 1e-12 * e) << e << " " << nu;
  }
}

TEST(RunConfig, KeywordsSetTheirFields) {
  const struct {
    const char *text, *fields, *printed;
    std::string warned = "";
  } rows[] = {
      {"COLOR 255 128 0", "colour=1,0.501961,0,1 ", ""},
      {"FIXED_VERTICES 3 1 2 10", "fixed=0,1,9, ", ""},
      {"FIXED_VERTICES 0 5 FIXED_VERTICES -2 7", "fixed= ", ""},
      {"QUADRATIC_QUAD", "levels=2 dim=2 type=5 tex=2/8 ", "Elements: QuadraticQuads\n\n"},
      {"LEVEL 1 QUADRATIC_QUAD", "levels=2 ", "Elements: QuadraticQuads\n\n"},
      {"LEVEL 3 QUADRATIC_QUAD", "levels=3 ", "Elements: QuadraticQuads\n\n"},
      {"QUADRATIC_QUAD LEVEL 1", "levels=1 ", "Elements: QuadraticQuads\n\n"},
      {"SPHERE_TEXTURE_COORDS 4", "tex=0/4 ", ""},
      {"BOX_TEXTURE_COORDS 4", "tex=1/4 ", ""},
      // Without a barrier MOVE_BARRIER reads nothing: its numbers are skipped.
      {"MOVE_BARRIER 1 0 0 LEVEL 2", "levels=2 ", ""},
      {"BARRIER_TEXTURE_PATH LEVEL", "levels=1 ", "",
       "[Run, readConfig] Warning: BARRIER_TEXTURE_PATH takes \"LEVEL\", itself a keyword, as its "
       "file name; is its value missing?\n"},
      {"TEXTURE_PATH SCALE 2 2 2", "levels=1 ", "Use texture SCALE\n",
       "[Run, readConfig] Warning: TEXTURE_PATH takes \"SCALE\", itself a keyword, as its file "
       "name; is its value missing?\n"},
      // Pass 1 decides where the entries of pass 2 end, too.
      {"VOLUME_CLASSIFICATION 0 0 0 0 0 0 1 1 1 v s LEVEL 2", "levels=1 ", "",
       "[Run, readForces] Warning: VOLUME_CLASSIFICATION takes \"LEVEL\", itself a keyword, as its "
       "file name; is its value missing?\n"},
  };
  ModelDirs d;
  for (const auto& row : rows) {
    Pass p = pass1(d, row.text);
    EXPECT_TRUE(p.ok) << row.text;
    EXPECT_NE(summary(*p.run).find(row.fields), std::string::npos)
        << row.text << ": " << summary(*p.run);
    EXPECT_EQ(p.output.out, row.printed) << row.text;
    EXPECT_EQ(p.output.err, row.warned) << row.text;
  }
}

TEST(RunConfig, RenderSurfacesServeTheMeshEntriesByName) {
  ModelDirs d;
  Pass p = pass1(d, "MESH a" + matrixText(0) + " MESH b" + matrixText(100) + " MESH a" +
                        matrixText(200) +
                        " RENDER_SURFACE_PATH s1 RENDER_SURFACE_PATH s2 RENDER_SURFACE_PATH s3");
  const std::vector<MeshEntry>& s = p.run->renderSettings.surfaces;
  ASSERT_EQ(s.size(), 3u);
  const char* names[3] = {"s1", "s2", "s1"};
  for (int j = 0; j < 3; ++j) {
    EXPECT_EQ(s[j].name, d.models + names[j]);
    EXPECT_EQ(s[j].matrix[5], 100.0f * j + 5) << j;
  }
  EXPECT_TRUE(p.run->renderSettings.surfacePath.empty());
  // The third path has no entry left to serve.
  EXPECT_EQ(p.output.err,
            "[Run, readConfig] Warning: RENDER_SURFACE_PATH s3 ignored: every MESH entry has a "
            "render surface\n");
}

TEST(RunConfig, BarrierKeywords) {
  ModelDirs d;
  Pass moving = pass1(d,
                      "MATERIAL 1e6 0.3 1000 5 1 0.05 SPHERE_BARRIER 0 1 0 0.5 MOVE_BARRIER 1 0 "
                      "-2 BARRIER_TEXTURE_PATH rock.bmp");
  auto* sphere = dynamic_cast<SphereBarrier*>(moving.run->settings.barrier);
  ASSERT_NE(sphere, nullptr);
  EXPECT_TRUE(sphere->moving);
  EXPECT_EQ(sphere->velocity[0], 0.05f);
  EXPECT_EQ(sphere->velocity[2], -0.1f);
  EXPECT_EQ(sphere->texturePath, "rock.bmp");

  // A later barrier replaces the earlier one (which is freed).
  Pass replaced = pass1(d, "SPHERE_BARRIER 0 0 0 1 GROUND_BARRIER 0 0 0 1 0 0 1 0 1 0 0 1");
  EXPECT_NE(dynamic_cast<GroundBarrier*>(replaced.run->settings.barrier), nullptr);
}

// Out-of-range values and degenerate barriers: an error message, and the
// pass goes on with the defaults kept.
TEST(RunConfig, OutOfRangeValuesAreRefusedAndDefaultsKept) {
  const std::pair<const char*, const char*> rows[] = {
      {"LEVEL 0", ""},
      {"LEVEL -3", ""},
      {"LEVEL 12", ""},
      {"MATERIAL 1e6 0.33 1000 5 1 0", ""},
      {"MATERIAL 1e6 0.33 1000 5 1 -0.01", ""},
      {"MATERIAL 1e6 0.5 1000 5 1 0.05", ""},
      {"MATERIAL 1e6 -1 1000 5 1 0.05", ""},
      {"MATERIAL 0 0.33 1000 5 1 0.05", ""},
      {"MATERIAL 1e6 0.33 -1 5 1 0.05", ""},
      {"MATERIAL 1e6 0.33 1000 -100 1 0.05", "MATERIAL 1e+06 0.33 1000 -100 1 0.05 refused"},
      {"MATERIAL 1e6 0.33 1000 5 -1 0.05", ""},
      {"SCALE 0 1 1",
       "SCALE 0 1 1 refused: every factor must be finite and at least 1.17549e-38 in magnitude"},
      // Below the smallest normal float: named as written, not as 0.
      {"SCALE 1e-45 1e-45 1e-45", "SCALE 1e-45 1e-45 1e-45 refused"},
      // Implicit Euler's explicit friction term: stable below damping + 2 / dt.
      {"MATERIAL 1e6 0.33 1000 5 45 0.05",
       "MATERIAL friction 45 refused: with damping 5 and time step 0.05 it must stay below 45"},
      {"MATERIAL 1e6 0.33 1000 5 100 0.05", "MATERIAL friction 100 refused"},
      {"GRAVITY 1e30 0 0",
       "GRAVITY 1e+30 0 0 refused: every value must be finite and at most 1e+06 in magnitude"},
      {"GROUND_BARRIER 0 0 0 1 1 1 2 2 2 0 0 1", "GROUND_BARRIER refused"},
      // Top face on the bottom face.
      {"BOX_BARRIER 0 0 0 1 0 0 1 0 1 0 0 1 0 0 0 1 0 0 1 0 1 0 0 1", "BOX_BARRIER refused"},
      // Top face shifted within the bottom plane.
      {"QUADER_BARRIER 0 0 0 1 0 0 1 0 1 0 0 1 0.5 0 0.5 1.5 0 0.5 1.5 0 1.5 0.5 0 1.5",
       "QUADER_BARRIER refused"},
      {"SPHERE_BARRIER 0 0 0 0", "SPHERE_BARRIER refused"},
  };
  ModelDirs d;
  for (const auto& [text, message] : rows) {
    Pass p = pass1(d, text);
    EXPECT_TRUE(p.ok) << text;
    EXPECT_EQ(p.run->levels, 1) << text;
    EXPECT_EQ(p.run->settings.material->lambda, 729765.590446705) << text;
    EXPECT_EQ(p.run->settings.material->timeStep, 0.05) << text;
    EXPECT_EQ(p.run->settings.material->friction, 1.0) << text;
    EXPECT_EQ(p.run->settings.barrier, nullptr) << text;
    EXPECT_EQ(p.run->settings.gravity[0], 0.0f) << text;
    EXPECT_EQ(p.run->renderSettings.scale[0] * p.run->renderSettings.scale[2], 1.0f) << text;
    EXPECT_EQ(p.output.out, "") << text;
    EXPECT_EQ(p.output.err.rfind(std::string("[Run, readConfig] Error: ") + message, 0), 0u)
        << text << ": " << p.output.err;
  }
}

TEST(RunConfig, UnparsableValueEndsThePassNamingTheKeyword) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"LEVEL abc", "LEVEL"},
      {"MESH a 1 0 0 0", "MESH"},
      {"MATERIAL 1e6 0.33", "MATERIAL"},
      {"FIXED_VERTICES 3 1 2", "FIXED_VERTICES"},
      {"COLOR 1 x 3 LEVEL 2", "COLOR"},
      {"SCALE 1 1 99999999999999999999999999999999999999999999", "SCALE"},
      // Integers are read whole.
      {"LEVEL 2.9", "LEVEL"},
      {"LEVEL 1e30", "LEVEL"},
      {"LEVEL 99999999999", "LEVEL"},
      {"PARTITIONS 4x", "PARTITIONS"},
      {"SPEC_EXPONENT 2.5", "SPEC_EXPONENT"},
      {"FIXED_VERTICES 1 1SCALE 2 2 2", "FIXED_VERTICES"},
      {"VOLUME_SAMPLING 0 1 0 1 0 1 8 8 8.5 v", "VOLUME_SAMPLING"},
  };
  ModelDirs d;
  for (const auto& [text, keyword] : rows) {
    Pass p = pass1(d, text);
    EXPECT_FALSE(p.ok) << text;
    EXPECT_EQ(p.output.err, "[Run, readConfig] Error: Could not read the values of " + keyword +
                                " in \"" + d.models + "row.config\"\n");
    EXPECT_EQ(p.run->levels, 1) << text;
  }
  Pass binary = pass1(d, std::string("LEVEL 2 \x01\x7f\x00z", 12));
  EXPECT_FALSE(binary.ok);
  EXPECT_EQ(binary.output.err, "[Run, readConfig] Error: \"" + d.models +
                                   "row.config\" is not a text file (byte 0x01)\n");
}

TEST(RunConfig, WriteMaterialRewritesTheValuesOnly) {
  ModelDirs d;
  const double lambda = 2e6 * 0.25 / (1.25 * 0.5), mu = 2e6 / 2.5;
  const double material[6] = {lambda, mu, 800, 2, 0.5, 0.02};
  // Values on the next line, on the keyword's own line, split, or no entry
  // yet (one is added).
  for (const char* layout :
       {"LEVEL 2\nMATERIAL\n1e6 0.33 1000 5 1 0.05\nSCALE 2 2 2\n",
        "LEVEL 2\nMATERIAL 1e6 0.33 1000 5 1 0.05\nSCALE 2 2 2\n",
        "LEVEL 2 MATERIAL 1e6 0.33 1000\n5 1 0.05 SCALE 2 2 2\n", "LEVEL 2\nSCALE 2 2 2\n"}) {
    SCOPED_TRACE(layout);
    const std::string path = d.models + "w.config";
    writeFile(path, layout);
    ::Run::writeMaterial(path.c_str(), material);
    Pass p = pass1(d, readFile(path));
    const MaterialProperties& m = *p.run->settings.material;
    EXPECT_NEAR(m.lambda, lambda, 1e-9 * lambda);
    EXPECT_NEAR(m.mu, mu, 1e-9 * mu);
    EXPECT_EQ(m.density, 800);
    EXPECT_EQ(m.timeStep, 0.02);
    EXPECT_EQ(p.run->levels, 2);
    EXPECT_EQ(p.run->renderSettings.scale[1], 2.0f);
  }
  const std::string missing = d.models + "none.config";
  EXPECT_EQ(captureStdout([&] { ::Run::writeMaterial(missing.c_str(), material); }),
            "Error: File \"" + missing + "\" doesn`t exist!\n");
}
