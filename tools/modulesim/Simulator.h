#pragma once

#include "Options.h"

namespace modulesim {

// Serves the module on a fresh pseudo-terminal until a signal, the end of --duration, the device
// vanishing or the end of the --run command. Returns the process exit status.
int RunSimulator(const Options& options);

}  // namespace modulesim
