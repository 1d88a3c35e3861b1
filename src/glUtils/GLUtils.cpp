#include "GLUtils.h"

#include <GL/glu.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace GLUtils {
namespace {

// Nearest filtering and clamped coordinates for the bound texture.
void setNearestClamped(GLenum target) {
  glTexParameteri(target, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(target, GL_TEXTURE_WRAP_S, GL_CLAMP);
  glTexParameteri(target, GL_TEXTURE_WRAP_T, GL_CLAMP);
  if (target == GL_TEXTURE_3D) glTexParameteri(target, GL_TEXTURE_WRAP_R, GL_CLAMP);
}

}  // namespace

void clearGLErrors() {
  // Bounded: without a context glGetError may never report GL_NO_ERROR.
  for (int k = 0; k < 64 && glGetError() != GL_NO_ERROR; ++k) {
  }
}

PixelStore::PixelStore(GLenum name, GLint value) : name_(name) {
  glGetIntegerv(name, &previous_);
  glPixelStorei(name, value);
}

PixelStore::~PixelStore() { glPixelStorei(name_, previous_); }

bool pickPoint(int x, int y, float* out, bool readDepth, float* depth) {
  GLdouble modelview[16], projection[16];
  GLint viewport[4];
  glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
  glGetDoublev(GL_PROJECTION_MATRIX, projection);
  glGetIntegerv(GL_VIEWPORT, viewport);
  const float winX = static_cast<float>(x);
  const float winY = static_cast<float>(viewport[3]) - static_cast<float>(y);
  if (readDepth) {
    // The pixel under the cursor is row height - 1 - y; kept inside the
    // viewport so that an edge pick never reads outside the framebuffer.
    const int px = std::clamp(x, 0, std::max(viewport[2] - 1, 0));
    const int py = std::clamp(viewport[3] - 1 - y, 0, std::max(viewport[3] - 1, 0));
    glReadPixels(px, py, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, depth);
  }
  GLdouble ox = 0.0, oy = 0.0, oz = 0.0;
  const GLint ok = gluUnProject(winX, winY, *depth, modelview, projection, viewport, &ox, &oy, &oz);
  out[0] = static_cast<float>(ox);
  out[1] = static_cast<float>(oy);
  out[2] = static_cast<float>(oz);
  return ok == GL_TRUE;
}

void saveFrame(const char* path, bool raw) {
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  const int width = viewport[2], height = viewport[3];
  const int channels = raw ? 4 : 3;
  std::vector<unsigned char> pixels(static_cast<size_t>(channels) * std::max(width, 0) *
                                    std::max(height, 0));
  if (!pixels.empty()) {
    PixelStore tight(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, raw ? GL_RGBA : GL_BGR, GL_UNSIGNED_BYTE, pixels.data());
  }
  if (raw)
    writeRaw(path, pixels.data(), width, height);
  else
    writeBMP(path, pixels.data(), width, height);
}

void saveScreenshot(const char* dir, bool raw) {
  char* name = nullptr;
  nextFreeFileName(dir, "image", raw ? "raw" : "bmp", &name);
  saveFrame(name, raw);
  delete[] name;
}

bool checkExtensions(const char* name) {
  if (glewGetExtension(name)) return true;
  std::printf("[GLUtils, checkExtensions] Error: %s not supported!\n", name);
  return false;
}

void createTexture(GLuint* id, GLint internalFormat, int width, int height, GLenum format,
                   GLenum type, const void* data) {
  clearGLErrors();
  glGenTextures(1, id);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, *id);
  glEnable(GL_TEXTURE_2D);
  setNearestClamped(GL_TEXTURE_2D);
  {
    PixelStore tight(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, width, height, 0, format, type, data);
  }
  glDisable(GL_TEXTURE_2D);
  const GLenum error = glGetError();
  if (error != GL_NO_ERROR)
    std::printf("[GLUtils, createTexture] GL-Error %s\n",
                reinterpret_cast<const char*>(gluErrorString(error)));
}

void create3DTexture(GLuint* id, GLint internalFormat, int width, int height, int depth,
                     GLenum format, GLenum type, const void* data) {
  clearGLErrors();
  glGenTextures(1, id);
  glBindTexture(GL_TEXTURE_3D, *id);
  setNearestClamped(GL_TEXTURE_3D);
  {
    PixelStore tight(GL_UNPACK_ALIGNMENT, 1);
    glTexImage3D(GL_TEXTURE_3D, 0, internalFormat, width, height, depth, 0, format, type, data);
  }
  const GLenum error = glGetError();
  if (error != GL_NO_ERROR)
    std::printf("[GLUtils, create3DTexture] GL-Error %u\n", static_cast<unsigned>(error));
}

void createGPUBuffer(const void* data, int size, GLuint* id) {
  clearGLErrors();
  glGenBuffers(1, id);
  glBindBuffer(GL_ARRAY_BUFFER, *id);
  glBufferData(GL_ARRAY_BUFFER, size, data, GL_STATIC_DRAW);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  if (glGetError() != GL_NO_ERROR) std::printf("[GLUtils, createGPUBuffer] GL-Error \n");
}

void bindGPUBuffer(const GLuint* id) { glBindBuffer(GL_ARRAY_BUFFER, *id); }

void deleteGPUBuffer(GLuint* id) { glDeleteBuffers(1, id); }

}  // namespace GLUtils
