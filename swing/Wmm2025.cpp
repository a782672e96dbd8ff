#include "Wmm2025.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kRadians = std::numbers::pi / 180.0;
// WGS84 ellipsoid and the model's reference radius, in kilometres.
constexpr double kSemiMajorKm = 6378.137;
constexpr double kFlattening = 1.0 / 298.257223563;
constexpr double kEccentricitySquared = kFlattening * (2.0 - kFlattening);
constexpr double kReferenceRadiusKm = 6371.2;
constexpr double kLowestKm = -1.0;
constexpr double kHighestKm = 850.0;
constexpr double kCautionNt = 6000.0;

constexpr int kSize = kWmmDegree + 1;
using Table = std::array<std::array<double, kSize>, kSize>;  // [n][m]

// Schmidt semi-normalised associated Legendre functions P(n, m) of sin(latitude) and their
// derivatives with respect to the colatitude, from the usual recursions in n.
void Legendre(double sinLat, double cosLat, Table& p, Table& dp) {
    p = {};
    dp = {};
    p[0][0] = 1.0;
    for (int n = 1; n < kSize; ++n) {
        // The sectoral term from the one below it.
        const double k = n == 1 ? 1.0 : std::sqrt((2.0 * n - 1.0) / (2.0 * n));
        p[n][n] = k * cosLat * p[n - 1][n - 1];
        dp[n][n] = k * (sinLat * p[n - 1][n - 1] + cosLat * dp[n - 1][n - 1]);
        for (int m = 0; m < n; ++m) {
            const double root = std::sqrt(static_cast<double>(n * n - m * m));
            const double below =
                n >= 2 ? std::sqrt(static_cast<double>((n - 1 + m) * (n - 1 - m))) : 0.0;
            const double p2 = n >= 2 ? p[n - 2][m] : 0.0;
            const double dp2 = n >= 2 ? dp[n - 2][m] : 0.0;
            p[n][m] = ((2.0 * n - 1.0) * sinLat * p[n - 1][m] - below * p2) / root;
            dp[n][m] =
                ((2.0 * n - 1.0) * (sinLat * dp[n - 1][m] - cosLat * p[n - 1][m]) - below * dp2) /
                root;
        }
    }
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

WmmResult EvaluateWmm(const WmmQuery& query) {
    WmmResult result;
    if (!std::isfinite(query.latitude) || !std::isfinite(query.longitude) ||
        !std::isfinite(query.heightKm) || !std::isfinite(query.year)) {
        result.error = "latitude, longitude, height and date must all be numbers";
        return result;
    }
    if (std::fabs(query.latitude) > 90.0) {
        result.error = "the latitude must lie from -90 to 90 degrees";
        return result;
    }
    if (std::fabs(query.latitude) == 90.0) {
        result.error =
            "at the geographic poles every direction is south (or north): the declination is "
            "undefined there";
        return result;
    }
    if (query.heightKm < kLowestKm || query.heightKm > kHighestKm) {
        result.error = "the model holds from 1 km below the ellipsoid to 850 km above it";
        return result;
    }

    // Geodetic to geocentric spherical coordinates.
    const double lat = query.latitude * kRadians;
    const double lon = query.longitude * kRadians;
    const double sinLat = std::sin(lat), cosLat = std::cos(lat);
    const double rc = kSemiMajorKm / std::sqrt(1.0 - kEccentricitySquared * sinLat * sinLat);
    const double xp = (rc + query.heightKm) * cosLat;
    const double zp = (rc * (1.0 - kEccentricitySquared) + query.heightKm) * sinLat;
    const double r = std::hypot(xp, zp);
    const double latC = std::asin(zp / r);
    const double sinLatC = std::sin(latC), cosLatC = std::cos(latC);

    Table p, dp;
    Legendre(sinLatC, cosLatC, p, dp);

    const double dt = query.year - kWmmEpoch;
    std::array<double, kSize> cosM{}, sinM{};
    for (int m = 0; m < kSize; ++m) {
        cosM[static_cast<std::size_t>(m)] = std::cos(m * lon);
        sinM[static_cast<std::size_t>(m)] = std::sin(m * lon);
    }
    // North, east and down components in the geocentric frame.
    double north = 0.0, east = 0.0, down = 0.0;
    for (const WmmCoefficient& c : kWmm2025Coefficients) {
        const auto n = static_cast<std::size_t>(c.n), m = static_cast<std::size_t>(c.m);
        const double g = c.g + dt * c.gDot;
        const double h = c.h + dt * c.hDot;
        const double scale = std::pow(kReferenceRadiusKm / r, c.n + 2);
        const double along = g * cosM[m] + h * sinM[m];
        const double across = g * sinM[m] - h * cosM[m];
        north += scale * along * dp[n][m];
        east += scale * c.m * across * p[n][m];
        down -= scale * (c.n + 1) * along * p[n][m];
    }
    east /= cosLatC;

    // Rotate into the geodetic frame.
    const double tilt = latC - lat;
    WmmField field;
    field.x = north * std::cos(tilt) - down * std::sin(tilt);
    field.y = east;
    field.z = north * std::sin(tilt) + down * std::cos(tilt);
    field.h = std::hypot(field.x, field.y);
    field.f = std::hypot(field.h, field.z);
    field.declination = std::atan2(field.y, field.x) / kRadians;
    field.inclination = std::atan2(field.z, field.h) / kRadians;
    field.outsideValidity = query.year < kWmmEpoch || query.year >= kWmmValidUntil;
    field.weakHorizontalField = field.h < kCautionNt;
    result.field = field;
    return result;
}

double DecimalYear(int year, int month, int day) {
    static constexpr int kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const int leap = IsLeapYear(year) ? 1 : 0;
    const int monthIndex = std::clamp(month, 1, 12) - 1;
    const int dayOfYear = kDaysBefore[monthIndex] + (monthIndex >= 2 ? leap : 0) + day - 1;
    return year + static_cast<double>(dayOfYear) / (365.0 + leap);
}
