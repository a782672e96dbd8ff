#pragma once

#include <vector>

#include "Options.h"
#include "Wire.h"

namespace modulesim {

// Serves the module on a fresh pseudo-terminal until a signal, the end of --duration, the device
// vanishing or the end of the --run command, streaming `replay` (reading frames) from the start.
// Returns the process exit status.
int RunSimulator(const Options& options, std::vector<Bytes> replay = {});

}  // namespace modulesim
