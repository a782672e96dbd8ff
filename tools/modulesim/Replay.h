#pragma once

#include <istream>
#include <string>
#include <vector>

#include "Wire.h"

namespace modulesim {

// The reading frames of a record file, in file order, and what was left out.
struct ReplayScript {
    std::vector<Bytes> frames;
    std::vector<std::string> skipped;  // "line N: why", one per line or piece left out
};

// Reads a record file: a "Date:" header, lines of hex bytes (two digits and a blank per byte,
// CR LF or LF), an "End Date:" line. A line holds a frame at its end, possibly after rejected
// pieces (bytes the receiver refused before the frame began); a line of pieces alone holds none.
// Kept are whole reading frames: start 68, length 0D matching the line, command 84, good checksum.
ReplayScript ParseRecord(std::istream& in);

// Opens and parses `path`; false with `error` set when it cannot be read or holds no reading.
bool LoadRecord(const std::string& path, ReplayScript& script, std::string& error);

}  // namespace modulesim
