#pragma once
// The head-up layer of a frame as data: which texts show, and whether the
// frame is saved. Drawn by the scene pass in device coordinates.

// The texts, as shown on screen.
inline constexpr char kMaxFpsText[] = "MAX FPS";
inline constexpr char kThrottledFpsText[] = "Throttled FPS";
inline constexpr char kControlsHintText[] = "Press [u] to show controls";
inline constexpr char kRecordingText[] = "REC FRAMES";
inline constexpr char kLoadingText[] = "... Loading Model ... ";
inline constexpr char kSelectModelText[] = "Select a Model";

// Movie frames are recorded only at this window size.
constexpr int kMovieWidth = 720;
constexpr int kMovieHeight = 576;

struct HudPlan {
  const char* fpsLabel = nullptr;  // at (-0.95, 0.95); null while recording or saving
  bool controlsHint = false;       // at (0.7, 0.95)
  bool clearSaveRequest = false;   // a screenshot request is served once
  bool drawSprite = false;         // the pointer sprite, before saving
  bool saveFrame = false;          // the frame so far goes to a numbered BMP
  bool recordingLabel = false;     // at (-0.95, 0.95), after saving
};

// A screenshot request (saveFrames) or movie recording (recordFrames)
// replaces the frame-rate text; a movie frame is saved only from a window of
// the movie size, and without one neither the frame nor the label appear.
HudPlan planHud(bool recordFrames, bool saveFrames, bool maxFps, bool panelAutoHide,
                bool showPointerSprite, int width, int height);

// The text shown while no model is drawn.
inline const char* noModelText(bool modelLoaded) {
  return modelLoaded ? kLoadingText : kSelectModelText;
}

// Pointer position in window pixels (y downward) to device coordinates.
void pointerToDevice(int px, int py, int width, int height, float* x, float* y);

// Raster x in device units that centres a text textWidth pixels wide on x.
// Half widths are whole pixels, as the bitmap fonts place them.
float centredTextX(float x, int textWidth, int windowWidth);
