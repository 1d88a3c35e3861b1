// The keys u and q while the key dispatcher is not part of the program:
// u shows or hides the control panel, q quits. Replaced by the dispatcher's
// keyboard callback, registered through the panel master.

#include <cstdlib>

#include "ControlPanel.h"
#include "PanelGlut.h"

namespace {

void panelKeys(unsigned char key, int, int) {
  if (key == 'q' || key == 'Q') std::exit(0);
  if ((key == 'u' || key == 'U') && controlPanelInstance) controlPanelInstance->togglePanel();
}

}  // namespace

void registerPendingPanelKeys() { panel::setKeyboardFunc(panelKeys); }
