#pragma once

#include <cstddef>
#include <vector>

#include "ReadingHistory.h"

// Statistics of one quantity over a span. The standard deviation is the sample one (n - 1);
// a single value has none (0). Fields are NaN when there is no value at all.
struct QuantityStats {
    std::size_t count = 0;
    double mean = 0.0;
    double stddev = 0.0;
    double min = 0.0;
    double max = 0.0;
    double peakToPeak = 0.0;
};

// Pitch and roll are plain numbers. Headings are directions: their mean is the direction of the
// summed unit vectors (359.9 and 0.1 average to 0.0), their spread the standard deviation of
// each heading's signed difference from that mean (-180 to +180), and min, max and
// peak-to-peak are taken over those differences, so a cluster across north reads as one.
// Directions spread evenly around the circle have no mean: then mean and spread are NaN and
// min, max and peak-to-peak are those of the plain values.
QuantityStats LinearStatistics(const std::vector<double>& values);
QuantityStats CircularStatistics(const std::vector<double>& degrees);

struct SpanStatistics {
    std::size_t count = 0;
    double rate = 0.0;  // readings per second between the first and the last; 0 below two
    QuantityStats pitch, roll, heading;
};

// Over the readings [first, last) of the history.
SpanStatistics ComputeStatistics(const ReadingHistory& history, std::size_t first,
                                 std::size_t last);
