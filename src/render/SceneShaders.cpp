#include "SceneShaders.h"

namespace {

const char* const kPragmas = "#pragma optimize(on)\n#pragma debug(off)\n";

}  // namespace

ShaderSources depthShaderSources() {
  return {"void main() { gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex; }\n",
          "void main() {\n"
          "  gl_FragColor = vec4(0.0);\n"
          "  gl_FragDepth = gl_FragCoord.z;\n"
          "}\n"};
}

ShaderSources surfaceShaderSources(bool textured, bool shadow, bool skin) {
  std::string v = kPragmas;
  v += "void main() {\n"
       "  gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;\n"
       "  gl_ClipVertex = gl_ModelViewMatrix * gl_Vertex;\n"
       "  gl_TexCoord[0].xyz = (gl_ModelViewMatrix * gl_Vertex).xyz;\n"
       "  gl_TexCoord[1].xyz = gl_NormalMatrix * normalize(gl_Normal);\n"
       "  gl_TexCoord[2].xyz = gl_Color.rgb;\n";
  if (shadow) v += "  gl_TexCoord[4] = gl_TextureMatrix[1] * gl_Vertex;\n";
  if (textured) v += "  gl_TexCoord[3].xy = gl_MultiTexCoord0.xy;\n";
  v += "}\n";

  std::string f = kPragmas;
  f += "uniform vec3 vLightPos;\nuniform float ambientScale;\n";
  if (textured) f += "uniform sampler2D tex;\n";
  if (shadow) f += "uniform sampler2DShadow smap;\nuniform float maxShadow;\n";
  if (skin) f += "uniform sampler1D sSkinLUT;\n";
  f += "void main() {\n"
       "  vec3 vPosition = gl_TexCoord[0].xyz;\n"
       "  vec3 vColor = gl_TexCoord[2].xyz;\n";
  f += textured ? "  vec4 cDiffuse = texture2D(tex, gl_TexCoord[3].xy);\n"
                  "  cDiffuse.rgb *= vColor;\n"
                : "  vec4 cDiffuse = vec4(vColor, 1.0);\n";
  f += "  vec3 N = normalize(gl_TexCoord[1].xyz);\n"
       "  vec3 L = normalize(vLightPos - vPosition);\n"
       "  float fDiffuse = dot(N, L);\n"
       "  vec3 R = reflect(normalize(vPosition), N);\n";
  if (shadow)
    f += "  float shadowScale = shadow2DProj(smap, gl_TexCoord[4]).r;\n"
         "  float fShadow = (1.0 - maxShadow) * min(shadowScale, 2.0 * clamp(fDiffuse, 0.0, 1.0))"
         " + maxShadow;\n";
  if (!skin) {
    if (shadow) f += "  cDiffuse *= fShadow;\n";
    f += "  float fSpecular = fDiffuse > 0.0\n"
         "      ? clamp(pow(clamp(dot(L, R), 0.0, 1.0), gl_FrontMaterial.shininess), 0.0, 1.0)\n"
         "      : 0.0;\n";
    if (shadow) f += "  fSpecular *= shadowScale;\n";
    f += "  gl_FragColor = cDiffuse * (ambientScale + clamp(fDiffuse, 0.0, 1.0))\n"
         "      + gl_FrontMaterial.specular * fSpecular;\n";
  } else {
    f += "  float NdotV = clamp(dot(-vPosition, N), -1.0, 1.0);\n"
         "  float hSpec = pow(clamp(dot(R, L), 0.0, 1.0), 4.0);\n"
         "  vec3 vDiffuse = 0.0 * cDiffuse.rgb * (0.8 * fDiffuse + 0.2)\n"
         "      + 1.0 * texture1D(sSkinLUT, 0.5 * fDiffuse + 0.45).rgb;\n"
         "  vec3 vSideSpec = texture1D(sSkinLUT, 0.5 * hSpec + 0.5).rgb;\n"
         "  float rim = 1.0 - NdotV;\n"
         "  vec3 vHilight = texture1D(sSkinLUT, 0.9 * rim * rim * rim).rgb;\n";
    f += shadow ? "  vec3 hShadow = mix(vec3(0.4, 0.2, 0.1), vec3(1.0), fShadow);\n"
                : "  vec3 hShadow = vec3(1.0);\n";
    f += "  gl_FragColor = vec4(0.8 * hShadow * vDiffuse + 0.25 * vSideSpec * rim\n"
         "      + 0.15 * vHilight + 0.1 * hShadow * hSpec, cDiffuse.a);\n";
  }
  f += "}\n";
  return {v, f};
}
