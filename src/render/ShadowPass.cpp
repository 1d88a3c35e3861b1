// The shadow map's framebuffer and the programs of the scene pass.

#include <cstdio>

#include "Program.h"
#include "ScenePass.h"
#include "SceneShaders.h"

namespace {

const char* statusText(GLenum status) {
  switch (status) {
    case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT:
      return "Incomplete attachment";
    case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT_EXT:
      return "Incomplete missing attachment";
    case 0x8CD8:
      return "Incomplete duplicate attachment";
    case GL_FRAMEBUFFER_INCOMPLETE_DIMENSIONS_EXT:
      return "Incomplete dimensions";
    case GL_FRAMEBUFFER_INCOMPLETE_FORMATS_EXT:
      return "Incomplete formats";
    case GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER_EXT:
      return "Incomplete draw buffer";
    case GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER_EXT:
      return "Incomplete read buffer";
    case GL_FRAMEBUFFER_UNSUPPORTED_EXT:
      return "Unsupported Format!";
    default:
      return "status error";
  }
}

void releaseFramebuffer(ShadowMap* sm) {
  if (sm->framebuffer) glDeleteFramebuffersEXT(1, &sm->framebuffer);
  if (sm->colourRenderbuffer) glDeleteRenderbuffersEXT(1, &sm->colourRenderbuffer);
  if (sm->depthTexture) glDeleteTextures(1, &sm->depthTexture);
  sm->framebuffer = sm->colourRenderbuffer = sm->depthTexture = 0;
}

}  // namespace

bool createShadowFramebuffer(ShadowMap* sm) {
  glActiveTexture(GL_TEXTURE1);
  glGenTextures(1, &sm->depthTexture);
  glBindTexture(GL_TEXTURE_2D, sm->depthTexture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_DEPTH_TEXTURE_MODE, GL_LUMINANCE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE, GL_COMPARE_R_TO_TEXTURE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_FUNC, GL_LEQUAL);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT24, sm->size, sm->size, 0, GL_DEPTH_COMPONENT,
               GL_UNSIGNED_INT, nullptr);
  glBindTexture(GL_TEXTURE_2D, 0);
  glActiveTexture(GL_TEXTURE0);

  glGenRenderbuffersEXT(1, &sm->colourRenderbuffer);
  glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, sm->colourRenderbuffer);
  glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_RGB8, sm->size, sm->size);
  glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, 0);

  glGenFramebuffersEXT(1, &sm->framebuffer);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, sm->framebuffer);
  glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT,
                               sm->colourRenderbuffer);
  glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_TEXTURE_2D,
                            sm->depthTexture, 0);
  glDrawBuffer(GL_COLOR_ATTACHMENT0_EXT);
  const GLenum status = glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  if (status == GL_FRAMEBUFFER_COMPLETE_EXT) return true;
  std::printf("%s\n", statusText(status));
  std::printf("[ShadowMap, createShadowFramebuffer] Error: framebuffer status 0x%X, shadows off\n",
              status);
  std::fflush(stdout);
  return false;
}

ShadowMap* createShadowMap(int size) {
  ShadowMap* sm = new ShadowMap;
  sm->size = size;
  if (!createShadowFramebuffer(sm)) {
    deleteShadowMap(sm);
    return nullptr;
  }
  sm->depthProgram = buildDepthProgram();
  return sm;
}

void deleteShadowMap(ShadowMap* sm) {
  if (!sm) return;
  releaseFramebuffer(sm);
  delete sm->spareProgram;
  delete sm->depthProgram;
  delete sm;
}

CProgram* buildDepthProgram() {
  const ShaderSources s = depthShaderSources();
  return new CProgram(s.vertex.c_str(), s.fragment.c_str(), NORVA_SOURCE_TEXT);
}

CProgram* buildSurfaceProgram(bool textured, bool shadow, bool skin, const float* light) {
  const ShaderSources s = surfaceShaderSources(textured, shadow, skin);
  CProgram* program = new CProgram(s.vertex.c_str(), s.fragment.c_str(), NORVA_SOURCE_TEXT);
  program->Enable();
  program->SetUniformVector("vLightPos", light);
  program->SetUniformVector("ambientScale", 0.3f, 0.0f, 0.0f, 0.0f);
  if (shadow) program->SetUniformVector("maxShadow", 0.5f, 0.0f, 0.0f, 0.0f);
  if (textured) program->SetUniformVector("tex", 0, 0, 0, 0);
  if (shadow) program->SetUniformVector("smap", 1, 0, 0, 0);
  if (skin) program->SetUniformVector("sSkinLUT", 2, 0, 0, 0);
  program->Disable();
  return program;
}
