#pragma once
// GLSL 1.10 sources of the scene pass: the depth-only program of the shadow
// map and the surface program in its eight variants (textured, shadowed,
// skin-shaded). Interpolated values travel in texture-coordinate slots:
// 0 eye position, 1 normal, 2 colour, 3 texture coordinate, 4 shadow
// coordinate.
//
// Surface uniforms: "vLightPos" (eye coordinates), "ambientScale"; "tex"
// (unit 0) when textured; "smap" (unit 1) and "maxShadow" with shadows;
// "sSkinLUT" (unit 2) with skin shading. The shadow factor is the depth
// comparison's .r: 1 lit, 0 shadowed.

#include <string>

struct ShaderSources {
  std::string vertex;
  std::string fragment;
};

ShaderSources depthShaderSources();
ShaderSources surfaceShaderSources(bool textured, bool shadow, bool skin);
