#include "TrafficLog.h"

#include <algorithm>

namespace {

// 8-bit on purpose: sends that do not test the limit can push g_nSendLines past 60, and it
// wraps from 255 to 0.
std::uint8_t g_nSendLines = 0;
std::uint8_t g_nFramesSinceFlush = 0;
std::uint8_t g_nRejectCount = 0;
std::uint8_t g_nRejectLines = 0;

constexpr unsigned kSendLineLimit = 60;
constexpr unsigned kFrameLineLimit = 60;
constexpr unsigned kPiecesPerLine = 10;
constexpr unsigned kRejectLineLimit = 60;

constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// Frame lines in a block: as counted, unless the Clear button took some of them away.
unsigned FrameLinesIn(const std::string& received) {
    const auto breaks = static_cast<unsigned>(std::count(received.begin(), received.end(), '\n'));
    return std::min<unsigned>(g_nFramesSinceFlush, breaks);
}

}  // namespace

void LogSentFrame(std::string& sendLog, const std::string& hexText, SendLogVariant variant) {
    switch (variant) {
        case SendLogVariant::ReadRequest:
            if (g_nSendLines >= kSendLineLimit) {
                sendLog.clear();
                g_nSendLines = 0;
            }
            ++g_nSendLines;
            break;
        case SendLogVariant::Counted:
            ++g_nSendLines;
            break;
        case SendLogVariant::Uncounted:
            break;
    }
    sendLog += hexText;
    sendLog += "\r\n";
}

void LogReceivedByte(std::string& frameHex, std::uint8_t byte) {
    // Table lookup: this runs for every received byte and must not build temporary strings.
    const char text[3] = {kUpperHexDigits[byte >> 4], kUpperHexDigits[byte & 0x0F], ' '};
    frameHex.append(text, sizeof text);
}

void LogRejectedBytes(std::string& received, std::string& frameHex) {
    received += frameHex;
    frameHex.clear();
    ++g_nRejectCount;
    if (g_nRejectCount >= kPiecesPerLine) {
        g_nRejectCount = 0;
        received += "\r\n";
        ++g_nRejectLines;
        // Noise alone empties the log; it is never written to the record file.
        if (g_nRejectLines >= kRejectLineLimit) {
            g_nRejectLines = 0;
            received.clear();
        }
    }
}

bool LogCompletedFrame(std::string& received, std::string& frameHex, Recorder& record) {
    bool written = true;
    if (g_nFramesSinceFlush >= kFrameLineLimit) {
        if (record.IsRecording())
            written = record.Append(received, FrameLinesIn(received));
        g_nFramesSinceFlush = 0;
        received.clear();
    }
    received += frameHex;
    received += "\r\n";
    frameHex.clear();
    ++g_nFramesSinceFlush;
    return written;
}

unsigned SendLineCount() {
    return g_nSendLines;
}

RecordStop StopRecording(Recorder& record, const std::string& received, const std::tm& now) {
    if (g_nFramesSinceFlush == 0)
        return record.Finish(std::string(), 0, now);
    return record.Finish(received, FrameLinesIn(received), now);
}

unsigned FramesSinceFlush() {
    return g_nFramesSinceFlush;
}
