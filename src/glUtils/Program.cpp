#include "Program.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "GLUtils.h"

using GLUtils::clearGLErrors;

namespace {

bool glslReady = false;  // Initialize has succeeded in this process

void say(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

bool readShaderFile(const char* name, std::string* text) {
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "CProgram::LoadShader() - File %snot found!\n", name);
    return false;
  }
  std::error_code ec;
  const bool regular = std::filesystem::is_regular_file(name, ec);
  const std::streamoff size =
      regular && in.seekg(0, std::ios::end) ? std::streamoff(in.tellg()) : -1;
  if (size < 0 || !in.seekg(0)) {
    std::fprintf(stderr, "Error reading file %s\n", name);
    return false;
  }
  text->resize(static_cast<size_t>(size));
  return static_cast<bool>(in.read(text->data(), size));
}

// The source, each newline-terminated line as "(001) line".
void listSource(const char* text) {
  int number = 1;
  for (const char* p = text; *p;) {
    const char* end = std::strchr(p, '\n');
    if (!end) break;  // text after the last newline is not listed
    std::fprintf(stderr, "(%.3i) %.*s\n", number++, static_cast<int>(end - p), p);
    p = end + 1;
  }
  std::fflush(stderr);
}

}  // namespace

CProgram::CProgram(const char* vertex, const char* fragment, NORVA_SOURCE kind) {
  Initialize();
  create(vertex, fragment, kind);
}

CProgram::CProgram() { Initialize(); }

CProgram::CProgram(const CProgram& other) : m_bInitialised(other.m_bInitialised) {
  Initialize();
  GLint count = 0;
  if (other.m_program) glGetProgramiv(other.m_program, GL_ATTACHED_SHADERS, &count);
  if (count <= 0) {
    say("CProgram::CProgram(const CProgram &other) - Error copying vertex shader.\n");
    m_bInitialised = false;
    return;
  }
  std::vector<GLuint> shaders(count);
  glGetAttachedShaders(other.m_program, count, &count, shaders.data());
  clearGLErrors();
  m_program = glCreateProgram();
  for (GLint k = 0; k < count; ++k) glAttachShader(m_program, shaders[k]);
  glLinkProgram(m_program);
  GLint status = GL_FALSE;
  glGetProgramiv(m_program, GL_LINK_STATUS, &status);
  if (checkGLError() || status != GL_TRUE) deleteProgram();
}

CProgram::~CProgram() { deleteProgram(); }

void CProgram::deleteProgram() {
  if (m_program) glDeleteProgram(m_program);
  m_program = 0;
  m_bInitialised = false;
  m_bEnabled = false;
}

void CProgram::Initialize() {
  if (glslReady) return;
  if (glewInit() != GLEW_OK) say("CProgram::Initialize() - GLEW initialization failed!\n");
  if (GLEW_VERSION_2_0) {
    say("OpenGL 2.0 supported\n");
    glslReady = true;
    return;
  }
  if (!glewGetExtension("GL_ARB_shader_objects")) {
    say("ARB_shader_objects not supported!\n");
    std::exit(255);
  }
  say("ARB_shader_objects supported.\n");
  if (!glewGetExtension("GL_ARB_shading_language_100")) {
    say("ARB_shading_language_100 not supported!\n");
    std::exit(255);
  }
  say("ARB_shading_language_100 supported.\n");
  glslReady = true;
}

bool CProgram::checkGLError() { return glGetError() != GL_NO_ERROR; }

GLuint CProgram::LoadShader(const char* source, GLenum Type, NORVA_SOURCE kind) {
  // clang-format off
  ZOLT_ASSERT(Type==0x8B31 || Type==0x8B30);
  // clang-format on
  clearGLErrors();
  std::string fileText;
  const char* text = source;
  if (kind == NORVA_SOURCE_FILE) {
    if (!readShaderFile(source, &fileText)) return 0;
    text = fileText.c_str();
  } else if (kind != NORVA_SOURCE_TEXT) {
    say("CProgram::LoadShader(const char*,GLenum,NORVA_SOURCE) - Unknown source\n");
    return 0;
  }
  if (!text) return 0;
  const GLuint shader = glCreateShader(Type);
  glShaderSource(shader, 1, &text, nullptr);
  glCompileShader(shader);
  GLint status = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
  const bool logFailed = printInfoLog(shader, false);
  if (checkGLError() || status != GL_TRUE || logFailed) {
    if (glIsShader(shader)) glDeleteShader(shader);
    return 0;
  }
  return shader;
}

bool CProgram::compileStage(const char* title, const char* source, GLenum type, NORVA_SOURCE kind,
                            GLuint* shader) {
  *shader = 0;
  if (!source) return true;
  say(title);
  *shader = LoadShader(source, type, kind);
  if (*shader) {
    say("OK.\n");
    return true;
  }
  if (kind == NORVA_SOURCE_FILE) {
    std::fprintf(stderr, "ERROR IN: %s\n", source);
  } else if (kind == NORVA_SOURCE_TEXT) {
    say("---------- ERROR -----------\n");
    listSource(source);
  }
  return false;
}

void CProgram::create(const char* vertex, const char* fragment, NORVA_SOURCE kind) {
  clearGLErrors();
  deleteProgram();  // a second create replaces the first program
  GLuint vs = 0, fs = 0;
  const bool vsOk = compileStage("\nVERTEX SHADER:\n", vertex, GL_VERTEX_SHADER, kind, &vs);
  const bool fsOk = compileStage("\nFRAGMENT SHADER:\n", fragment, GL_FRAGMENT_SHADER, kind, &fs);
  m_program = glCreateProgram();
  if (vs) glAttachShader(m_program, vs);
  if (fs) glAttachShader(m_program, fs);
  say("\nPROGRAM OBJECT: \n");
  if (!vsOk || !fsOk) {
    if (vs) glDeleteShader(vs);
    if (fs) glDeleteShader(fs);
    deleteProgram();
    say(vsOk   ? "Error in fragment shader\n"
        : fsOk ? "Error in vertex shader\n"
               : "Error in vertex and fragment shaders\n");
    return;
  }
  glLinkProgram(m_program);
  GLint status = GL_FALSE;
  glGetProgramiv(m_program, GL_LINK_STATUS, &status);
  printInfoLog(m_program, true);
  // Attached shaders live on with the program until it is deleted.
  if (vs) glDeleteShader(vs);
  if (fs) glDeleteShader(fs);
  if (checkGLError() || status != GL_TRUE) {
    deleteProgram();
    return;
  }
  say("OK.\n\n");
  m_bInitialised = true;
}

bool CProgram::printInfoLog(GLuint object, bool isProgram) {
  GLint length = 0;
  if (isProgram)
    glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
  else
    glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
  if (length < 2) return false;
  std::vector<GLchar> log(length + 1, '\0');
  if (isProgram)
    glGetProgramInfoLog(object, length, nullptr, log.data());
  else
    glGetShaderInfoLog(object, length, nullptr, log.data());
  std::fprintf(stderr, "%s\n", log.data());
  std::fflush(stderr);
  return isProgram ? !glIsProgram(object) : !glIsShader(object);
}

void CProgram::Enable() {
  if (!m_bInitialised) return;
  clearGLErrors();
  glUseProgram(m_program);
  if (!checkGLError()) m_bEnabled = true;
}

void CProgram::Disable() {
  if (!m_bInitialised) return;
  clearGLErrors();
  glUseProgram(0);
  if (!checkGLError()) m_bEnabled = false;
}

bool CProgram::activeUniformType(const GLchar* name, GLenum* type) const {
  // By name: an index into the active uniforms is not a location (drivers
  // may list built-in uniforms first).
  GLint count = 0, maxLength = 0;
  glGetProgramiv(m_program, GL_ACTIVE_UNIFORMS, &count);
  glGetProgramiv(m_program, GL_ACTIVE_UNIFORM_MAX_LENGTH, &maxLength);
  std::vector<GLchar> active(maxLength + 1, '\0');
  for (GLint k = 0; k < count; ++k) {
    GLint size = 0;
    glGetActiveUniform(m_program, k, maxLength + 1, nullptr, &size, type, active.data());
    if (uniformNameMatches(active.data(), name)) return glGetError() == GL_NO_ERROR;
  }
  return false;
}

void CProgram::setUniform(const GLchar* name, UniformArgs args, const float* f,
                          const int* i) const {
  clearGLErrors();
  const GLint location = glGetUniformLocation(m_program, name);
  if (glGetError() != GL_NO_ERROR || location == -1) return;
  GLenum type = 0;
  if (!activeUniformType(name, &type)) return;
  const UniformSetter setter = uniformSetter(type, args);
  if (setter.call == UniformCall::Float) {
    // GLEW's entry points are variables set by glewInit: read them per call.
    const PFNGLUNIFORM1FVPROC setFloats[4] = {glUniform1fv, glUniform2fv, glUniform3fv,
                                              glUniform4fv};
    float v[4] = {};
    for (int k = 0; k < setter.count; ++k) v[k] = args == UniformArgs::Ints ? i[k] : f[k];
    setFloats[setter.count - 1](location, 1, v);
  } else if (setter.call == UniformCall::Int) {
    const PFNGLUNIFORM1IVPROC setInts[4] = {glUniform1iv, glUniform2iv, glUniform3iv, glUniform4iv};
    int v[4] = {};
    for (int k = 0; k < setter.count; ++k)
      v[k] = args == UniformArgs::Ints ? i[k] : truncateToInt(f[k]);
    setInts[setter.count - 1](location, 1, v);
  }
}
