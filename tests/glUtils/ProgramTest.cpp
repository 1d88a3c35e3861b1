#include "Program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Capture.h"
#include "GLWindow.h"
#include "TempDir.h"

using zolt::test::captureStderr;
using zolt::test::TempDir;

namespace {

const int W = 32, H = 32;

void openWindow() { zolt::test::openGLWindow("program", W, H); }

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
  glColor3f(1.0f, 0.0f, 0.0f);
  glRectf(-1, -1, 1, 1);
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

// What each build reports on standard error, ending with the program
// object's verdict; a compile error lists the numbered source up to its last
// newline, a missing or unreadable file is named.
TEST(CProgram, BuildOutcomesAndTheirReports) {
  TempDir dir;
  const std::string vsFile = dir.write("plain.vert", kPlainVertex);
  const std::string fsFile = dir.write("green.frag", kGreen);
  const std::string missing = dir.file("missing.vert"), folder = dir.path.string();
  const std::string ok = "\nPROGRAM OBJECT: \nOK.\n\n";
  const struct {
    const char* name;
    const char *vs, *fs;
    NORVA_SOURCE kind;
    bool built;
    std::string ending;
    bool whole;  // the ending is the whole report
  } rows[] = {
      {"both good", kVertex, kFragment, NORVA_SOURCE_TEXT, true, ok, false},
      {"vertex only", kPlainVertex, nullptr, NORVA_SOURCE_TEXT, true, ok, false},
      {"bad vertex", kBadVertex, kGreen, NORVA_SOURCE_TEXT, false,
       "---------- ERROR -----------\n"
       "(001) void main() {\n"
       "(002)   gl_Position = undefinedThing;\n"
       "\nFRAGMENT SHADER:\nOK.\n"
       "\nPROGRAM OBJECT: \n"
       "Error in vertex shader\n",
       false},
      {"fragment only", nullptr, kGreen, NORVA_SOURCE_TEXT, true, ok, false},
      {"bad fragment", kPlainVertex, kBadFragment, NORVA_SOURCE_TEXT, false,
       "Error in fragment shader\n", false},
      {"both bad", kBadVertex, kBadFragment, NORVA_SOURCE_TEXT, false,
       "Error in vertex and fragment shaders\n", false},
      {"link error", kNoMain, kGreen, NORVA_SOURCE_TEXT, false, "\n", false},
      {"files", vsFile.c_str(), fsFile.c_str(), NORVA_SOURCE_FILE, true, ok, false},
      {"missing file", missing.c_str(), fsFile.c_str(), NORVA_SOURCE_FILE, false,
       "\nVERTEX SHADER:\nCProgram::LoadShader() - File " + missing + "not found!\nERROR IN: " +
           missing + "\n\nFRAGMENT SHADER:\nOK.\n\nPROGRAM OBJECT: \nError in vertex shader\n",
       true},
      {"directory", folder.c_str(), nullptr, NORVA_SOURCE_FILE, false,
       "\nVERTEX SHADER:\nError reading file " + folder + "\nERROR IN: " + folder +
           "\n\nPROGRAM OBJECT: \nError in vertex shader\n",
       true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::string err;
    auto p = build(r.vs, r.fs, r.kind, &err);
    EXPECT_EQ(p->isInitialised(), r.built);
    EXPECT_EQ(p->getProgram() != 0, r.built);
    EXPECT_EQ(err.rfind(r.vs ? "\nVERTEX SHADER:\n" : "\nFRAGMENT SHADER:\n", 0), 0u) << err;
    ASSERT_GE(err.size(), r.ending.size()) << err;
    EXPECT_EQ(r.whole ? err : err.substr(err.size() - r.ending.size()), r.ending);
    EXPECT_EQ(err.find(ok) != std::string::npos, r.built) << err;
  }
}

// Harmless: nothing is enabled, uniforms are ignored, drawing stays on the
// fixed-function path, while a built program draws with its shader.
TEST(CProgram, AFailedProgramIsInert) {
  auto bad = build(kBadVertex, kGreen, NORVA_SOURCE_TEXT);
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

  enum Form { Array, Floats, Ints };
  struct Row {
    const char* name;
    Form form;
    float in[4];
    std::vector<float> expected;  // read back from the uniform; empty: not read
    bool isInt;
  };
  std::vector<Row> rows = {
      {"cells", Array, {1.9f, -2.7f, 3.2f}, {1, -2, 3}, true},
      {"cells", Floats, {4.99f, 0.5f, -0.5f, 9.f}, {4, 0, 0}, true},
      {"cells", Ints, {7, 8, 9, 10}, {7, 8, 9}, true},
      {"mode", Floats, {-3.9f}, {-3}, true},
      {"lit", Floats, {1}, {1}, true},
      {"lit", Ints, {0, 1, 1, 1}, {0}, true},
      {"flags", Ints, {0, 1}, {0, 1}, true},
      {"scale", Array, {3.7f}, {3.7f}, false},
      {"scale", Ints, {3}, {3}, false},
      {"tint", Array, {1, 2, 3}, {1, 2, 3}, false},
      {"tint", Ints, {-1, 0, 4, 8}, {-1, 0, 4}, false},
      // Matrices and unknown names are left alone.
      {"basis", Floats, {1, 1, 1, 1}, {0, 0, 0}, false},
      {"nosuch", Floats, {1, 1, 1, 1}, {}, false},
  };
  // Every sampler, the shadow sampler included, through each form.
  float unit = 1;
  for (const char* sampler : {"ramp", "colourMap", "volume", "shadowMap"}) {
    rows.push_back({sampler, Array, {unit + 0.75f}, {unit}, true});
    rows.push_back({sampler, Ints, {unit + 1}, {unit + 1}, true});
    rows.push_back({sampler, Floats, {unit + 2.9f}, {unit + 2}, true});
    unit += 3;
  }
  p->Enable();
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.name << " form " << r.form);
    const float* in = r.in;
    if (r.form == Array) {
      // As many values as the uniform has, on the heap: an over-read shows
      // under ASan.
      auto exact = std::make_unique<float[]>(r.expected.size());
      std::copy(in, in + r.expected.size(), exact.get());
      p->SetUniformVector(r.name, exact.get());
    } else if (r.form == Floats) {
      p->SetUniformVector(r.name, in[0], in[1], in[2], in[3]);
    } else {
      p->SetUniformVector(r.name, int(in[0]), int(in[1]), int(in[2]), int(in[3]));
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    if (r.expected.empty()) continue;
    const GLint location = glGetUniformLocation(id, r.name);
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
