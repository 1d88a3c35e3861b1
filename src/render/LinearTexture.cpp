#include "LinearTexture.h"

#include "GLUtils.h"

GLuint createLinearTexture(GLenum format, int width, int height, const void* pixels, GLint wrap) {
  GLuint id = 0;
  GLUtils::createTexture(&id, static_cast<GLint>(format), width, height, format, GL_UNSIGNED_BYTE,
                         pixels);
  glBindTexture(GL_TEXTURE_2D, id);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glBindTexture(GL_TEXTURE_2D, 0);
  return id;
}
