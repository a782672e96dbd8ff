#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reading a record file back: every complete frame line through the console's own assembler,
// checksum test and decoding. Frames are handed on one at a time as they complete, so a file
// of any length is read in bounded memory.

// A wall-clock time as written in a record file's header or end line (local time, no zone).
struct RecordStamp {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    // Milliseconds since 1970-01-01 as if the stamp were UTC; only differences matter. A leap
    // second (:60) counts as the last millisecond of its minute, so it never reaches the next
    // day (or year).
    long long Milliseconds() const;
    std::string Text() const;  // "2026-12-07 09:05:03", the fields as written
};

// Parses a stamp line, "Date: %Y-%m-%d  Time:%H:%M:%S" with a four-digit year and nothing
// before or after it; nullopt when the text is anything else or names no valid date and time.
std::optional<RecordStamp> ParseRecordStamp(std::string_view text);

struct DecodedFrame {
    long long line = 0;  // 1-based line of the file on which the frame completed
    std::vector<std::uint8_t> bytes;
    bool checksumOk = false;
    std::optional<double> pitch, roll, heading;  // reading frames with a good checksum
    std::optional<int> status;                   // byte 4 of answers that carry one
    std::optional<std::array<int, 3>> coverage;  // x, y, z percent of a successful stop answer
    std::uint8_t Code() const { return bytes.size() > 3 ? bytes[3] : 0; }
    bool IsReading() const { return pitch && roll && heading; }
};

// A line the decoder did not understand, and why.
struct BadLine {
    long long line = 0;
    std::string reason;
};

// Everything a record file gave besides its frames.
struct RecordSummary {
    static constexpr std::size_t kListedBadLines = 20;

    std::string name;
    std::optional<RecordStamp> start, end;
    long long frames = 0;
    long long badChecksums = 0;
    long long rejectedPieces = 0;
    long long shortReadings = 0;       // reading frames too short to hold three values
    long long nonDecimalReadings = 0;  // reading frames with a digit above 9
    long long notRecorded = 0;         // frames the console could not record (gap lines)
    long long badLineCount = 0;
    std::vector<BadLine> badLines;  // the first kListedBadLines of them
    long long byteLines = 0;        // lines of hex bytes, whether or not they made a frame
    std::uint64_t bytes = 0;        // bytes read

    // No frame came out of a file that holds more than a record's start and end lines (an
    // empty file, or a start line alone, is a record with no frame): nothing of it was
    // understood.
    bool YieldedNothing() const { return frames == 0 && (badLineCount > 0 || byteLines > 0); }
};

using FrameHandler = std::function<void(const DecodedFrame&)>;
constexpr std::uint64_t kWholeFile = std::numeric_limits<std::uint64_t>::max();

// Decodes a record text, handing each frame to `onFrame` as it completes, and reading at most
// `limit` bytes. Each record gets an assembler of its own.
RecordSummary DecodeRecord(std::istream& in, const std::string& name,
                           const FrameHandler& onFrame = {}, std::uint64_t limit = kWholeFile);

// Opens and decodes a file; false with `error` set when it cannot be opened or read.
bool DecodeRecordFile(const std::string& path, RecordSummary& out, std::string& error,
                      const FrameHandler& onFrame = {}, std::uint64_t limit = kWholeFile);

// Estimated times of a file's frames: spread evenly from the header time (first frame) to the
// end time (last frame). None unless the file has both times and the end is not earlier.
class FrameClock {
public:
    explicit FrameClock(const RecordSummary& summary);
    bool HasTimes() const { return m_frames > 0; }
    // "2026-12-07 09:05:33.201" for frame `index` (0-based); empty beyond the frames counted.
    std::string TimeOf(long long index) const;

private:
    long long m_from = 0, m_span = 0, m_frames = 0;
};

// CSV of the decoded frames: the header row, with a time_estimated column when `timed`, and
// one row per frame, appended to `out`.
std::string CsvHeader(bool timed);
void AppendCsvRow(std::string& out, const std::string& fileName, const DecodedFrame& frame,
                  bool timed, const std::string& time);
