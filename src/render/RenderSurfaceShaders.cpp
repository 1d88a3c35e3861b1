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

std::string furVertexSource(bool textured, bool shadow) {
  std::string s = std::string(kHeader) + "\n";
  s += "uniform float distance;\n"
       "uniform vec3 gravityVector;\n"
       "uniform float motionInfluence;\n"
       "varying vec3 vPosition;\nvarying vec3 vNormal;\nvarying vec2 vFurTexCoord;\n";
  if (shadow) s += "varying vec4 vShadowCoord;\n";
  if (textured) s += "varying vec2 vTexCoord;\n";
  // The colour attribute carries the position of the previous frame. A
  // move of a unit or more a frame would take log2 of a non-positive value.
  s += "void main() {\n"
       "  vec3 motion = max(gl_Color.xyz - gl_Vertex.xyz + 1.0, 0.01);\n"
       "  vec3 bend = log2(motion) * motionInfluence + gravityVector;\n"
       "  float maxBend = distance * 0.85;\n"
       "  float bendLength = length(bend);\n"
       "  if (bendLength > maxBend) bend *= maxBend / bendLength;\n"
       "  vec4 position = vec4(gl_Vertex.xyz + normalize(gl_Normal) * distance + bend, 1.0);\n"
       "  gl_Position = gl_ModelViewProjectionMatrix * position;\n"
       "  vPosition = (gl_ModelViewMatrix * position).xyz;\n"
       "  vNormal = gl_NormalMatrix * normalize(gl_Normal);\n";
  if (shadow) s += "  vShadowCoord = gl_TextureMatrix[1] * position;\n";
  if (textured) s += "  vTexCoord = gl_MultiTexCoord0.xy;\n";
  return s + "  vFurTexCoord = gl_MultiTexCoord1.xy;\n}\n";
}

std::string furFragmentSource(bool textured, bool shadow) {
  std::string s = std::string(kHeader) + "\n";
  s += "uniform vec4 vColorSpecular;\n"
       "uniform vec3 vLightPos;\n"
       "uniform float ambientScale;\n"
       "uniform sampler2D furTex;\n"
       "varying vec3 vPosition;\nvarying vec3 vNormal;\nvarying vec2 vFurTexCoord;\n";
  if (textured) s += "uniform sampler2D tex;\nvarying vec2 vTexCoord;\n";
  if (shadow)
    s += "uniform sampler2DShadow smap;\nuniform float maxShadow;\nvarying vec4 vShadowCoord;\n";
  s += "void main() {\n";
  if (textured)
    s += "  vec4 modifier = texture2D(tex, vTexCoord);\n"
         "  if (modifier.a < 0.1) discard;\n";
  s += "  vec4 colour = texture2D(furTex, vFurTexCoord);\n";
  s += textured ? "  colour.a *= modifier.a;\n  colour.rgb *= modifier.rgb * 1.2;\n"
                : "  if (colour.a < 0.08) discard;\n";
  s += "  vec3 N = normalize(vNormal);\n"
       "  vec3 L = normalize(vLightPos - vPosition);\n"
       "  float d = dot(N, L);\n";
  if (shadow)
    s += "  float s = shadow2DProj(smap, vShadowCoord).r;\n"
         "  colour *= (1.0 - maxShadow) * min(s, 2.0 * clamp(d, 0.0, 1.0)) + maxShadow;\n";
  s += "  vec3 R = reflect(normalize(vPosition), N);\n"
       "  float spec = d > 0.0 ? clamp(pow(clamp(dot(L, R), 0.0, 1.0), 1.8), 0.0, 1.0) : 0.0;\n";
  if (shadow) s += "  spec *= s;\n";
  s += "  gl_FragColor = colour * (ambientScale + clamp(d, 0.0, 1.0)) +\n"
       "                 vColorSpecular * (1.3 * clamp(spec - 1.2 * spec * spec, 0.0, 1.0) * "
       "colour.a);\n"
       "}\n";
  return s;
}
