// The control object's dragging force, key actions and recording while the
// mouse, key and recording code are not part of the program: no drag is
// ever pending, no action does anything and nothing is recorded or
// replayed. Replaced by the definitions next to that code.

#include "ZoltControl.h"

void ZoltControl::zoltReact(int, int) {}
void ZoltControl::handleControl(int) {}
void controlCallback(int) {}
