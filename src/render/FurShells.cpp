#include "FurShells.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

FurRandom furRandom(uint32_t seed) {
  auto engine = std::make_shared<std::mt19937>(seed);
  // 24 random bits: exactly representable, below 1.
  return [engine] { return float((*engine)() >> 8) * (1.0f / 16777216.0f); };
}

float furLayerShade(uint32_t layer, uint32_t layers) {
  if (layers < 2) return 1.0f;
  const float x = std::max(1.0f - 2.0f * float(layer) / float(layers - 1), 0.0f);
  return 1.0f - 0.7f * std::pow(x, 1.5f);
}

void furTexelColumn(uint32_t layers, bool colourFromTexture, const FurRandom& random, float* out) {
  float base[4] = {0.0f, 1.0f, 1.0f, 1.0f};
  if (!colourFromTexture) {
    base[2] = 0.6f + 0.2f * random();
    base[3] = 0.2f + 0.3f * random();
  }
  const float u = random();
  const float brightness = u >= 0.15f ? 0.7f + 0.3f * random() : 0.2f + 0.2f * random();
  for (float& c : base) c *= brightness;
  for (uint32_t i = 0; i < layers; ++i)
    for (int c = 0; c < 4; ++c) out[4 * i + c] = base[c] * furLayerShade(i, layers);
  const float v = random();
  const uint32_t height = static_cast<uint32_t>(float(layers) * v * v * v);
  const uint32_t n = std::max<uint32_t>(std::min(height + 1, layers), 1);
  for (uint32_t j = 0; j < n && j < layers; ++j) {
    const float top = std::max(2.0f * float(j + 1) / float(n) - 1.0f, 0.0f);
    out[4 * j] = 1.0f - 0.85f * top * top;
  }
}

uint32_t packFurTexel(const float* argb) {
  uint32_t word = 0;
  for (int c = 0; c < 4; ++c) word = word << 8 | static_cast<uint32_t>(argb[c] * 255.0f);
  return word;
}

std::vector<uint32_t> furLayerTexels(uint32_t size, uint32_t layers, bool colourFromTexture,
                                     const FurRandom& random) {
  const size_t texels = size_t(size) * size;
  std::vector<uint32_t> words(texels * layers);
  std::vector<float> column(4 * size_t(layers));
  for (uint32_t x = 0; x < size && layers > 0; ++x)
    for (uint32_t y = 0; y < size; ++y) {
      furTexelColumn(layers, colourFromTexture, random, column.data());
      for (uint32_t l = 0; l < layers; ++l)
        words[l * texels + size_t(y) * size + x] = packFurTexel(&column[4 * l]);
    }
  return words;
}

FurShell furShell(uint32_t k, uint32_t layers, float furLength, const float gravity[3]) {
  FurShell s;
  const float t = float(k) / float(layers);
  s.distance = t * furLength;
  for (int c = 0; c < 3; ++c) s.gravity[c] = s.distance * s.distance * 0.375f * gravity[c];
  s.motionInfluence = 3.0f * t * t;
  s.layerTexture = static_cast<uint32_t>(std::min(t, 0.9999f) * float(layers));
  return s;
}

bool FurParameters::addLayer() {
  if (layerCount >= kMaxLayers) return false;
  ++layerCount;
  return true;
}

bool FurParameters::removeLayer() {
  if (layerCount == 0) return false;
  --layerCount;
  return true;
}

void FurParameters::scaleLength(float factor) {
  furLength = std::min(furLength * factor, kMaxLength);
}
