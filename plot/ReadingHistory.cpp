#include "ReadingHistory.h"

#include <algorithm>

void ReadingHistory::Append(std::int64_t ns, double pitch, double roll, double heading) {
    if (m_capacity == 0)
        return;
    if (!m_readings.empty())
        ns = std::max(ns, m_readings.back().ns);
    while (!m_readings.empty() &&
           (m_readings.size() >= m_capacity || m_readings.front().ns < ns - m_keepNs))
        m_readings.pop_front();
    m_readings.push_back(StampedReading{ns, static_cast<float>(pitch), static_cast<float>(roll),
                                        static_cast<float>(heading)});
    ++m_totalAppended;
}

void ReadingHistory::SetCapacity(std::size_t capacity) {
    m_capacity = capacity;
    while (m_readings.size() > m_capacity)
        m_readings.pop_front();
}

std::pair<std::size_t, std::size_t> ReadingHistory::Range(std::int64_t fromNs,
                                                          std::int64_t toNs) const {
    const auto first =
        std::lower_bound(m_readings.begin(), m_readings.end(), fromNs,
                         [](const StampedReading& r, std::int64_t t) { return r.ns < t; });
    const auto last =
        std::upper_bound(first, m_readings.end(), toNs,
                         [](std::int64_t t, const StampedReading& r) { return t < r.ns; });
    return {static_cast<std::size_t>(first - m_readings.begin()),
            static_cast<std::size_t>(last - m_readings.begin())};
}
