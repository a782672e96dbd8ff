#pragma once

#include <cstddef>
#include <vector>

// Tilt check: the heading held while the module is tilted through pitch and roll. Each reading
// gives the tilt (the angle between the module and level, from pitch and roll) and the heading's
// change from the level reference; the changes are judged band by band, 10 degrees of tilt a
// band.

// The angle between the module's vertical and the true vertical, degrees, 0 to 180.
double TiltAngle(double pitchDegrees, double rollDegrees);

struct TiltSample {
    double tilt = 0.0;    // degrees
    double change = 0.0;  // heading minus the reference, (-180, 180]
};

struct TiltBand {
    double from = 0.0, to = 0.0;  // tilt, degrees
    std::size_t count = 0;
    double largest = 0.0;  // the change of largest magnitude, signed
    bool pass = false;
};

struct TiltResult {
    std::vector<TiltBand> bands;  // those holding readings, from level up
    bool pass = false;            // every band within the tolerance
    // The tilt up to which every band from level is within the tolerance.
    double passesUpTo = 0.0;
    double largestTilt = 0.0;
    double perTenDegrees = 0.0;  // least-squares slope of |change| on tilt, per 10 degrees
};

TiltResult AnalyseTilt(const std::vector<TiltSample>& samples, double tolerance,
                       double bandDegrees = 10.0);
