#pragma once
// Writers of the text files of a model: mesh level (.node / .ele),
// parameter file (.params), render surface (v / vt / f lines) and any other
// text. Each returns false after a one-line message on standard error when
// the file cannot be written.

#include <array>
#include <string>
#include <vector>

#include "SurfaceExtraction.h"
#include "TetMesh.h"

namespace zolt::modelgen {

// The shortest decimal text that reads back as exactly the same float.
std::string floatText(float value);

// Header "n 3 0 0", then "i x y z" per vertex (i from 1).
bool writeNodeFile(const std::string& path, const TetMesh& mesh);
// Header "n 4 1", then "i a b c d mask" per element (i and corners from 1).
bool writeEleFile(const std::string& path, const TetMesh& mesh);
// Stiffness and density factor for each of nElements finest elements (the
// stiffness from `stiffness` when it is not empty, else 1; density 1), the
// finest vertex count, then the fixed finest vertex numbers (0-based).
bool writeParamsFile(const std::string& path, int nElements, int nVertices,
                     const std::vector<int>& fixed, const std::vector<float>& stiffness = {});
// "v x y z" and "vt u v" per vertex (one texture coordinate per vertex),
// then "f a/a b/b c/c" per triangle.
bool writeSurfaceFile(const std::string& path, const TriangleSurface& surface,
                      const std::vector<std::array<double, 2>>& texCoords);
bool writeTextFile(const std::string& path, const std::string& text);

}  // namespace zolt::modelgen
