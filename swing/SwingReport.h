#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "DeviationFit.h"

// One stop as the swing took it: its place in the schedule, its reference and the compass over
// the dwell.
struct TakenStop {
    int number = 0;               // 1 for the schedule's first stop
    double reference = 0.0;       // magnetic heading, degrees [0, 360)
    bool typedReference = false;  // typed by the operator (sighted, GNSS) rather than scheduled
    double compass = 0.0;         // circular mean over the dwell
    double spread = 0.0;          // standard deviation over the dwell
    double farthest = 0.0;        // the largest distance of a reading from that mean
    std::size_t readings = 0;
    bool steady = false;  // steady over the whole dwell when taken
    double pitch = 0.0, roll = 0.0;
    std::string when;  // local time of the take, "2026-12-09 10:15:02"
};

std::vector<SwingStop> StopsOf(const std::vector<TakenStop>& taken);

// Degrees with `decimals` decimals, with a point whatever the locale, and never "-0.00".
std::string FixedText(double value, int decimals = 2);
// A deviation with its sign and side: "+1.25 E", "-0.40 W", "0.00".
std::string DeviationText(double value, int decimals = 1);

// The swing as CSV: a block of stops, one of coefficients and one of the card, each under a
// header row of its own and separated by an empty line, after comment lines ("# ...") that state
// the sign convention, the tolerance and the verdict.
std::string SwingCsv(const std::vector<TakenStop>& stops, const DeviationFit& fit,
                     const std::vector<CardEntry>& card, const SwingVerdict& verdict,
                     double tolerance, const std::string& when);

// The convention, said once for the window, the CSV and the card.
inline constexpr const char* kDeviationConvention =
    "deviation = magnetic (reference) - compass, easterly positive; "
    "magnetic = compass + deviation";
