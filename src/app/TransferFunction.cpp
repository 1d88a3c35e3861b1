#include <cmath>
#include <sstream>

#include "ConverterIO.h"
#include "Converters.h"

bool convertTransferFunction(const std::string& inPath, const std::string& outPath,
                             const bool channels[4], float min, float max) {
  static const char kMethod[] = "convertTransferFunction";
  const float kByte = 0.003921569f;  // 1 / 255
  zolt::tools::TextInput in(kMethod, inPath);
  if (!in.open()) return false;
  int bytes[256][4];
  for (int i = 0; i < 256; ++i)
    for (int c = 0; c < 4; ++c) {
      if (!in.read(bytes[i][c], "line", i)) return false;
      if (bytes[i][c] < 0 || bytes[i][c] > 255)
        return in.bad("line", i, "value " + std::to_string(bytes[i][c]) + " outside 0..255");
    }

  const float step = (max - min) * kByte;
  // Bounds that far apart overflow the ramp.
  for (int i = 0; i < 256; ++i)
    if (!std::isfinite(min + i * step)) {
      std::ostringstream what;
      what << "min " << min << " and max " << max << " give a ramp that is not finite";
      return zolt::tools::fail(kMethod, inPath, what.str());
    }
  std::ostringstream out;
  for (int i = 0; i < 256; ++i) {
    out << min + i * step << " ";
    for (int c = 0; c < 4; ++c)
      if (channels[c]) out << bytes[i][c] * kByte << " ";
    out << "\n";
  }
  return zolt::tools::writeTextFile(kMethod, outPath, out);
}
