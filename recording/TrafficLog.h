#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "Recording.h"

// The Send and Received logs. The texts belong to the window; the counters live here.

enum class SendLogVariant {
    ReadRequest,  // empties the log first when 60 or more lines were added since it was emptied
    Counted,      // adds to the line count without testing it
    Uncounted,    // the declination request: the count is untouched
};

// Appends the frame's hex text and CR LF to the Send log.
void LogSentFrame(std::string& sendLog, const std::string& hexText, SendLogVariant variant);

// Appends "%02X " of the byte to the text of the frame being assembled.
void LogReceivedByte(std::string& frameHex, std::uint8_t byte);

// Moves a rejected piece into the Received log without a line break (a line break after every
// tenth piece; after 60 such breaks the Received log is emptied, never recorded).
void LogRejectedBytes(std::string& received, std::string& frameHex);

// Adds the frame's line to the Received log. When 60 frame lines are pending, they first go to
// the record while it is on, and the log is emptied. The line is added in every case; false
// when the block is not in the record file yet (its disk refused it: the record holds it).
bool LogCompletedFrame(std::string& received, std::string& frameHex, Recorder& record);

// Stops a recording: the lines of `received` go to the record file when a frame line came since
// the last block, then the end line with `now`. Recording is off afterwards in every case.
RecordStop StopRecording(Recorder& record, const std::string& received, const std::tm& now);

// Current counter values, for diagnostics and tests.
unsigned SendLineCount();
unsigned FramesSinceFlush();
