// The shadow map's framebuffer and the scene programs on Mesa: every
// variant links and uses the uniforms it declares, and the shadow variant
// darkens a fragment behind the stored depth by maxShadow.

#include <gtest/gtest.h>

#include <string>

#include "Capture.h"
#include "GLWindow.h"
#include "Program.h"
#include "ScenePass.h"

using zolt::test::captureStdout;

namespace {

const int W = 64, H = 64;

void openWindow() {
  zolt::test::openGLWindow("shadow pass", W, H);
  zolt::test::captureStderr([] { CProgram::Initialize(); });
}

bool hasUniform(const CProgram& p, const char* name) {
  return glGetUniformLocation(p.getProgram(), name) >= 0;
}

TEST(ShadowPass, EveryProgramVariantLinksAndUsesItsUniforms) {
  openWindow();
  const float light[3] = {0, 5, 1};
  zolt::test::captureStderr([] {
    CProgram* depth = buildDepthProgram();
    EXPECT_TRUE(depth->isInitialised());
    delete depth;
  });
  for (int v = 0; v < 8; ++v) {
    const bool textured = v & 1, shadow = v & 2, skin = v & 4;
    CProgram* p = nullptr;
    zolt::test::captureStderr([&] { p = buildSurfaceProgram(textured, shadow, skin, light); });
    ASSERT_TRUE(p->isInitialised()) << "variant " << v;
    EXPECT_TRUE(hasUniform(*p, "vLightPos")) << v;
    EXPECT_EQ(hasUniform(*p, "ambientScale"), !skin) << v;  // skin light has no ambient term
    EXPECT_EQ(hasUniform(*p, "smap"), shadow) << v;
    EXPECT_EQ(hasUniform(*p, "maxShadow"), shadow) << v;
    EXPECT_EQ(hasUniform(*p, "sSkinLUT"), skin) << v;
    if (!skin) {
      EXPECT_EQ(hasUniform(*p, "tex"), textured) << v;
    }
    if (shadow) {
      GLint unit = -1;
      glGetUniformiv(p->getProgram(), glGetUniformLocation(p->getProgram(), "smap"), &unit);
      EXPECT_EQ(unit, 1) << v;
    }
    delete p;
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Lights a grey square facing the light with the shadow variant, its shadow
// coordinate at the given depth against a map cleared to depth 0.5.
double litLuminance(const ShadowMap& sm, CProgram& program, float depth) {
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, sm.framebuffer);
  glClearDepth(0.5);
  glClear(GL_DEPTH_BUFFER_BIT);
  glClearDepth(1.0);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);

  glViewport(0, 0, W, H);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glActiveTexture(GL_TEXTURE1);
  glBindTexture(GL_TEXTURE_2D, sm.depthTexture);
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glTranslatef(0.5f, 0.5f, depth);
  glScalef(0.5f, 0.5f, 0.0f);
  glMatrixMode(GL_MODELVIEW);
  glActiveTexture(GL_TEXTURE0);
  const float noSpecular[4] = {0, 0, 0, 1};
  glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, noSpecular);

  program.Enable();
  glColor3f(0.5f, 0.5f, 0.5f);
  glNormal3f(0, 0, 1);
  glRectf(-0.8f, -0.8f, 0.8f, 0.8f);
  program.Disable();
  glActiveTexture(GL_TEXTURE1);
  glBindTexture(GL_TEXTURE_2D, 0);
  glActiveTexture(GL_TEXTURE0);
  return zolt::test::meanLuminance(zolt::test::readFrame(W, H), W / 4, H / 4, W / 2, H / 2);
}

TEST(ShadowPass, ShadowedFragmentsKeepMaxShadowOfTheirLight) {
  openWindow();
  ShadowMap* sm = createShadowMap(256);
  ASSERT_NE(sm, nullptr);
  const float light[3] = {0, 0, 5};
  CProgram* program = nullptr;
  zolt::test::captureStderr([&] { program = buildSurfaceProgram(false, true, false, light); });
  const double lit = litLuminance(*sm, *program, 0.3f);
  const double shadowed = litLuminance(*sm, *program, 0.7f);
  // Lit: 0.5 grey x (ambient 0.3 + diffuse 1) = 0.65; shadowed by half.
  EXPECT_NEAR(lit, 0.65 * 255, 6);
  EXPECT_NEAR(shadowed / lit, 0.5, 0.03);
  delete program;
  deleteShadowMap(sm);
}

TEST(ShadowPass, IncompleteFramebufferIsReportedAndFreed) {
  openWindow();
  ShadowMap* complete = createShadowMap();
  ASSERT_NE(complete, nullptr);
  EXPECT_TRUE(complete->depthProgram && complete->depthProgram->isInitialised());
  deleteShadowMap(complete);

  ShadowMap probe;
  probe.size = 0;  // a zero-sized attachment cannot complete
  std::string out = captureStdout([&] { EXPECT_FALSE(createShadowFramebuffer(&probe)); });
  EXPECT_NE(out.find("Incomplete"), std::string::npos) << out;
  const GLuint texture = probe.depthTexture;
  out = captureStdout([] { EXPECT_EQ(createShadowMap(0), nullptr); });
  EXPECT_NE(out.find("Incomplete"), std::string::npos);
  EXPECT_TRUE(glIsTexture(texture));  // the probe's own objects are the caller's
  GLint bound = -1;
  glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &bound);
  EXPECT_EQ(bound, 0);
  glDeleteTextures(1, &probe.depthTexture);
  glDeleteRenderbuffersEXT(1, &probe.colourRenderbuffer);
  glDeleteFramebuffersEXT(1, &probe.framebuffer);
}

}  // namespace
