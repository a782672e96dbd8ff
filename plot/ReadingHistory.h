#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>

// One reading as it arrived: time on the steady clock in nanoseconds, and the three values in
// degrees. Floats hold the module's hundredths exactly enough for every display and export
// (their error at 999.99 is below 0.0001) and keep a full history at 24 bytes a reading.
struct StampedReading {
    std::int64_t ns = 0;
    float pitch = 0.0f;
    float roll = 0.0f;
    float heading = 0.0f;
};

// The readings of the last ten minutes, at most `capacity` of them: older readings, and the
// oldest ones beyond the capacity, are dropped as new ones arrive. Times never go backwards: a
// time earlier than the newest is taken as the newest, so that ranges stay sorted.
class ReadingHistory {
public:
    static constexpr std::int64_t kKeepNs = 600'000'000'000;  // ten minutes
    // Ten minutes at the full 115200 bit/s line rate (823 readings/s) with room to spare.
    static constexpr std::size_t kDefaultCapacity = 600'000;

    explicit ReadingHistory(std::size_t capacity = kDefaultCapacity, std::int64_t keepNs = kKeepNs)
        : m_capacity(capacity), m_keepNs(keepNs) {}

    void Append(std::int64_t ns, double pitch, double roll, double heading);
    void Clear() { m_readings.clear(); }
    // Zero keeps nothing at all (the history switched off).
    void SetCapacity(std::size_t capacity);
    std::size_t Capacity() const { return m_capacity; }

    std::size_t size() const { return m_readings.size(); }
    bool empty() const { return m_readings.empty(); }
    const StampedReading& operator[](std::size_t i) const { return m_readings[i]; }
    const StampedReading& back() const { return m_readings.back(); }
    std::deque<StampedReading>::const_iterator begin() const { return m_readings.begin(); }
    std::deque<StampedReading>::const_iterator end() const { return m_readings.end(); }

    // Indexes [first, last) of the readings whose time lies in [fromNs, toNs].
    std::pair<std::size_t, std::size_t> Range(std::int64_t fromNs, std::int64_t toNs) const;
    // Readings appended since the start, including those dropped since.
    std::uint64_t TotalAppended() const { return m_totalAppended; }

private:
    std::deque<StampedReading> m_readings;
    std::size_t m_capacity;
    std::int64_t m_keepNs;
    std::uint64_t m_totalAppended = 0;
};

// Nanoseconds on the steady clock: the time base of the history.
inline std::int64_t SteadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
