#pragma once
// Size and place of the main window on a screen: 1024 x 768 on a screen
// larger than that in each direction (strictly), else 800 x 600, centred.

struct WindowLayout {
  int width, height, x, y;
};

inline WindowLayout windowLayoutForScreen(int screenWidth, int screenHeight) {
  WindowLayout l;
  l.width = screenWidth > 1024 ? 1024 : 800;
  l.height = screenHeight > 768 ? 768 : 600;
  l.x = (screenWidth - l.width) / 2;
  l.y = (screenHeight - l.height) / 2;
  return l;
}
