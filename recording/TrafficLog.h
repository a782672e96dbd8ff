#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "Recording.h"

enum class SendLogVariant {
    ReadRequest,  // empties the log first when 60 or more lines were added since it was emptied
    Counted,      // adds to the line count without testing it
    Uncounted,    // the declination request: the count is untouched
};

// The Send and Received logs: their texts, the hex text of the frame being assembled, and the
// four 8-bit counters that keep them within their limits.
class TrafficLog {
public:
    TrafficLog();

    // Appends the frame's hex text and CR LF to the Send log.
    void logSent(const std::string& hexText, SendLogVariant variant);

    // Appends "%02X " of the byte to the text of the frame being assembled.
    void logReceivedByte(std::uint8_t byte) {
        // Table lookup: this runs for every received byte and must not build temporary strings.
        static constexpr char kUpperHexDigits[] = "0123456789ABCDEF";
        const char text[3] = {kUpperHexDigits[byte >> 4], kUpperHexDigits[byte & 0x0F], ' '};
        m_frameHex.append(text, sizeof text);
    }

    // Moves a rejected piece into the Received log without a line break (a line break after
    // every tenth piece; after 60 such breaks the Received log is emptied, never recorded).
    void logRejected();

    // Adds the frame's line to the Received log. When 60 frame lines are pending, they first go
    // to `record` while it records, and the log is emptied. The line is added in every case;
    // false when the block is not in the record file yet (its disk refused it: the record
    // holds it).
    bool logCompletedFrame(Recorder& record);

    // Stops a recording: the Received lines go to the record file when a frame line came since
    // the last block, then the end line with `now`. Recording is off afterwards in every case.
    RecordStop stopRecording(Recorder& record, const std::tm& now) const;

    const std::string& sendText() const { return m_send; }
    const std::string& receivedText() const { return m_received; }
    const std::string& frameHex() const { return m_frameHex; }

    // The Clear buttons: only the text goes; the counters and the frame being assembled stay.
    void clearSend() { m_send.clear(); }
    void clearReceived() { m_received.clear(); }
    // The Received pane as the operator left it (it may be typed into), taken back by a commit.
    void setReceivedText(const std::string& text) { m_received = text; }

    unsigned sendLineCount() const { return m_sendLines; }
    unsigned framesSinceFlush() const { return m_framesSinceFlush; }

private:
    // Frame lines in a block: as counted, unless the Clear button took some of them away.
    unsigned frameLinesIn(const std::string& received) const;

    std::string m_send;      // m_strSend
    std::string m_received;  // m_strReceived
    std::string m_frameHex;  // m_strFrameHex
    // 8-bit on purpose: sends that do not test the limit can push the Send line count past 60,
    // and it wraps from 255 to 0.
    std::uint8_t m_sendLines = 0;         // g_nSendLines
    std::uint8_t m_framesSinceFlush = 0;  // g_nFramesSinceFlush
    std::uint8_t m_rejectCount = 0;       // g_nRejectCount
    std::uint8_t m_rejectLines = 0;       // g_nRejectLines
};
