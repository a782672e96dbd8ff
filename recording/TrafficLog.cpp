#include "TrafficLog.h"

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

bool LogCompletedFrame(std::string& received, std::string& frameHex) {
    if (g_nFramesSinceFlush >= kFrameLineLimit) {
        g_nFramesSinceFlush = 0;
        // On failure the lines stay in the log and go out with the next block.
        if (IsRecording() && !AppendRecordBlock(received)) {
            return false;
        }
        received.clear();
    }
    received += frameHex;
    received += "\r\n";
    frameHex.clear();
    ++g_nFramesSinceFlush;
    return true;
}

unsigned SendLineCount() {
    return g_nSendLines;
}

RecordStop StopRecording(const std::string& received, const std::tm& now) {
    return FinishRecord(g_nFramesSinceFlush != 0 ? received : std::string(), now);
}

unsigned FramesSinceFlush() {
    return g_nFramesSinceFlush;
}
