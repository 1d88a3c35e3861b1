#pragma once
// One GLSL program object: a vertex and a fragment shader, given as source
// text or as file names, compiled and linked, with compile and link logs on
// standard error. Uniforms are set by name and converted to the type the
// program declares them with.
//
// A program that failed to compile or link is inert: Enable, Disable and
// SetUniformVector do nothing, so drawing stays on the fixed-function path.

#include <GL/glew.h>

#include "UniformTypes.h"
#include "ZoltAssert.h"

// What a shader argument holds; any other value is refused (the fixed
// underlying type makes every int a valid value to test).
enum NORVA_SOURCE : int { NORVA_SOURCE_FILE = 0, NORVA_SOURCE_TEXT = 1 };

class CProgram {
 public:
  // Either shader may be null. Needs a current GL context.
  CProgram(const char* vertex, const char* fragment, NORVA_SOURCE kind);
  CProgram();
  // Relinks the shaders attached to other's program into a new program.
  CProgram(const CProgram& other);
  CProgram& operator=(const CProgram&) = delete;
  ~CProgram();

  // Once per process: GLEW, and OpenGL 2.0 or the ARB shader extensions;
  // without GLSL the process ends with status 255.
  static void Initialize();
  // A compiled shader object, or 0.
  GLuint LoadShader(const char* source, GLenum type, NORVA_SOURCE kind);
  void create(const char* vertex, const char* fragment, NORVA_SOURCE kind);
  // Prints the object's info log; true when the object is no longer valid.
  bool printInfoLog(GLuint object, bool isProgram);
  bool checkGLError();

  void Enable();
  void Disable();

  // Uniforms are set while the program is enabled. The array form reads as
  // many values as the uniform has components.
  void SetUniformVector(const GLchar* name, const float* values) const;
  void SetUniformVector(const GLchar* name, int a, int b, int c, int d) const;
  void SetUniformVector(const GLchar* name, float a, float b, float c, float d) const;

  bool isInitialised() const { return m_bInitialised; }
  GLuint getProgram() const { return m_program; }

 private:
  // Compiles one stage of create; no source counts as success.
  bool compileStage(const char* title, const char* source, GLenum type, NORVA_SOURCE kind,
                    GLuint* shader);
  void setUniform(const GLchar* name, UniformArgs args, const float* f, const int* i) const;
  bool activeUniformType(const GLchar* name, GLenum* type) const;
  void deleteProgram();

  bool m_bInitialised = false;  // a linked program exists
  bool m_bEnabled = false;      // the program is the current one
  GLuint m_program = 0;
};

#include "Program.inl"
