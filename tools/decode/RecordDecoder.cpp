#include "RecordDecoder.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <istream>
#include <ostream>

#include "CommandTable.h"
#include "Response.h"

namespace {

constexpr std::uint8_t kReadingCode = 0x84;
constexpr int kReadingLength = 13;  // L of a reading frame that carries all nine value bytes

std::string MillisecondText(long long ms) {
    using namespace std::chrono;
    const sys_time<milliseconds> when{milliseconds(ms)};
    const auto dayStart = floor<days>(when);
    const year_month_day date{dayStart};
    const hh_mm_ss clock{when - dayStart};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d.%03d", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()),
                  int(clock.subseconds().count()));
    return text;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string Degrees(const std::optional<double>& value) {
    if (!value)
        return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", *value);
    return text;
}

std::string Number(const std::optional<int>& value) {
    return value ? std::to_string(*value) : std::string();
}

// Well-formed hex text: every non-blank character belongs to a pair the codec took.
bool ParseHexLine(const std::string& text, std::vector<std::uint8_t>& bytes) {
    std::size_t digits = 0;
    for (char c : text)
        digits += c != ' ' ? 1 : 0;
    return HexTextToBytes(text, bytes) * 2 == digits;
}

// Interprets the frame the assembler has just completed.
DecodedFrame TakeCompletedFrame(int line, DecodedFile& file) {
    const std::uint8_t* frame = AssembledFrame();
    DecodedFrame out;
    out.line = line;
    out.bytes.assign(frame, frame + frame[1] + 1);
    out.checksumOk = AssembledFrameChecksumHolds();
    if (!out.checksumOk)
        return out;
    const unsigned length = frame[1];
    const std::uint8_t code = frame[3];
    if (code == kReadingCode) {
        if (length < kReadingLength) {
            ++file.shortReadings;
            return out;
        }
        out.pitch = DecodeBcdReading(frame[4], frame[5], frame[6]);
        out.roll = DecodeBcdReading(frame[7], frame[8], frame[9]);
        out.heading = DecodeBcdReading(frame[10], frame[11], frame[12]);
        return out;
    }
    const bool answer = code == 0x85 || code == 0x88 || code == 0x89 || code == 0x8A ||
                        code == 0x8B || code == 0x8F;
    if (!answer || length < 5)
        return out;
    out.status = frame[4];
    if (code == 0x89 && frame[4] != 0xFF && length >= 8)
        out.coverage = std::array<int, 3>{frame[5], frame[6], frame[7]};
    return out;
}

}  // namespace

long long RecordStamp::SecondsSinceEpoch() const {
    using namespace std::chrono;
    const sys_days date{std::chrono::year(year) / month / day};
    return date.time_since_epoch().count() * 86400LL + hour * 3600LL + minute * 60LL + second;
}

std::string RecordStamp::Text() const {
    return MillisecondText(SecondsSinceEpoch() * 1000).substr(0, 19);
}

std::optional<RecordStamp> ParseRecordStamp(const std::string& text) {
    RecordStamp s;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "Date: %4d-%2d-%2d  Time:%2d:%2d:%2d%n", &s.year, &s.month,
                    &s.day, &s.hour, &s.minute, &s.second, &consumed) != 6 ||
        consumed == 0)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(s.year),
                                           std::chrono::month(unsigned(s.month)),
                                           std::chrono::day(unsigned(s.day))};
    if (!date.ok() || s.hour > 23 || s.minute > 59 || s.second > 60 || s.hour < 0 || s.minute < 0 ||
        s.second < 0)
        return std::nullopt;
    return s;
}

DecodedFile DecodeRecord(std::istream& in, const std::string& name) {
    static const std::string kEnd = "End Date: ";
    DecodedFile file;
    file.name = name;
    std::string text;
    std::vector<std::uint8_t> bytes;
    for (int line = 1; std::getline(in, text); ++line) {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (line == 1 && text.rfind("Date: ", 0) == 0) {
            file.start = ParseRecordStamp(text);
            if (!file.start)
                file.badLines.push_back(line);
            continue;
        }
        // Rejected pieces have no line break of their own, so the end line may follow some.
        const std::size_t endAt = text.find(kEnd);
        if (endAt != std::string::npos) {
            file.end = ParseRecordStamp(text.substr(endAt + 4));
            if (!file.end)
                file.badLines.push_back(line);
            text.erase(endAt);
        }
        if (text.find_first_not_of(' ') == std::string::npos)
            continue;
        if (!ParseHexLine(text, bytes)) {
            file.badLines.push_back(line);
            continue;
        }
        FeedOutcome last = FeedOutcome::Rejected;
        for (std::uint8_t byte : bytes) {
            last = FeedByte(byte);
            if (last == FeedOutcome::Rejected)
                ++file.rejectedPieces;
            else if (last == FeedOutcome::Complete)
                file.frames.push_back(TakeCompletedFrame(line, file));
        }
        if (last == FeedOutcome::Stored) {
            // The console writes a line only once its frame is complete: this one was cut.
            file.badLines.push_back(line);
            while (FeedByte(0x00) == FeedOutcome::Stored) {
            }
        }
    }
    return file;
}

bool DecodeRecordFile(const std::string& path, DecodedFile& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    out = DecodeRecord(in, path);
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

std::vector<std::string> EstimatedFrameTimes(const DecodedFile& file) {
    std::vector<std::string> times;
    if (!file.start || !file.end || file.frames.empty())
        return times;
    const long long from = file.start->SecondsSinceEpoch() * 1000;
    const long long span = file.end->SecondsSinceEpoch() * 1000 - from;
    if (span < 0)
        return times;
    const std::size_t n = file.frames.size();
    for (std::size_t i = 0; i < n; ++i) {
        const double share = n > 1 ? double(i) / double(n - 1) : 0.0;
        times.push_back(MillisecondText(from + std::llround(double(span) * share)));
    }
    return times;
}

void WriteCsv(std::ostream& out, const std::vector<DecodedFile>& files) {
    bool timed = false;
    for (const DecodedFile& file : files)
        timed = timed || (file.start && file.end);
    out << "file,line,code,checksum_ok,pitch,roll,heading,status,x_coverage,y_coverage,"
           "z_coverage"
        << (timed ? ",time_estimated" : "") << "\n";
    for (const DecodedFile& file : files) {
        const std::vector<std::string> times = EstimatedFrameTimes(file);
        for (std::size_t i = 0; i < file.frames.size(); ++i) {
            const DecodedFrame& f = file.frames[i];
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", f.Code());
            out << CsvField(file.name) << ',' << f.line << ',' << code << ','
                << (f.checksumOk ? 1 : 0) << ',' << Degrees(f.pitch) << ',' << Degrees(f.roll)
                << ',' << Degrees(f.heading) << ',' << Number(f.status);
            for (int axis = 0; axis < 3; ++axis)
                out << ',' << (f.coverage ? std::to_string((*f.coverage)[std::size_t(axis)]) : "");
            if (timed)
                out << ',' << (i < times.size() ? times[i] : "");
            out << "\n";
        }
    }
}
