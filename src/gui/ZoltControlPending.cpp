// The control object's dragging force and ".path" recording while the mouse
// and recording code are not part of the program: no drag is ever pending
// and nothing is recorded or replayed. Replaced by the definitions next to
// that code.

#include "ZoltControl.h"

void ZoltControl::zoltReact(int, int) {}
void ZoltControl::updatePath() {}
