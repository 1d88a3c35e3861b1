#include "RenderSurfaceShaders.h"

namespace {

const char* kHeader = "#pragma optimize(on)\n#pragma debug(off)\n";

}  // namespace

std::string surfaceVertexSource(bool textured, bool shadow) {
  std::string s = kHeader;
  s += "varying vec3 vPosition;\nvarying vec3 vNormal;\n";
  if (shadow) s += "varying vec4 vShadowCoord;\n";
  if (textured) s += "varying vec2 vTexCoord;\n";
  s += "void main() {\n"
       "  gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;\n"
       "  vPosition = (gl_ModelViewMatrix * gl_Vertex).xyz;\n"
       "  vNormal = gl_NormalMatrix * normalize(gl_Normal);\n";
  if (shadow) s += "  vShadowCoord = gl_TextureMatrix[1] * gl_Vertex;\n";
  if (textured) s += "  vTexCoord = gl_MultiTexCoord0.xy;\n";
  return s + "}\n";
}

std::string surfaceFragmentSource(bool textured, bool shadow) {
  std::string s = kHeader;
  s += "uniform vec4 vColorDiffuse;\n"
       "uniform vec4 vColorSpecular;\n"
       "uniform vec3 vLightPos;\n"
       "uniform float ambientScale;\n"
       "varying vec3 vPosition;\n"
       "varying vec3 vNormal;\n";
  if (textured) s += "uniform sampler2D tex;\nvarying vec2 vTexCoord;\n";
  if (shadow)
    s += "uniform sampler2DShadow smap;\nuniform float maxShadow;\nvarying vec4 vShadowCoord;\n";
  s += "void main() {\n";
  s += textured ? "  vec4 base = texture2D(tex, vTexCoord);\n" : "  vec4 base = vColorDiffuse;\n";
  s += "  vec3 N = normalize(vNormal);\n"
       "  vec3 L = normalize(vLightPos - vPosition);\n"
       "  float d = dot(N, L);\n";
  // The depth comparison lands in r: with luminance depth textures a is 1.
  if (shadow)
    s += "  float s = shadow2DProj(smap, vShadowCoord).r;\n"
         "  base *= (1.0 - maxShadow) * min(s, 2.0 * clamp(d, 0.0, 1.0)) + maxShadow;\n";
  s += "  vec3 R = reflect(normalize(vPosition), N);\n"
       "  float specular = d > 0.0 ? clamp(pow(clamp(dot(L, R), 0.0, 1.0), 32.0), 0.0, 1.0) : "
       "0.0;\n";
  if (shadow) s += "  specular *= s;\n";
  s += "  gl_FragColor = base * (ambientScale + clamp(d, 0.0, 1.0)) + vColorSpecular * specular;\n"
       "}\n";
  return s;
}
