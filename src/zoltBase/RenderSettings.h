#pragma once
// Render options of one model, read from its configuration file. Embedded in
// the scene object; the control object, the drawable and the surface and
// volume renderers keep a pointer to it without owning it.

#include <cstdint>
#include <string>
#include <vector>

class Barrier;

// A MESH entry of the configuration: a model name (or, in
// RenderSettings::surfaces, a render-surface path) and a 4 x 4 transform
// stored row by row.
struct MeshEntry {
  std::string name;
  float matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

struct RenderSettings {
  std::string basePath;  // models directory + model name
  std::string volumeCachePath;
  std::string surfaceCachePath;
  float colour[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  float specularColour[4] = {0.2f, 0.2f, 0.2f, 1.0f};
  float accentColour[4] = {1.0f, 0.0f, 0.0f, 1.0f};  // full magnitude when colouring by one
  float extraColour[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  int shininess = 80;
  std::string texturePath;
  uint8_t drawSurface = 0;
  std::string surfacePath;
  std::string volumePath;
  std::string volumeTexturePath;
  std::string transferFunctionPath;
  float surfaceScale = 1.0f;
  uint8_t volumeTexture3D = 0;
  uint8_t volumeLogScalars = 0;
  uint8_t volumeInvScalars = 0;
  int volumeSamples[3] = {0, 0, 0};
  float volumeBounds[6] = {0, 0, 0, 0, 0, 0};
  float scale[3] = {1.0f, 1.0f, 1.0f};
  double centre[3] = {0.0, 0.0, 0.0};  // centre of gravity subtracted from the mesh
  int texCoordMode = 0;                // 0 spherical, 1 by dominant normal axis, 2 planar
  float texCoordScale = 8.0f;
  std::vector<MeshEntry> surfaces;  // one render surface per MESH entry
  Barrier* barrier = nullptr;       // the settings block's barrier; not owned
  uint8_t swapXY = 0;               // exchange the first two components of configured vectors
  float surfaceWeighting = 2.0f;
};
