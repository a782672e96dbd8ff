#include "Dwell.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "Angles.h"
#include "Statistics.h"

void DwellMonitor::Add(std::int64_t ns, double pitch, double roll, double heading) {
    if (!std::isfinite(pitch) || !std::isfinite(roll) || !std::isfinite(heading))
        return;
    if (!m_readings.empty())
        ns = std::max(ns, m_readings.back().ns);
    m_readings.push_back({ns, pitch, roll, heading});
    // Keep one reading from before the dwell: it shows that the readings reach back over it.
    while (m_readings.size() > 1 && m_readings[1].ns <= ns - m_dwellNs)
        m_readings.pop_front();
}

DwellState DwellMonitor::State() const {
    DwellState state;
    if (m_readings.empty())
        return state;
    const std::int64_t newest = m_readings.back().ns;
    const std::int64_t from = newest - m_dwellNs;
    std::vector<double> headings;
    double pitch = 0.0, roll = 0.0;
    bool gap = false;
    for (std::size_t i = 0; i < m_readings.size(); ++i) {
        const Entry& e = m_readings[i];
        if (i > 0 && e.ns - m_readings[i - 1].ns > kMaxGapNs)
            gap = true;
        if (e.ns < from)
            continue;
        headings.push_back(e.heading);
        pitch += e.pitch;
        roll += e.roll;
    }
    const QuantityStats stats = CircularStatistics(headings);
    state.count = headings.size();
    state.seconds = static_cast<double>(newest - std::max(from, m_readings.front().ns)) / 1e9;
    state.whole = !gap && m_readings.front().ns <= from;
    if (state.count == 0 || std::isnan(stats.mean))
        return state;
    state.mean = stats.mean;
    state.spread = stats.stddev;
    for (const double h : headings)
        state.farthest = std::max(state.farthest, HeadingDistance(h, stats.mean));
    state.pitch = pitch / static_cast<double>(state.count);
    state.roll = roll / static_cast<double>(state.count);
    state.steady = state.whole && state.count >= 3 && state.farthest <= m_steady;
    return state;
}
