#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Compass deviation and its five classic coefficients. The deviation at a stop is the magnetic
// (reference) heading minus the compass heading, wrapped to (-180, 180]: easterly deviation is
// positive, and magnetic = compass + deviation. As a function of the compass heading phi:
//   deviation = A + B sin(phi) + C cos(phi) + D sin(2 phi) + E cos(2 phi)
// A is the constant part, B and C the semicircular, D and E the quadrantal.

struct DeviationCoefficients {
    std::array<double, 5> terms{};  // A, B, C, D, E in degrees; unfitted ones are 0
    double A() const { return terms[0]; }
    double B() const { return terms[1]; }
    double C() const { return terms[2]; }
    double D() const { return terms[3]; }
    double E() const { return terms[4]; }
    // The deviation at a compass heading, in degrees.
    double At(double compassDegrees) const;
};

// One stop of a swing: the reference (magnetic) heading and what the compass read there.
struct SwingStop {
    double reference = 0.0;
    double compass = 0.0;
};

// magnetic - compass, in (-180, 180].
double DeviationOf(double reference, double compass);

// "A", "A-C" or "A-E" for 1, 3 or 5 terms.
std::string TermsName(int terms);

// Stops whose compass headings lie within this of each other count as one heading.
inline constexpr double kSameHeadingDegrees = 1.0;

struct DeviationFit {
    int terms = 0;  // 1 (A), 3 (A-C) or 5 (A-E)
    DeviationCoefficients coefficients;
    std::vector<double> deviations;  // per stop, measured
    std::vector<double> residuals;   // per stop, measured minus fitted
    double rms = 0.0;                // of the residuals
    double largestResidual = 0.0;    // its magnitude
    std::size_t largestResidualStop = 0;
    std::size_t distinctHeadings = 0;
    std::string note;  // why fewer terms were fitted than asked for, or empty
};

struct FitOutcome {
    std::optional<DeviationFit> fit;
    std::string error;  // why nothing could be fitted
};

// Least squares over the stops (Householder QR). `terms` 0 fits as many terms as the stops
// determine (A from one heading, A-C from three, A-E from five, each only when the headings are
// spread well enough to tell the terms apart); 1, 3 or 5 asks for exactly those and is refused,
// with the reason, when the stops cannot determine them.
FitOutcome FitDeviation(const std::vector<SwingStop>& stops, int terms = 0);

// The deviation card: every `stepDegrees` of compass heading from 0, the deviation the fit gives
// there (the correction to add) and the magnetic heading it makes.
struct CardEntry {
    double compass = 0.0;
    double deviation = 0.0;
    double magnetic = 0.0;
};
std::vector<CardEntry> DeviationCard(const DeviationCoefficients& coefficients,
                                     double stepDegrees = 15.0);

// Whether the installed compass is within `tolerance` degrees of magnetic everywhere: the
// largest deviation, of the card and of the stops measured, against the tolerance.
struct SwingVerdict {
    bool pass = false;
    double largestDeviation = 0.0;  // signed, the one of largest magnitude
    double atCompass = 0.0;         // the compass heading where it was found
};
SwingVerdict JudgeSwing(const DeviationFit& fit, const std::vector<SwingStop>& stops,
                        double tolerance);
