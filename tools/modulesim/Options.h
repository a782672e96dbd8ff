#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Module.h"

namespace modulesim {

struct Options {
    int address = 0;
    bool autoOutput = false;
    double rate = 10.0;                 // automatic-output and replay frames per second
    std::optional<long long> frames;    // automatic-output frames to send in all
    std::optional<double> duration;     // seconds until the simulator ends
    std::optional<double> vanishAfter;  // seconds until the device disappears
    std::optional<double> replugAfter;  // seconds until the device goes away for a while
    double replugDown = 1.0;            // seconds it stays away before it comes back
    std::optional<int> speed;           // the module's line speed; any speed when not given
    bool garbageOnMismatch = false;     // a few garbage bytes for bytes at a wrong speed
    std::string link;                   // a symbolic link kept pointing at the device
    bool fail = false;
    unsigned calError = 0;   // CalStep bits
    unsigned calSilent = 0;  // CalStep bits
    std::string replay;      // record file to play, empty for none
    bool loop = false;       // start the record over at its end
    bool ackAll = false;
    bool badChecksum = false;
    bool noise = false;
    bool split = false;
    double splitGapMs = 2.0;
    double delayMs = 0.0;  // from a request's arrival to its answer
    bool silent = false;
    bool stats = false;
    bool verbose = false;
    std::uint32_t seed = 1;
    std::optional<Reading> fixed;
    std::optional<Turntable> turntable;
    std::optional<double> hold;
    std::optional<Deviation> deviation;
    double tiltError = 0.0;
    std::vector<std::string> run;  // command and its arguments, empty when not running one
    bool help = false;
    bool version = false;
};

// Parses the command line; on failure returns nothing and sets `error`.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

std::string UsageText();

}  // namespace modulesim
