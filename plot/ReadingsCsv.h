#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "ReadingHistory.h"

// The system clock minus the steady clock, in nanoseconds: adds to a history time to give the
// wall-clock time of a reading.
std::int64_t WallClockOffsetNs();

// Local wall-clock time of a moment given in nanoseconds since the epoch, with milliseconds:
// "2026-12-07 09:05:33.201".
std::string LocalTimeText(std::int64_t epochNs);

// Degrees with two decimals, the module's resolution: "-12.34".
std::string DegreesText(double degrees);

// "time,pitch,roll,heading" and one row per reading [first, last), with the time and number
// formats of torva-decode's CSV, handed to `write` some kilobytes at a time. False as soon as
// `write` returns false.
bool WriteReadingsCsv(const std::function<bool(std::string_view)>& write,
                      const ReadingHistory& history, std::size_t first, std::size_t last,
                      std::int64_t wallOffsetNs);
