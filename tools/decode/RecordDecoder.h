#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

// Reading a record file back: every complete frame line through the console's own assembler,
// checksum test and decoding.

// A wall-clock time as written in a record file's header or end line (local time, no zone).
struct RecordStamp {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    long long SecondsSinceEpoch() const;  // as if the stamp were UTC; only differences matter
    std::string Text() const;             // "2026-12-07 09:05:03"
};

// Parses "Date: %Y-%m-%d  Time:%H:%M:%S" at the start of `text`.
std::optional<RecordStamp> ParseRecordStamp(const std::string& text);

struct DecodedFrame {
    int line = 0;  // 1-based line of the file on which the frame completed
    std::vector<std::uint8_t> bytes;
    bool checksumOk = false;
    std::optional<double> pitch, roll, heading;  // reading frames with a good checksum
    std::optional<int> status;                   // byte 4 of answers that carry one
    std::optional<std::array<int, 3>> coverage;  // x, y, z percent of a successful stop answer
    std::uint8_t Code() const { return bytes.size() > 3 ? bytes[3] : 0; }
};

struct DecodedFile {
    std::string name;
    std::optional<RecordStamp> start, end;
    std::vector<DecodedFrame> frames;
    int rejectedPieces = 0;
    int shortReadings = 0;      // reading frames too short to hold three values
    std::vector<int> badLines;  // lines that are not hex text, or end inside a frame
};

// Decodes a whole record text. Feeds the process's one assembler and leaves it waiting for a
// start byte again, so files can be decoded one after the other.
DecodedFile DecodeRecord(std::istream& in, const std::string& name);

// Opens and decodes a file; false with `error` set when it cannot be read.
bool DecodeRecordFile(const std::string& path, DecodedFile& out, std::string& error);

// Estimated time of each frame, spread evenly from the header time (first frame) to the end
// time (last frame); empty unless the file has both times.
std::vector<std::string> EstimatedFrameTimes(const DecodedFile& file);

// One CSV row per frame of every file, with a header row. The time_estimated column is there
// when at least one file has both a header and an end time.
void WriteCsv(std::ostream& out, const std::vector<DecodedFile>& files);
