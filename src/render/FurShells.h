#pragma once
// The processor side of fur shells: the random strand texels of the layer
// textures, the per-shell parameters and the fur adjustments. No GL.

#include <cstdint>
#include <functional>
#include <vector>

// Uniform numbers in [0, 1), drawn in a fixed order by the texel generator.
using FurRandom = std::function<float()>;

// The generator behind FurRandom for a seed (the program seeds with the time).
FurRandom furRandom(uint32_t seed);

// Brightness of layer i of L: the inner half darkens towards the root; one
// layer keeps full brightness.
float furLayerShade(uint32_t layer, uint32_t layers);

// One texel position through all L layers: (alpha, r, g, b) per layer into
// out[4 L], drawing base colour, brightness and strand height from random.
// colourFromTexture: the surface texture colours the fur (base white).
void furTexelColumn(uint32_t layers, bool colourFromTexture, const FurRandom& random, float* out);

// (alpha, r, g, b) in [0, 1] as one word, alpha in the top byte.
uint32_t packFurTexel(const float* argb);

// The packed texels of L square layers of edge size: layer l holds
// size x size words, column by column as the generator draws them. Empty
// for L = 0.
std::vector<uint32_t> furLayerTexels(uint32_t size, uint32_t layers, bool colourFromTexture,
                                     const FurRandom& random);

// Shell k (1..L) of L: its distance along the normal, gravity bend, motion
// influence and layer texture.
struct FurShell {
  float distance;
  float gravity[3];
  float motionInfluence;
  uint32_t layerTexture;
};
FurShell furShell(uint32_t k, uint32_t layers, float furLength, const float gravity[3]);

// Layer count and length with their limits; the layer calls say whether the
// count changed (the layer textures must then be made again).
struct FurParameters {
  static constexpr uint32_t kMaxLayers = 50;
  static constexpr float kMaxLength = 0.4f;
  uint32_t layerCount = 16;
  float furLength = 0.1f;

  bool addLayer();
  bool removeLayer();
  void scaleLength(float factor);
};
