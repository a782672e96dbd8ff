#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

// The readings of the last dwell: is the heading being held? The heading's circular mean and
// spread over the dwell, how far the farthest heading lies from that mean, and whether the dwell
// is whole (readings reach back over all of it, with no gap longer than a second) and the
// heading steady (every heading of the dwell within the steadiness limit of the mean).
struct DwellState {
    std::size_t count = 0;
    bool whole = false;
    bool steady = false;
    double mean = 0.0;      // circular mean heading, degrees [0, 360)
    double spread = 0.0;    // standard deviation of the headings about the mean (n - 1)
    double farthest = 0.0;  // the largest distance of a heading from the mean
    double pitch = 0.0;     // mean pitch and roll over the dwell
    double roll = 0.0;
    double seconds = 0.0;  // how much of the dwell the readings cover
};

class DwellMonitor {
public:
    static constexpr std::int64_t kMaxGapNs = 1'000'000'000;

    DwellMonitor(double dwellSeconds = 5.0, double steadyDegrees = 0.5)
        : m_dwellNs(ToNs(dwellSeconds)), m_steady(steadyDegrees) {}

    void SetDwell(double seconds) { m_dwellNs = ToNs(seconds); }
    double Dwell() const { return static_cast<double>(m_dwellNs) / 1e9; }
    void SetSteadyLimit(double degrees) { m_steady = degrees; }
    double SteadyLimit() const { return m_steady; }

    // A reading at `ns` on the steady clock; readings older than the dwell are let go. A time
    // before the newest is taken as the newest.
    void Add(std::int64_t ns, double pitch, double roll, double heading);
    void Clear() { m_readings.clear(); }
    DwellState State() const;

private:
    struct Entry {
        std::int64_t ns;
        double pitch, roll, heading;
    };
    static std::int64_t ToNs(double seconds) { return static_cast<std::int64_t>(seconds * 1e9); }

    std::deque<Entry> m_readings;
    std::int64_t m_dwellNs;
    double m_steady;
};
