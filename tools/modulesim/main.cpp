#include <cstdio>
#include <string>
#include <vector>

#include "Options.h"
#include "Simulator.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = modulesim::ParseOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "modulesim: %s\n%s", error.c_str(), modulesim::UsageText().c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(modulesim::UsageText().c_str(), stdout);
        return 0;
    }
    return modulesim::RunSimulator(*options);
}
