#include "Line.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace modulesim {

Line::Line(LineFaults faults) : m_faults(faults), m_random(faults.seed) {}

void Line::AppendNoise(Bytes& out) {
    std::uniform_int_distribution<int> count(1, 6);
    // 255 values, shifted past the start byte so that noise never opens a frame.
    std::uniform_int_distribution<int> value(0, 254);
    for (int n = count(m_random); n > 0; --n) {
        const int v = value(m_random);
        out.push_back(static_cast<std::uint8_t>(v < kStartByte ? v : v + 1));
    }
}

void Line::Send(const std::vector<Bytes>& frames, Clock::time_point now) {
    if (frames.empty())
        return;
    Bytes stream;
    std::vector<std::size_t> frameEnds;  // index one past each frame's last byte
    for (const Bytes& frame : frames) {
        if (m_faults.noise)
            AppendNoise(stream);
        stream.insert(stream.end(), frame.begin(), frame.end());
        if (m_faults.badChecksum)
            stream.back() = static_cast<std::uint8_t>(stream.back() + 1);
        frameEnds.push_back(stream.size());
    }
    Queue(std::move(stream), frameEnds, now);
}

void Line::SendGarbage(std::size_t count, Clock::time_point now) {
    std::uniform_int_distribution<int> value(0, 255);
    Bytes stream(count);
    for (std::uint8_t& b : stream)
        b = static_cast<std::uint8_t>(value(m_random));
    Queue(std::move(stream), {}, now);
}

std::size_t Line::GarbageBurst() {
    return static_cast<std::size_t>(std::uniform_int_distribution<int>(1, 6)(m_random));
}

void Line::Clear() {
    m_chunks.clear();
    m_pending = 0;
    m_blocked = false;
    m_lastDue = {};
    m_lineFree = {};
}

Line::Clock::time_point Line::Occupy(std::size_t count, Clock::time_point now) {
    m_lineFree = std::max(m_lineFree, now) + m_byteTime * static_cast<Clock::rep>(count);
    return m_lineFree;
}

void Line::Queue(Bytes stream, const std::vector<std::size_t>& frameEnds, Clock::time_point now) {
    if (stream.empty())
        return;
    m_pending += stream.size();
    const bool paced = m_byteTime > Clock::duration::zero();
    if (!m_faults.split && !paced) {
        m_chunks.push_back({now, std::move(stream), 0, static_cast<long long>(frameEnds.size())});
        return;
    }
    if (!m_faults.split) {
        // One write per frame (with the noise before it), due when its last byte has arrived;
        // bytes after the last frame's end go as one more piece.
        std::size_t from = 0;
        auto piece = [&](std::size_t to, long long frames) {
            m_chunks.push_back({Occupy(to - from, now),
                                Bytes(stream.begin() + static_cast<std::ptrdiff_t>(from),
                                      stream.begin() + static_cast<std::ptrdiff_t>(to)),
                                0, frames});
            from = to;
        };
        for (std::size_t end : frameEnds)
            piece(end, 1);
        if (from < stream.size())
            piece(stream.size(), 0);
        return;
    }
    // One write per byte on a steady schedule, never faster than the gap nor than the line.
    auto end = frameEnds.begin();
    for (std::size_t i = 0; i < stream.size(); ++i) {
        Clock::time_point due =
            m_lastDue == Clock::time_point{} ? now : std::max(now, m_lastDue + m_faults.splitGap);
        if (paced) {
            due = std::max(due, Occupy(1, now));
            m_lineFree = due;
        }
        m_lastDue = due;
        long long ending = 0;
        if (end != frameEnds.end() && *end == i + 1) {
            ending = 1;
            ++end;
        }
        m_chunks.push_back({due, Bytes{stream[i]}, 0, ending});
    }
}

bool Line::Flush(int fd, Clock::time_point now) {
    m_blocked = false;
    while (!m_chunks.empty() && m_chunks.front().due <= now) {
        Chunk& chunk = m_chunks.front();
        const ssize_t n =
            ::write(fd, chunk.bytes.data() + chunk.written, chunk.bytes.size() - chunk.written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                m_blocked = true;
                return true;
            }
            return false;
        }
        chunk.written += static_cast<std::size_t>(n);
        m_pending -= static_cast<std::size_t>(n);
        if (chunk.written == chunk.bytes.size()) {
            m_framesSent += chunk.framesEnding;
            m_chunks.pop_front();
        }
    }
    return true;
}

std::optional<Line::Clock::time_point> Line::NextDue() const {
    if (m_chunks.empty() || m_blocked)
        return std::nullopt;
    return m_chunks.front().due;
}

}  // namespace modulesim
