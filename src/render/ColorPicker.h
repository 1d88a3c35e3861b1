#pragma once
// The colour picker: a GLUT subwindow of the main window with a hue field
// (six columns of hue ramps, full saturation at the top fading to grey at
// the bottom, scaled by the brightness) and a brightness column. A picked
// colour is written straight into the edited float[3], and the callback is
// called with its id after every change. One picker per process: all state
// is process-wide. Main (GLUT) thread only.

class ColorPicker {
 public:
  static constexpr int kFieldWidth = 896, kFieldHeight = 256, kBorder = 5;
  static constexpr int kColumnWidth = 128;
  static constexpr int kWidth = kFieldWidth + 2 * kBorder, kHeight = kFieldHeight + 2 * kBorder;

  // The hidden subwindow of parentWindow; the parent stays current.
  ColorPicker(int parentWindow, int callbackId, void (*callback)(int));

  // Shows the picker centred on (x, y) of the parent for colour (not owned;
  // written on every pick until the picker closes).
  void open(int x, int y, float* colour);
  static void close();
  static void destroyWindow();

  // The field cell of a colour and its brightness (its largest component).
  // Black gives the middle of column 3; a grey the bottom row.
  static float cellOfColour(const float* rgb, int* x, int* y);
  // cellOfColour that also sets the picker's brightness.
  static void colorToPosition(const float* rgb, int* x, int* y);

  // GLUT callbacks of the subwindow.
  static void drawField(bool);
  static void display();
  static void pick(int button, int state, int x, int y);
  static void preview(int x, int y);
  static void keyboard(unsigned char key, int x, int y);

  static bool isActive();
  static float brightness();
  static int window();
};
