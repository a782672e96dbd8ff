#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <vector>

#include "Wire.h"

namespace modulesim {

struct LineFaults {
    bool badChecksum = false;
    bool noise = false;
    bool split = false;
    std::chrono::microseconds splitGap{2000};
    std::uint32_t seed = 1;
};

// The sending side of the serial line: shapes frames with the requested faults and writes them
// to a non-blocking descriptor when they are due, keeping what the descriptor cannot take yet.
class Line {
public:
    using Clock = std::chrono::steady_clock;

    explicit Line(LineFaults faults);

    // Queues frames to leave together: in one write, or byte by byte with --split.
    void Send(const std::vector<Bytes>& frames, Clock::time_point now);
    // Writes what is due without blocking; false when the descriptor failed.
    bool Flush(int fd, Clock::time_point now);

    // When the next queued byte falls due; nothing when the queue is empty or the descriptor is
    // full.
    std::optional<Clock::time_point> NextDue() const;
    // The descriptor took no more on the last attempt: wait until it is writable.
    bool WaitingForRoom() const { return m_blocked && !m_chunks.empty(); }
    std::size_t PendingBytes() const { return m_pending; }
    long long FramesSent() const { return m_framesSent; }

private:
    struct Chunk {
        Clock::time_point due;
        Bytes bytes;
        std::size_t written = 0;
        long long framesEnding = 0;  // frames whose last byte is in this chunk
    };

    void AppendNoise(Bytes& out);

    LineFaults m_faults;
    std::deque<Chunk> m_chunks;
    std::size_t m_pending = 0;
    bool m_blocked = false;
    Clock::time_point m_lastDue{};
    long long m_framesSent = 0;
    std::mt19937 m_random;
};

}  // namespace modulesim
