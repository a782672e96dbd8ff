#include "TrafficLog.h"

#include <algorithm>

namespace {

constexpr unsigned kSendLineLimit = 60;
constexpr unsigned kFrameLineLimit = 60;
constexpr unsigned kPiecesPerLine = 10;
constexpr unsigned kRejectLineLimit = 60;

}  // namespace

TrafficLog::TrafficLog() {
    m_frameHex.reserve(256);  // a frame's text never needs more: no allocation per byte
}

void TrafficLog::logSent(const std::string& hexText, SendLogVariant variant) {
    switch (variant) {
        case SendLogVariant::ReadRequest:
            if (m_sendLines >= kSendLineLimit) {
                m_send.clear();
                m_sendLines = 0;
            }
            ++m_sendLines;
            break;
        case SendLogVariant::Counted:
            ++m_sendLines;
            break;
        case SendLogVariant::Uncounted:
            break;
    }
    m_send += hexText;
    m_send += "\r\n";
}

void TrafficLog::logRejected() {
    m_received += m_frameHex;
    m_frameHex.clear();
    ++m_rejectCount;
    if (m_rejectCount >= kPiecesPerLine) {
        m_rejectCount = 0;
        m_received += "\r\n";
        ++m_rejectLines;
        // Noise alone empties the log; it is never written to the record file.
        if (m_rejectLines >= kRejectLineLimit) {
            m_rejectLines = 0;
            m_received.clear();
        }
    }
}

bool TrafficLog::logCompletedFrame(Recorder& record) {
    bool written = true;
    if (m_framesSinceFlush >= kFrameLineLimit) {
        if (record.IsRecording())
            written = record.Append(m_received, frameLinesIn(m_received));
        m_framesSinceFlush = 0;
        m_received.clear();
    }
    m_received += m_frameHex;
    m_received += "\r\n";
    m_frameHex.clear();
    ++m_framesSinceFlush;
    return written;
}

RecordStop TrafficLog::stopRecording(Recorder& record, const std::tm& now) const {
    if (m_framesSinceFlush == 0)
        return record.Finish(std::string(), 0, now);
    return record.Finish(m_received, frameLinesIn(m_received), now);
}

unsigned TrafficLog::frameLinesIn(const std::string& received) const {
    const auto breaks = static_cast<unsigned>(std::count(received.begin(), received.end(), '\n'));
    return std::min<unsigned>(m_framesSinceFlush, breaks);
}
