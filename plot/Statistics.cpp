#include "Statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
// Below this mean resultant length the directions have no meaningful mean.
constexpr double kNoMeanResultant = 1e-9;

// Welford's running mean and sum of squared deviations, with the extremes.
class Accumulator {
public:
    void Add(double x) {
        ++m_count;
        const double delta = x - m_mean;
        m_mean += delta / static_cast<double>(m_count);
        m_m2 += delta * (x - m_mean);
        m_min = std::min(m_min, x);
        m_max = std::max(m_max, x);
    }
    QuantityStats Result() const {
        QuantityStats s;
        s.count = m_count;
        if (m_count == 0) {
            s.mean = s.stddev = s.min = s.max = s.peakToPeak = kNaN;
            return s;
        }
        s.mean = m_mean;
        s.stddev = m_count > 1 ? std::sqrt(m_m2 / static_cast<double>(m_count - 1)) : 0.0;
        s.min = m_min;
        s.max = m_max;
        s.peakToPeak = m_max - m_min;
        return s;
    }

private:
    std::size_t m_count = 0;
    double m_mean = 0.0;
    double m_m2 = 0.0;
    double m_min = std::numeric_limits<double>::infinity();
    double m_max = -std::numeric_limits<double>::infinity();
};

// [0, 360), with what rounds to 360 taken as 0.
double NormalizedDegrees(double degrees) {
    double d = std::fmod(degrees, 360.0);
    if (d < 0.0)
        d += 360.0;
    return d >= 360.0 - 1e-9 ? 0.0 : d;
}

// Signed difference from `mean`, in (-180, 180].
double Deviation(double degrees, double mean) {
    double d = std::fmod(degrees - mean, 360.0);
    if (d > 180.0)
        d -= 360.0;
    else if (d <= -180.0)
        d += 360.0;
    return d;
}

template <class Values>
QuantityStats Linear(const Values& forEach) {
    Accumulator acc;
    forEach([&acc](double x) { acc.Add(x); });
    return acc.Result();
}

// Two passes: the mean direction first, then the differences from it.
template <class Values>
QuantityStats Circular(const Values& forEach) {
    double sumSin = 0.0, sumCos = 0.0;
    std::size_t count = 0;
    forEach([&](double x) {
        sumSin += std::sin(x * kRadiansPerDegree);
        sumCos += std::cos(x * kRadiansPerDegree);
        ++count;
    });
    if (count == 0)
        return Linear(forEach);
    if (std::hypot(sumSin, sumCos) / static_cast<double>(count) < kNoMeanResultant) {
        QuantityStats s = Linear(forEach);
        s.mean = s.stddev = kNaN;
        return s;
    }
    const double mean = NormalizedDegrees(std::atan2(sumSin, sumCos) / kRadiansPerDegree);
    Accumulator differences;
    forEach([&](double x) { differences.Add(Deviation(x, mean)); });
    const QuantityStats d = differences.Result();
    QuantityStats s;
    s.count = d.count;
    s.mean = mean;
    s.stddev = d.stddev;
    s.min = NormalizedDegrees(mean + d.min);
    s.max = NormalizedDegrees(mean + d.max);
    s.peakToPeak = d.peakToPeak;
    return s;
}

auto OverVector(const std::vector<double>& values) {
    return [&values](auto&& add) {
        for (const double v : values)
            add(v);
    };
}

template <float StampedReading::*Member>
auto OverReadings(const ReadingHistory& history, std::size_t first, std::size_t last) {
    return [&history, first, last](auto&& add) {
        const auto end = history.begin() + static_cast<std::ptrdiff_t>(last);
        for (auto it = history.begin() + static_cast<std::ptrdiff_t>(first); it != end; ++it)
            add(static_cast<double>((*it).*Member));
    };
}

}  // namespace

QuantityStats LinearStatistics(const std::vector<double>& values) {
    return Linear(OverVector(values));
}

QuantityStats CircularStatistics(const std::vector<double>& degrees) {
    return Circular(OverVector(degrees));
}

SpanStatistics ComputeStatistics(const ReadingHistory& history, std::size_t first,
                                 std::size_t last) {
    last = std::min(last, history.size());
    first = std::min(first, last);
    SpanStatistics s;
    s.count = last - first;
    if (s.count >= 2) {
        const double seconds = static_cast<double>(history[last - 1].ns - history[first].ns) / 1e9;
        s.rate = seconds > 0.0 ? static_cast<double>(s.count - 1) / seconds : 0.0;
    }
    s.pitch = Linear(OverReadings<&StampedReading::pitch>(history, first, last));
    s.roll = Linear(OverReadings<&StampedReading::roll>(history, first, last));
    s.heading = Circular(OverReadings<&StampedReading::heading>(history, first, last));
    return s;
}
