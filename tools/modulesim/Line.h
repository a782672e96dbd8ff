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

    // The time one byte takes on the line (10 bits at the line's speed), or zero for a line
    // that delivers at once. Bytes queued earlier keep the time they were given.
    void SetByteTime(Clock::duration byteTime) { m_byteTime = byteTime; }
    Clock::duration ByteTime() const { return m_byteTime; }

    // Queues frames to leave together from `now` on: in one write, or byte by byte with
    // --split. With a byte time each frame is written whole when its last byte would have
    // crossed the line, after everything queued before it.
    void Send(const std::vector<Bytes>& frames, Clock::time_point now);
    // Queues `count` random bytes, any value the start byte included, as a line at the wrong
    // speed shows what crosses it.
    void SendGarbage(std::size_t count, Clock::time_point now);
    // A few: 1 to 6, drawn from the line's random numbers.
    std::size_t GarbageBurst();
    // Forgets everything queued: the device it was for is gone.
    void Clear();
    // Writes what is due without blocking; false when the descriptor failed.
    bool Flush(int fd, Clock::time_point now);

    // When the next queued byte falls due; nothing when the queue is empty or the descriptor is
    // full.
    std::optional<Clock::time_point> NextDue() const;
    // The descriptor took no more on the last attempt: wait until it is writable.
    bool WaitingForRoom() const { return m_blocked && !m_chunks.empty(); }
    std::size_t PendingBytes() const { return m_pending; }
    // When the last byte queued will have crossed the line (with a byte time).
    Clock::time_point BusyUntil() const { return m_lineFree; }
    long long FramesSent() const { return m_framesSent; }

private:
    struct Chunk {
        Clock::time_point due;
        Bytes bytes;
        std::size_t written = 0;
        long long framesEnding = 0;  // frames whose last byte is in this chunk
    };

    void AppendNoise(Bytes& out);
    // Books `count` bytes on the line from `now` on; returns when the last has crossed it.
    Clock::time_point Occupy(std::size_t count, Clock::time_point now);
    void Queue(Bytes stream, const std::vector<std::size_t>& frameEnds, Clock::time_point now);

    LineFaults m_faults;
    std::deque<Chunk> m_chunks;
    std::size_t m_pending = 0;
    bool m_blocked = false;
    Clock::time_point m_lastDue{};
    Clock::duration m_byteTime{};
    Clock::time_point m_lineFree{};
    long long m_framesSent = 0;
    std::mt19937 m_random;
};

}  // namespace modulesim
