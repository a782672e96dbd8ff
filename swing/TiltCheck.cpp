#include "TiltCheck.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
constexpr double kRadians = std::numbers::pi / 180.0;
}

double TiltAngle(double pitchDegrees, double rollDegrees) {
    const double c = std::cos(pitchDegrees * kRadians) * std::cos(rollDegrees * kRadians);
    return std::acos(std::clamp(c, -1.0, 1.0)) / kRadians;
}

TiltResult AnalyseTilt(const std::vector<TiltSample>& samples, double tolerance,
                       double bandDegrees) {
    TiltResult result;
    if (!(bandDegrees > 0.0))
        return result;
    const std::size_t bandCount = static_cast<std::size_t>(std::ceil(180.0 / bandDegrees));
    std::vector<TiltBand> bands(bandCount);
    double sumTT = 0.0, sumTC = 0.0;
    for (const TiltSample& s : samples) {
        if (!std::isfinite(s.tilt) || !std::isfinite(s.change))
            continue;
        const auto i = std::min(bandCount - 1, static_cast<std::size_t>(s.tilt / bandDegrees));
        TiltBand& band = bands[i];
        ++band.count;
        if (std::fabs(s.change) > std::fabs(band.largest))
            band.largest = s.change;
        result.largestTilt = std::max(result.largestTilt, s.tilt);
        sumTT += s.tilt * s.tilt;
        sumTC += s.tilt * std::fabs(s.change);
    }
    result.perTenDegrees = sumTT > 0.0 ? 10.0 * sumTC / sumTT : 0.0;
    result.pass = true;
    bool unbroken = true;
    for (std::size_t i = 0; i < bandCount; ++i) {
        TiltBand& band = bands[i];
        band.from = static_cast<double>(i) * bandDegrees;
        band.to = std::min(180.0, band.from + bandDegrees);
        if (band.count == 0)
            continue;
        band.pass = std::fabs(band.largest) <= tolerance;
        result.pass = result.pass && band.pass;
        unbroken = unbroken && band.pass;
        if (unbroken)
            result.passesUpTo = band.to;
        result.bands.push_back(band);
    }
    if (result.bands.empty())
        result.pass = false;
    return result;
}
