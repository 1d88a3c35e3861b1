#pragma once
// The 2D textures the renderers load from images: tightly packed bytes,
// linear filtering, made through GLUtils::createTexture (unit 0, GL errors
// reported).

#include <GL/glew.h>

// format is both the internal and the pixel format (GL_RGB, GL_RGBA,
// GL_LUMINANCE_ALPHA); wrap applies to s and t. Nothing stays bound.
GLuint createLinearTexture(GLenum format, int width, int height, const void* pixels, GLint wrap);
