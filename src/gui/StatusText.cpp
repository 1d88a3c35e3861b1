#include "StatusText.h"

#include <cmath>
#include <cstdio>

void formatStatus(char* out, std::size_t size, const StatusFields& f) {
  if (size == 0) return;
  char force[32] = "No Force";
  if (f.forcesOn) std::snprintf(force, sizeof force, "%1.3e N", static_cast<double>(f.forceValue));
  // A diverging body prints hundreds of digits here; the part is cut to the
  // status size like the whole line.
  char maxu[kStatusSize] = "";
  // A NaN of either sign reads "nan", never a number.
  if (f.hasSimulation && std::isnan(f.maxDisplacement))
    std::snprintf(maxu, sizeof maxu, " -- maxu: nan");
  else if (f.hasSimulation)
    std::snprintf(maxu, sizeof maxu, " -- maxu: %1.4f", f.maxDisplacement);
  std::snprintf(out, size, "%s%s%s%s%s", force, f.gravityOn ? " -- Gravity" : " -- No Gravity",
                maxu, f.recordDisplacements ? " -- REC DISP" : "",
                f.recordEvents ? " -- REC EVENTS" : "");
}

void formatFpsTitle(char* out, std::size_t size, const char* title, float fps, const char* status) {
  if (size == 0) return;
  std::snprintf(out, size, "%s @ %.2f fps -- %s", title, static_cast<double>(fps), status);
}
