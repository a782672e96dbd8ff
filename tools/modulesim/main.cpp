#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "Options.h"
#include "Replay.h"
#include "Simulator.h"
#include "StandardDescriptors.h"
#include "TorvaVersion.h"

int main(int argc, char** argv) {
    // Before the pseudo-terminal is made: it must not take the number of a closed standard
    // output, or the device path printed "to standard output" would go into the device.
    const auto closed = TakeClosedStandardDescriptors();
    if (!closed) {
        std::perror("torva-sim: /dev/null");
        return 1;
    }
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = modulesim::ParseOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "torva-sim: %s\nTry 'torva-sim --help'.\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(modulesim::UsageText().c_str(), stdout);
        return 0;
    }
    if (options->version) {
        PrintTorvaVersion("torva-sim");
        return 0;
    }
    if ((*closed)[STDOUT_FILENO] && options->run.empty()) {
        std::fprintf(stderr,
                     "torva-sim: standard output is closed: the device path cannot be printed\n");
        return 1;
    }
    modulesim::ReplayScript replay;
    if (!options->replay.empty()) {
        if (!modulesim::LoadRecord(options->replay, replay, error)) {
            std::fprintf(stderr, "torva-sim: %s\n", error.c_str());
            return 2;
        }
        // Say what is left out, enough to find it, without flooding the terminal.
        constexpr std::size_t kListed = 20;
        for (std::size_t i = 0; i < replay.skipped.size() && i < kListed; ++i)
            std::fprintf(stderr, "torva-sim: replay %s\n", replay.skipped[i].c_str());
        if (replay.skipped.size() > kListed)
            std::fprintf(stderr, "torva-sim: replay: %zu more left out\n",
                         replay.skipped.size() - kListed);
        std::fprintf(stderr, "torva-sim: replay %s: %zu reading frames, %zu left out\n",
                     options->replay.c_str(), replay.frames.size(), replay.skipped.size());
    }
    return modulesim::RunSimulator(*options, std::move(replay.frames));
}
