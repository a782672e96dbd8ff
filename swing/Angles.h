#pragma once

#include <cmath>

// Angles in degrees on the compass circle.

// Into [0, 360); what rounds to 360 is 0.
inline double WrapHeading(double degrees) {
    double d = std::fmod(degrees, 360.0);
    if (d < 0.0)
        d += 360.0;
    return d >= 360.0 - 1e-9 ? 0.0 : d;
}

// Into (-180, 180].
inline double WrapSigned(double degrees) {
    double d = std::fmod(degrees, 360.0);
    if (d > 180.0)
        d -= 360.0;
    else if (d <= -180.0)
        d += 360.0;
    return d;
}

// How far apart two headings are around the circle, 0 to 180.
inline double HeadingDistance(double a, double b) {
    return std::fabs(WrapSigned(a - b));
}
