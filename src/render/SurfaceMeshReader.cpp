// Text surface files: "v", "vt" and "f" lines (four face forms, triangles
// and quads), several files with their own transforms.

#include <cstdio>
#include <cstring>

#include "SurfaceMesh.h"

namespace {

// One "f" line as read: 1-based, file-local corner values, 0 where absent.
struct FaceRecord {
  int position[4];
  int texCoord[4];  // all 0 for the forms without texture indices
  int line;
};

// Fills rec from the arguments of an "f" line; false when no form matches.
bool parseFace(const char* args, FaceRecord& rec) {
  int f[12] = {0};  // per corner: position, texture, normal
  int* p = f;
  int n = std::sscanf(args, "%d %d %d %d", &p[0], &p[3], &p[6], &p[9]);
  bool ok = n == 3 || n == 4;
  if (!ok) {
    n = std::sscanf(args, "%d/%d %d/%d %d/%d %d/%d", &p[0], &p[1], &p[3], &p[4], &p[6], &p[7],
                    &p[9], &p[10]);
    ok = n == 6 || n == 8;
  }
  if (!ok) {
    n = std::sscanf(args, "%d//%d %d//%d %d//%d %d//%d", &p[0], &p[2], &p[3], &p[5], &p[6], &p[8],
                    &p[9], &p[11]);
    ok = n == 6 || n == 8;
  }
  if (!ok) {
    n = std::sscanf(args, "%d/%d/%d %d/%d/%d %d/%d/%d %d/%d/%d", &p[0], &p[1], &p[2], &p[3], &p[4],
                    &p[5], &p[6], &p[7], &p[8], &p[9], &p[10], &p[11]);
    ok = n == 9 || n == 12;
  }
  if (!ok) return false;
  for (int k = 0; k < 4; ++k) {
    rec.position[k] = f[3 * k];
    rec.texCoord[k] = f[3 * k + 1];
  }
  return true;
}

// A 1-based local value within count entries, as a global index.
bool toIndex(int value, uint32_t count, uint32_t offset, uint32_t& index) {
  if (value < 1 || static_cast<uint32_t>(value) > count) return false;
  index = offset + static_cast<uint32_t>(value) - 1;
  return true;
}

// The reader of one file: appends to the mesh arrays.
class SurfaceFileReader {
 public:
  SurfaceFileReader(SurfaceMesh& m, const float* matrix, const float scale[3],
                    const double centre[3])
      : m_(m), matrix_(matrix), scale_(scale), centre_(centre) {
    positionOffset_ = static_cast<uint32_t>(m.restPositions.size() / 3);
    texCoordOffset_ = static_cast<uint32_t>(m.texCoords.size() / 2);
  }

  bool read(const char* path) {
    std::FILE* file = std::fopen(path, "r");
    if (!file) {
      std::printf("Error: The file %s could not be opened\n", path);
      return false;
    }
    int line = 0;
    while (const char* s = SurfaceMesh::readLine(file, &line)) {
      const char* end = std::strchr(s, ' ');
      const size_t keyLength = end ? static_cast<size_t>(end - s) : std::strlen(s);
      const char* args = s + keyLength;
      while (*args == ' ') ++args;
      keyword(s, keyLength, args, line);
    }
    std::fclose(file);
    addFaces(path);
    return true;
  }

 private:
  void keyword(const char* key, size_t length, const char* args, int line) {
    if (length == 1 && key[0] == 'v') {
      float x = 0.0f, y = 0.0f, z = 0.0f;
      std::sscanf(args, "%f %f %f", &x, &y, &z);
      addPosition(x, y, z);
    } else if (length == 2 && key[0] == 'v' && key[1] == 't') {
      float u = 0.0f, v = 0.0f;
      std::sscanf(args, "%f %f", &u, &v);
      m_.texCoords.push_back(u);
      m_.texCoords.push_back(v);
    } else if (length == 1 && key[0] == 'f') {
      FaceRecord rec;
      rec.line = line;
      if (parseFace(args, rec)) {
        faces_.push_back(rec);
      } else {
        std::printf(" warning: Can't read face entry: %s", args);
        if (!*args || args[std::strlen(args) - 1] != '\n') std::printf("\n");
      }
    }
    // "vn" and anything else: normals always come from the faces.
  }

  void addPosition(float x, float y, float z) {
    if (matrix_) {
      const float* m = matrix_;
      const float tx = m[0] * x + m[1] * y + m[2] * z + m[3];
      const float ty = m[4] * x + m[5] * y + m[6] * z + m[7];
      const float tz = m[8] * x + m[9] * y + m[10] * z + m[11];
      x = tx;
      y = ty;
      z = tz;
    }
    const float p[3] = {x, y, z};
    for (int k = 0; k < 3; ++k)
      m_.restPositions.push_back(
          static_cast<float>(static_cast<double>(scale_[k] * p[k]) - centre_[k]));
  }

  // Faces are checked against this file's counts only once it is read, so
  // a face may name a point of the file that comes after it.
  void addFaces(const char* path) {
    const uint32_t positions = static_cast<uint32_t>(m_.restPositions.size() / 3) - positionOffset_;
    const uint32_t texCoords = static_cast<uint32_t>(m_.texCoords.size() / 2) - texCoordOffset_;
    static const int kCorners[2][3] = {{0, 1, 2}, {2, 3, 0}};
    for (const FaceRecord& rec : faces_) {
      const int triangles = rec.position[3] != 0 ? 2 : 1;
      uint32_t p[4] = {0, 0, 0, 0};
      uint32_t t[4] = {SurfaceMesh::kNoTexCoord, SurfaceMesh::kNoTexCoord, SurfaceMesh::kNoTexCoord,
                       SurfaceMesh::kNoTexCoord};
      bool valid = true;
      for (int k = 0; k < triangles + 2; ++k) {
        valid = valid && toIndex(rec.position[k], positions, positionOffset_, p[k]);
        if (texCoords > 0)
          valid = valid && toIndex(rec.texCoord[k], texCoords, texCoordOffset_, t[k]);
      }
      if (!valid) {
        std::printf(" warning: Face entry in line %d of %s names no point: skipped\n", rec.line,
                    path);
        continue;
      }
      for (int tri = 0; tri < triangles; ++tri) {
        for (int k : kCorners[tri]) {
          m_.indices.push_back(p[k]);
          m_.texCoordIndices.push_back(t[k]);
        }
      }
    }
  }

  SurfaceMesh& m_;
  const float* matrix_;
  const float* scale_;
  const double* centre_;
  uint32_t positionOffset_ = 0, texCoordOffset_ = 0;
  std::vector<FaceRecord> faces_;
};

}  // namespace

const char* SurfaceMesh::readLine(std::FILE* stream, int* lineNumber) {
  static thread_local char buffer[kLineBuffer];
  while (std::fgets(buffer, kLineBuffer, stream)) {
    if (lineNumber) ++*lineNumber;
    const char* s = buffer;
    while (*s == ' ') ++s;
    if (*s != '\0' && *s != '#' && *s != '\n') return s;
  }
  return nullptr;
}

bool SurfaceMesh::readMesh(const char* path, const std::vector<MeshEntry>& surfaces,
                           const float scale[3], const double centre[3]) {
  clearMesh();
  vertexCount = 0;
  if (!path) {
    std::printf("Error: No Filename parameter given.\n");
    return false;
  }
  bool opened = true;
  if (*path) opened = SurfaceFileReader(*this, nullptr, scale, centre).read(path);
  for (size_t i = 0; opened && i < surfaces.size(); ++i)
    opened =
        SurfaceFileReader(*this, surfaces[i].matrix, scale, centre).read(surfaces[i].name.c_str());
  if (!opened) {
    clearMesh();
    return false;
  }
  if (restPositions.empty()) {
    std::printf(" Error: no vertices found.\n");
    clearMesh();
    return false;
  }
  if (texCoords.empty()) textured = 0;
  reindexByTexCoords();
  return true;
}

void SurfaceMesh::reindexByTexCoords() {
  const size_t t = texCoords.size() / 2;
  if (t == 0 || t < restPositions.size() / 3 || texCoordIndices.size() != indices.size()) return;
  for (uint32_t k : texCoordIndices)
    if (k >= t) return;
  std::vector<float> moved(3 * t, 0.0f);
  for (size_t k = 0; k < indices.size(); ++k) {
    const uint32_t to = texCoordIndices[k];
    for (int c = 0; c < 3; ++c) moved[3 * to + c] = restPositions[3 * indices[k] + c];
    indices[k] = to;
  }
  restPositions.swap(moved);
}
