#include "Program.h"

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Capture.h"
#include "TempDir.h"

using zolt::test::captureStderr;
using zolt::test::TempDir;

namespace {

const int W = 32, H = 32;

void openWindow() {
  static bool open = false;
  if (open) return;
  int argc = 1;
  char arg0[] = "ProgramTest";
  char* argv[] = {arg0, nullptr};
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA | GLUT_DEPTH);
  glutInitWindowSize(W, H);
  glutCreateWindow("program");
  glutDisplayFunc([] {});
  for (int i = 0; i < 5; ++i) glutMainLoopEvent();
  open = true;
}

// A window whose GLSL support has been checked, so that the check's report
// is not part of what a test captures.
void openCheckedWindow() {
  openWindow();
  captureStderr([] { CProgram::Initialize(); });
}

// Every kind of uniform, in a program whose vertex shader reads the built-in
// gl_TextureMatrix.
const char* kVertex =
    "varying vec4 texCoord;\n"
    "void main() {\n"
    "  texCoord = gl_TextureMatrix[0] * gl_MultiTexCoord0;\n"
    "  gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;\n"
    "}\n";
const char* kFragment =
    "uniform sampler1D ramp;\n"
    "uniform sampler2D colourMap;\n"
    "uniform sampler3D volume;\n"
    "uniform sampler2DShadow shadowMap;\n"
    "uniform float scale;\n"
    "uniform vec3 tint;\n"
    "uniform ivec3 cells;\n"
    "uniform int mode;\n"
    "uniform bool lit;\n"
    "uniform bvec2 flags;\n"
    "uniform mat3 basis;\n"
    "varying vec4 texCoord;\n"
    "void main() {\n"
    "  vec4 c = texture1D(ramp, texCoord.x) + texture2D(colourMap, texCoord.xy)\n"
    "         + texture3D(volume, texCoord.xyz);\n"
    "  vec3 t = tint * scale * shadow2DProj(shadowMap, texCoord).r + vec3(cells)\n"
    "         + float(mode) + basis[0];\n"
    "  if (lit || flags.x || flags.y) t += 1.0;\n"
    "  gl_FragColor = c + vec4(t, 1.0);\n"
    "}\n";

const char* kGreen = "void main() { gl_FragColor = vec4(0.0, 1.0, 0.0, 1.0); }\n";
const char* kPlainVertex = "void main() { gl_Position = ftransform(); }\n";
const char* kBadVertex = "void main() {\n  gl_Position = undefinedThing;\n}";  // no final newline
const char* kBadFragment = "void main() { gl_FragColor = 1; }\n";
const char* kNoMain = "void helper() { gl_Position = vec4(0.0); }\n";

std::unique_ptr<CProgram> build(const char* vs, const char* fs, NORVA_SOURCE kind,
                                std::string* err = nullptr) {
  openCheckedWindow();
  std::unique_ptr<CProgram> p;
  const std::string text = captureStderr([&] { p = std::make_unique<CProgram>(vs, fs, kind); });
  if (err) *err = text;
  return p;
}

GLint currentProgram() {
  GLint id = -1;
  glGetIntegerv(GL_CURRENT_PROGRAM, &id);
  return id;
}

// Draws a red quad over the whole window and returns the centre pixel.
std::vector<unsigned char> drawRedQuad() {
  glViewport(0, 0, W, H);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glDisable(GL_DEPTH_TEST);
  glColor3f(1.0f, 0.0f, 0.0f);
  glBegin(GL_QUADS);
  glVertex2f(-1, -1);
  glVertex2f(1, -1);
  glVertex2f(1, 1);
  glVertex2f(-1, 1);
  glEnd();
  glFinish();
  std::vector<unsigned char> rgba(4);
  glReadPixels(W / 2, H / 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  return rgba;
}

}  // namespace

TEST(CProgram, InitializeReportsOnceAndThenStaysSilent) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  openWindow();
  // In a fresh process: the first call reports, the second prints nothing.
  EXPECT_EXIT(
      {
        CProgram::Initialize();
        const std::string again = captureStderr([] { CProgram::Initialize(); });
        std::exit(again.empty() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "OpenGL 2.0 supported\n");
}

TEST(CProgram, CompileErrorListsNumberedSourceAndLeavesAnInertProgram) {
  std::string err;
  auto bad = build(kBadVertex, kGreen, NORVA_SOURCE_TEXT, &err);
  EXPECT_EQ(err.rfind("\nVERTEX SHADER:\n", 0), 0u) << err;
  const std::string tail =
      "---------- ERROR -----------\n"
      "(001) void main() {\n"
      "(002)   gl_Position = undefinedThing;\n"
      "\nFRAGMENT SHADER:\nOK.\n"
      "\nPROGRAM OBJECT: \n"
      "Error in vertex shader\n";
  ASSERT_GE(err.size(), tail.size());
  EXPECT_EQ(err.substr(err.size() - tail.size()), tail) << err;
  EXPECT_EQ(err.find("(003)"), std::string::npos);
  EXPECT_FALSE(bad->isInitialised());
  EXPECT_EQ(bad->getProgram(), 0u);

  // Harmless: nothing is enabled, uniforms are ignored, drawing stays on the
  // fixed-function path, while a built program draws with its shader.
  bad->Enable();
  EXPECT_EQ(currentProgram(), 0);
  const float values[1] = {1.0f};
  bad->SetUniformVector("scale", values);
  bad->SetUniformVector("scale", 1, 2, 3, 4);
  bad->SetUniformVector("scale", 1.0f, 2.0f, 3.0f, 4.0f);
  EXPECT_EQ(drawRedQuad(), (std::vector<unsigned char>{255, 0, 0, 255}));
  bad->Disable();
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

  auto green = build(kPlainVertex, kGreen, NORVA_SOURCE_TEXT);
  ASSERT_TRUE(green->isInitialised());
  green->Enable();
  EXPECT_EQ(currentProgram(), static_cast<GLint>(green->getProgram()));
  EXPECT_EQ(drawRedQuad(), (std::vector<unsigned char>{0, 255, 0, 255}));
  green->Disable();
  EXPECT_EQ(currentProgram(), 0);
}

TEST(CProgram, BuildOutcomesAndTheirReports) {
  const struct {
    const char* name;
    const char *vs, *fs;
    bool built;
    const char* ending;
  } rows[] = {
      {"both good", kVertex, kFragment, true, "\nPROGRAM OBJECT: \nOK.\n\n"},
      {"vertex only", kPlainVertex, nullptr, true, "\nPROGRAM OBJECT: \nOK.\n\n"},
      {"fragment only", nullptr, kGreen, true, "\nPROGRAM OBJECT: \nOK.\n\n"},
      {"bad vertex", kBadVertex, kGreen, false, "Error in vertex shader\n"},
      {"bad fragment", kPlainVertex, kBadFragment, false, "Error in fragment shader\n"},
      {"both bad", kBadVertex, kBadFragment, false, "Error in vertex and fragment shaders\n"},
      {"link error", kNoMain, kGreen, false, "\n"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::string err;
    auto p = build(r.vs, r.fs, NORVA_SOURCE_TEXT, &err);
    EXPECT_EQ(p->isInitialised(), r.built);
    EXPECT_EQ(p->getProgram() != 0, r.built);
    const std::string ending = r.ending;
    ASSERT_GE(err.size(), ending.size()) << err;
    EXPECT_EQ(err.substr(err.size() - ending.size()), ending) << err;
    EXPECT_EQ(err.find("\nPROGRAM OBJECT: \nOK.\n\n") != std::string::npos, r.built) << err;
  }
}

TEST(CProgram, ShadersFromFiles) {
  TempDir dir;
  const std::string vs = dir.write("plain.vert", kPlainVertex);
  const std::string fs = dir.write("green.frag", kGreen);
  auto good = build(vs.c_str(), fs.c_str(), NORVA_SOURCE_FILE);
  EXPECT_TRUE(good->isInitialised());

  const std::string missing = (dir.path / "missing.vert").string();
  std::string err;
  auto bad = build(missing.c_str(), fs.c_str(), NORVA_SOURCE_FILE, &err);
  EXPECT_FALSE(bad->isInitialised());
  EXPECT_EQ(err, "\nVERTEX SHADER:\nCProgram::LoadShader() - File " + missing +
                     "not found!\nERROR IN: " + missing +
                     "\n\nFRAGMENT SHADER:\nOK.\n\nPROGRAM OBJECT: \nError in vertex shader\n");

  // A directory is not a shader file.
  const std::string dirName = dir.path.string();
  auto notFile = build(dirName.c_str(), nullptr, NORVA_SOURCE_FILE, &err);
  EXPECT_FALSE(notFile->isInitialised());
  EXPECT_NE(err.find("Error reading file " + dirName + "\n"), std::string::npos) << err;
}

TEST(CProgram, UniformsGetTheirDeclaredTypeFromEachForm) {
  auto p = build(kVertex, kFragment, NORVA_SOURCE_TEXT);
  ASSERT_TRUE(p->isInitialised());
  const GLuint id = p->getProgram();

  // The case that a location used as an index gets wrong: the driver lists
  // other uniforms before ours.
  bool indexIsNotLocation = false;
  GLint active = 0;
  glGetProgramiv(id, GL_ACTIVE_UNIFORMS, &active);
  for (GLint k = 0; k < active; ++k) {
    char name[64];
    GLint size;
    GLenum type;
    glGetActiveUniform(id, k, sizeof name, nullptr, &size, &type, name);
    indexIsNotLocation |= glGetUniformLocation(id, name) != k;
  }
  ASSERT_TRUE(indexIsNotLocation);

  // The array form reads only as many values as the uniform has: a vec3
  // from a 3-float array on the heap (an over-read shows under ASan).
  auto three = std::make_unique<float[]>(3);
  three[0] = 1.0f, three[1] = 2.0f, three[2] = 3.0f;
  const float oneFloat[1] = {3.7f};
  const float cellsIn[3] = {1.9f, -2.7f, 3.2f};

  using Set = std::function<void(const CProgram&)>;
  const struct {
    const char* uniform;
    Set set;
    std::vector<float> expected;
    bool isInt;
  } rows[] = {
      {"cells", [&](const CProgram& q) { q.SetUniformVector("cells", cellsIn); }, {1, -2, 3}, true},
      {"cells",
       [](const CProgram& q) { q.SetUniformVector("cells", 4.99f, 0.5f, -0.5f, 9.f); },
       {4, 0, 0},
       true},
      {"cells",
       [](const CProgram& q) { q.SetUniformVector("cells", 7, 8, 9, 10); },
       {7, 8, 9},
       true},
      {"mode",
       [](const CProgram& q) { q.SetUniformVector("mode", -3.9f, 0.f, 0.f, 0.f); },
       {-3},
       true},
      {"lit", [](const CProgram& q) { q.SetUniformVector("lit", 1.0f, 0.f, 0.f, 0.f); }, {1}, true},
      {"lit", [](const CProgram& q) { q.SetUniformVector("lit", 0, 1, 1, 1); }, {0}, true},
      {"flags", [](const CProgram& q) { q.SetUniformVector("flags", 0, 1, 0, 0); }, {0, 1}, true},
      {"scale", [&](const CProgram& q) { q.SetUniformVector("scale", oneFloat); }, {3.7f}, false},
      {"scale", [](const CProgram& q) { q.SetUniformVector("scale", 3, 0, 0, 0); }, {3}, false},
      {"tint",
       [&](const CProgram& q) { q.SetUniformVector("tint", three.get()); },
       {1, 2, 3},
       false},
      {"tint",
       [](const CProgram& q) { q.SetUniformVector("tint", -1, 0, 4, 8); },
       {-1, 0, 4},
       false},
      // Matrices and unknown names are left alone.
      {"basis",
       [](const CProgram& q) { q.SetUniformVector("basis", 1.f, 1.f, 1.f, 1.f); },
       {0, 0, 0},
       false},
      {"basis",
       [](const CProgram& q) { q.SetUniformVector("nosuch", 1.f, 1.f, 1.f, 1.f); },
       {0, 0, 0},
       false},
  };
  p->Enable();
  // Every sampler, the shadow sampler included, through each form.
  int unit = 1;
  for (const char* sampler : {"ramp", "colourMap", "volume", "shadowMap"}) {
    const float asArray[1] = {unit + 0.75f};
    const int expected[3] = {unit, unit + 1, unit + 2};
    p->SetUniformVector(sampler, asArray);
    GLint got[3] = {-1, -1, -1};
    glGetUniformiv(id, glGetUniformLocation(id, sampler), &got[0]);
    p->SetUniformVector(sampler, unit + 1, 0, 0, 0);
    glGetUniformiv(id, glGetUniformLocation(id, sampler), &got[1]);
    p->SetUniformVector(sampler, unit + 2.9f, 0.0f, 0.0f, 0.0f);
    glGetUniformiv(id, glGetUniformLocation(id, sampler), &got[2]);
    for (int form = 0; form < 3; ++form) EXPECT_EQ(got[form], expected[form]) << sampler << form;
    unit += 3;
  }
  for (const auto& r : rows) {
    SCOPED_TRACE(r.uniform);
    r.set(*p);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const GLint location = glGetUniformLocation(id, r.uniform);
    ASSERT_NE(location, -1);
    GLint ints[9] = {};
    GLfloat floats[9] = {};
    if (r.isInt)
      glGetUniformiv(id, location, ints);
    else
      glGetUniformfv(id, location, floats);
    for (size_t k = 0; k < r.expected.size(); ++k)
      EXPECT_EQ(r.isInt ? static_cast<float>(ints[k]) : floats[k], r.expected[k]) << k;
  }
  p->Disable();
}

TEST(CProgram, CopyRelinksTheSameShaders) {
  auto original = build(kVertex, kFragment, NORVA_SOURCE_TEXT);
  ASSERT_TRUE(original->isInitialised());
  CProgram copy(*original);
  ASSERT_TRUE(copy.isInitialised());
  EXPECT_NE(copy.getProgram(), original->getProgram());
  copy.Enable();
  copy.SetUniformVector("shadowMap", 4, 0, 0, 0);
  GLint unit = -1;
  glGetUniformiv(copy.getProgram(), glGetUniformLocation(copy.getProgram(), "shadowMap"), &unit);
  EXPECT_EQ(unit, 4);
  copy.Disable();

  auto failed = build(kBadVertex, kGreen, NORVA_SOURCE_TEXT);
  std::unique_ptr<CProgram> copyOfFailed;
  EXPECT_EQ(captureStderr([&] { copyOfFailed = std::make_unique<CProgram>(*failed); }),
            "CProgram::CProgram(const CProgram &other) - Error copying vertex shader.\n");
  EXPECT_FALSE(copyOfFailed->isInitialised());
}

TEST(CProgram, MisuseStops) {
  // Both stop before any GL call, so the forked child needs no context.
  auto p = build(kVertex, kFragment, NORVA_SOURCE_TEXT);
  ASSERT_TRUE(p->isInitialised());
  EXPECT_DEATH(p->SetUniformVector("scale", 1.0f, 0.f, 0.f, 0.f), "Assertion `m_bEnabled' failed");
  EXPECT_DEATH(p->LoadShader(kGreen, GL_GEOMETRY_SHADER, NORVA_SOURCE_TEXT),
               "Assertion `Type==0x8B31 \\|\\| Type==0x8B30' failed");
}
