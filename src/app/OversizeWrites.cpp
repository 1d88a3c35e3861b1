// Apart from the rest of the start-up: the converters call it too, without
// the model code.
#include <csignal>

#include "Startup.h"

void refuseOversizeWrites() { std::signal(SIGXFSZ, SIG_IGN); }
