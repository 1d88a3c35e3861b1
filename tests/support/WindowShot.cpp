// Window screenshots straight from the X server (XGetImage), without a
// helper process: what a window shows after a swap.

// clang-format off
#include "GLWindow.h"  // GLEW before the GLX header
#include <GL/glx.h>
// clang-format on

namespace zolt::test {

namespace {

int shiftOf(unsigned long mask) {
  int s = 0;
  while (mask && !(mask & 1)) mask >>= 1, ++s;
  return s;
}

Image windowImage(Display* display, Window window) {
  XWindowAttributes attributes;
  if (!display || !window || !XGetWindowAttributes(display, window, &attributes)) return {};
  XImage* x =
      XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
  if (!x) return {};
  Image img;
  img.width = attributes.width;
  img.height = attributes.height;
  img.rgb.resize(3 * static_cast<size_t>(img.width) * img.height);
  const int rs = shiftOf(x->red_mask), gs = shiftOf(x->green_mask), bs = shiftOf(x->blue_mask);
  for (int y = 0; y < img.height; ++y)
    for (int i = 0; i < img.width; ++i) {
      const unsigned long p = XGetPixel(x, i, y);
      uint8_t* t = &img.rgb[3 * (static_cast<size_t>(y) * img.width + i)];
      t[0] = static_cast<uint8_t>((p & x->red_mask) >> rs);
      t[1] = static_cast<uint8_t>((p & x->green_mask) >> gs);
      t[2] = static_cast<uint8_t>((p & x->blue_mask) >> bs);
    }
  XDestroyImage(x);
  return img;
}

}  // namespace

Image screenshotCurrentWindow() {
  glFinish();
  glXWaitGL();
  return windowImage(glXGetCurrentDisplay(), glXGetCurrentDrawable());
}

Image screenshotWindow(const std::string& display, unsigned long window) {
  Display* d = XOpenDisplay(display.c_str());
  if (!d) return {};
  // A window that went away is a failed shot, not the end of the test.
  const XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  Image img = windowImage(d, window);
  XSetErrorHandler(previous);
  XCloseDisplay(d);
  return img;
}

}  // namespace zolt::test
