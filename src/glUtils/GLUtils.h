#pragma once
// GL helpers: window-to-object picking through the depth buffer, frame and
// screenshot files, an extension check, texture and vertex-buffer
// creation. The image files themselves are in ImageFiles.h. Messages go to
// standard output; no helper ends the program.

#include <GL/glew.h>

#include "ImageFiles.h"
#include "vectors.h"

namespace GLUtils {

// Sets a pixel-store parameter (GL_PACK_ALIGNMENT, GL_UNPACK_ALIGNMENT)
// for the life of the object and restores the previous value. Tightly
// packed rows of 3 bytes per pixel need alignment 1.
class PixelStore {
 public:
  PixelStore(GLenum name, GLint value);
  ~PixelStore();
  PixelStore(const PixelStore&) = delete;
  PixelStore& operator=(const PixelStore&) = delete;

 private:
  GLenum name_;
  GLint previous_ = 0;
};

// Drops pending GL errors, so that the next glGetError reports only what
// follows.
void clearGLErrors();

// Window position (x, y from the top left, as the mouse gives it) to object
// coordinates out[3] through the current matrices and viewport. With
// readDepth the depth is read at the pixel under (x, y) into *depth; else
// *depth is used as given. False when the matrices cannot be inverted.
bool pickPoint(int x, int y, float* out, bool readDepth, float* depth);

// Saves the current viewport's pixels: a BMP, or raw RGBA bytes.
void saveFrame(const char* path, bool raw);
// saveFrame under the next free name dir + "image" + number + ".bmp"/".raw".
void saveScreenshot(const char* dir, bool raw);

bool checkExtensions(const char* name);

// 2D texture on unit 0 with nearest filtering and clamped coordinates;
// rows of data are tightly packed. GL errors are reported, the id stays.
void createTexture(GLuint* id, GLint internalFormat, int width, int height, GLenum format,
                   GLenum type, const void* data);
// The same for a 3D texture.
void create3DTexture(GLuint* id, GLint internalFormat, int width, int height, int depth,
                     GLenum format, GLenum type, const void* data);

// Static vertex buffer of size bytes.
void createGPUBuffer(const void* data, int size, GLuint* id);
void bindGPUBuffer(const GLuint* id);
void deleteGPUBuffer(GLuint* id);

}  // namespace GLUtils
