#pragma once

#include <array>
#include <optional>
#include <string>

// The World Magnetic Model 2025: the main field and its secular variation as spherical harmonics
// of degree and order 12, evaluated at a place on the WGS84 ellipsoid and a date.

struct WmmCoefficient {
    int n, m;
    double g, h;        // nT at the epoch
    double gDot, hDot;  // nT per year
};

inline constexpr int kWmmDegree = 12;
inline constexpr int kWmmCoefficientCount = 90;  // (n, m) for n = 1..12, m = 0..n
inline constexpr double kWmmEpoch = 2025.0;
inline constexpr double kWmmValidUntil = 2030.0;
extern const std::array<WmmCoefficient, kWmmCoefficientCount> kWmm2025Coefficients;

// Where: geodetic latitude and longitude in degrees (WGS84; east positive) and height above the
// ellipsoid in kilometres. When: a decimal year (2027.5 is the middle of 2027).
struct WmmQuery {
    double latitude = 0.0;
    double longitude = 0.0;
    double heightKm = 0.0;
    double year = kWmmEpoch;
};

// The field in the geodetic frame: north, east and down components and their derived figures,
// in nT; declination and inclination in degrees (declination east positive, inclination down
// positive).
struct WmmField {
    double x = 0.0, y = 0.0, z = 0.0;
    double h = 0.0, f = 0.0;
    double declination = 0.0;
    double inclination = 0.0;
    bool outsideValidity = false;  // the date lies outside 2025.0 to 2030.0
    // The horizontal field is weak (near a magnetic pole): below 6000 nT a compass is
    // unreliable, below 2000 nT useless.
    bool weakHorizontalField = false;
};

struct WmmResult {
    std::optional<WmmField> field;
    std::string error;  // why there is no field: the query cannot be evaluated
};

// The field, or an error for a query outside what the model can answer: latitude beyond +-90,
// a height outside -1 to 850 km, a value that is not a number. At the geographic poles the
// declination (the angle between north and the field) is undefined: there the result holds an
// error too.
WmmResult EvaluateWmm(const WmmQuery& query);

// The decimal year of a calendar date: the year plus the days elapsed before the date over the
// days in that year (2025-01-01 is 2025.0, 2027-07-02 is 2027.4986).
double DecimalYear(int year, int month, int day);
