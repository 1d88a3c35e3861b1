// Uniform setters of CProgram. A program that failed to build ignores them;
// on a built one they are called between Enable and Disable.

inline void CProgram::SetUniformVector(const GLchar* name, const float* values) const {
  if (!m_bInitialised) return;
  ZOLT_ASSERT(m_bEnabled);
  setUniform(name, UniformArgs::FloatArray, values, nullptr);
}

inline void CProgram::SetUniformVector(const GLchar* name, int a, int b, int c, int d) const {
  if (!m_bInitialised) return;
  ZOLT_ASSERT(m_bEnabled);
  const int values[4] = {a, b, c, d};
  setUniform(name, UniformArgs::Ints, nullptr, values);
}

inline void CProgram::SetUniformVector(const GLchar* name, float a, float b, float c,
                                       float d) const {
  if (!m_bInitialised) return;
  ZOLT_ASSERT(m_bEnabled);
  const float values[4] = {a, b, c, d};
  setUniform(name, UniformArgs::Floats, values, nullptr);
}
