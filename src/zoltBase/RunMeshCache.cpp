#include "Run.h"

// The binary mesh cache comes with preprocessing; until then every load reads the text levels.
bool Run::readMesh(const char* /*path*/) { return false; }
