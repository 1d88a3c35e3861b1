#include "ModelFiles.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

namespace zolt::modelgen {

namespace {

void append(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

void append(std::string& out, const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0) out.append(line, static_cast<size_t>(n) < sizeof line ? n : sizeof line - 1);
}

}  // namespace

std::string floatText(float value) {
  if (value == 0.0f) return "0";  // also for -0
  char text[32];
  for (int digits = 1; digits <= 9; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
    const float back = std::strtof(text, nullptr);
    if (std::memcmp(&back, &value, sizeof value) == 0) break;
  }
  return text;
}

bool writeTextFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    std::cerr << "[ModelFiles, writeTextFile] Error: cannot write \"" << path << "\"\n";
    return false;
  }
  return true;
}

bool writeNodeFile(const std::string& path, const TetMesh& mesh) {
  std::string text = std::to_string(mesh.vertexCount()) + " 3 0 0\n";
  for (int v = 0; v < mesh.vertexCount(); ++v) {
    const float* p = mesh.position(v);
    text += std::to_string(v + 1) + ' ' + floatText(p[0]) + ' ' + floatText(p[1]) + ' ' +
            floatText(p[2]) + '\n';
  }
  return writeTextFile(path, text);
}

bool writeEleFile(const std::string& path, const TetMesh& mesh) {
  std::string text = std::to_string(mesh.elementCount()) + " 4 1\n";
  for (int e = 0; e < mesh.elementCount(); ++e) {
    const Corners& t = mesh.tets[e];
    append(text, "%d %d %d %d %d %d\n", e + 1, t[0] + 1, t[1] + 1, t[2] + 1, t[3] + 1,
           mesh.masks[e]);
  }
  return writeTextFile(path, text);
}

bool writeParamsFile(const std::string& path, int nElements, int nVertices,
                     const std::vector<int>& fixed, const std::vector<float>& stiffness) {
  std::string text = std::to_string(nElements) + '\n';
  text.reserve(text.size() + 4 * static_cast<size_t>(nElements) + 8 * fixed.size() + 32);
  for (int e = 0; e < nElements; ++e)
    text += stiffness.empty() ? std::string("1 1\n") : floatText(stiffness[e]) + " 1\n";
  text += std::to_string(nVertices) + '\n' + std::to_string(fixed.size()) + '\n';
  for (int v : fixed) text += std::to_string(v) + '\n';
  return writeTextFile(path, text);
}

bool writeSurfaceFile(const std::string& path, const TriangleSurface& surface,
                      const std::vector<std::array<double, 2>>& texCoords) {
  std::string text;
  append(text, "# %zu vertices, %zu triangles\n", surface.vertices.size(),
         surface.triangles.size());
  for (const Vec3& v : surface.vertices) append(text, "v %.6f %.6f %.6f\n", v.x, v.y, v.z);
  for (const auto& t : texCoords) append(text, "vt %.6f %.6f\n", t[0], t[1]);
  for (const auto& t : surface.triangles)
    append(text, "f %d/%d %d/%d %d/%d\n", t[0] + 1, t[0] + 1, t[1] + 1, t[1] + 1, t[2] + 1,
           t[2] + 1);
  return writeTextFile(path, text);
}

}  // namespace zolt::modelgen
