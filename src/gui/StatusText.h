#pragma once
// The one-line status of the control object and the window title that shows
// it, written with bounded formatting: a diverging body (huge maxu) is cut at
// the buffer's end, never written past it.

#include <cstddef>

struct StatusFields {
  bool forcesOn = false;
  float forceValue = 0.0f;
  bool gravityOn = false;
  bool hasSimulation = false;
  double maxDisplacement = 0.0;  // the simulation's largest vertex norm
  bool recordDisplacements = false;
  bool recordEvents = false;
};

// Status text size of the frame loop.
constexpr std::size_t kStatusSize = 128;
// Title text size of the frame loop.
constexpr std::size_t kTitleSize = 512;

// "%1.3e N" or "No Force", " -- Gravity" or " -- No Gravity", with a
// simulation " -- maxu: %1.4f", then " -- REC DISP" and " -- REC EVENTS" when
// recording. Always terminated within size bytes (size > 0).
void formatStatus(char* out, std::size_t size, const StatusFields& f);

// "%s @ %.2f fps -- %s" of title, fps and status, within size bytes.
void formatFpsTitle(char* out, std::size_t size, const char* title, float fps, const char* status);
