#include "RecordDecoder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>

#include "CommandTable.h"
#include "Response.h"

namespace {

// The console's lines are a few hundred characters at most (a frame line, rejected pieces, a
// refused frame's text in front); anything much longer is not a record line and is skipped
// without being held.
constexpr std::size_t kMaxLine = 4096;

std::string MillisecondText(long long ms) {
    using namespace std::chrono;
    const sys_time<milliseconds> when{milliseconds(ms)};
    const auto dayStart = floor<days>(when);
    const year_month_day date{dayStart};
    const hh_mm_ss clock{when - dayStart};
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d.%03d", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()),
                  int(clock.subseconds().count()));
    return text;
}

void AppendCsvField(std::string& out, const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void AppendDegrees(std::string& out, const std::optional<double>& value) {
    if (!value)
        return;
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%.2f", *value);
    out.append(text, static_cast<std::size_t>(n));
}

void AppendNumber(std::string& out, const std::optional<int>& value) {
    if (value)
        out += std::to_string(*value);
}

// The start of a line as it can be shown in a message: quoted, with every byte that is not
// printable ASCII escaped (a terminal takes some of them for commands).
std::string Excerpt(std::string_view text) {
    constexpr std::size_t kShown = 40;
    std::string out = "\"";
    for (char c : text.substr(0, kShown)) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (u < 0x20 || u >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += text.size() > kShown ? "\"..." : "\"";
    return out;
}

int Digits(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// The count of a gap line after its "Not recorded: ": digits, then " frame" or " frames" and
// nothing more.
std::optional<long long> NotRecordedCount(std::string_view text) {
    std::size_t digits = 0;
    long long count = 0;
    while (digits < text.size() && digits < 15 && text[digits] >= '0' && text[digits] <= '9')
        count = count * 10 + (text[digits++] - '0');
    const std::string_view rest = text.substr(digits);
    if (digits == 0 || (rest != " frame" && rest != " frames"))
        return std::nullopt;
    return count;
}

// Well-formed hex text: every non-blank character belongs to a pair the codec took.
bool ParseHexLine(const std::string& text, std::vector<std::uint8_t>& bytes) {
    const auto digits = static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return c != ' '; }));
    return HexTextToBytes(text, bytes) * 2 == digits;
}

// Interprets the frame the assembler has just completed, into `out` (reused, so that a long
// file allocates nothing per frame).
void TakeCompletedFrame(const ResponseAssembler& assembler, long long line, DecodedFrame& out,
                        RecordSummary& summary) {
    const std::uint8_t* frame = assembler.frame();
    out.line = line;
    out.bytes.assign(frame, frame + assembler.frameSize());
    out.checksumOk = assembler.checksumHolds();
    out.pitch = out.roll = out.heading = std::nullopt;
    out.status = std::nullopt;
    out.coverage = std::nullopt;
    ++summary.frames;
    if (!out.checksumOk) {
        ++summary.badChecksums;
        return;
    }
    const std::size_t size = out.bytes.size();
    switch (frame[3]) {
        case ANS_READ: {
            // A reading frame that holds no reading is listed without values and counted, never
            // decoded from the bytes of earlier frames or from digits above 9.
            const std::optional<Reading> reading = ReadingOfFrame(frame, size);
            if (!reading) {
                ++(CheckReadingFrame(frame, size) == ReadingFault::TooShort
                       ? summary.shortReadings
                       : summary.nonDecimalReadings);
                return;
            }
            out.pitch = reading->pitch;
            out.roll = reading->roll;
            out.heading = reading->heading;
            return;
        }
        case ANS_ZERO:
        case ANS_CAL_SAMPLES:
        case ANS_CAL_STOP:
        case ANS_CAL_SAVE:
        case ANS_SET_BAUD:
        case ANS_SET_ADDRESS:
            if (size < 6)  // no status byte
                return;
            out.status = frame[4];
            if (frame[3] == ANS_CAL_STOP && frame[4] != kCalibrationError && size >= 9)
                out.coverage = std::array<int, 3>{frame[5], frame[6], frame[7]};
            return;
        default:
            return;
    }
}

// Lines of a stream read in chunks: each line at most kMaxLine characters (the rest of a
// longer one is skipped), and no more than `limit` bytes in all.
class LineReader {
public:
    LineReader(std::istream& in, std::uint64_t limit) : m_in(in), m_left(limit) {}

    // The next line without its LF; `cut` when it was longer than kMaxLine. False at the end.
    bool Next(std::string& line, bool& cut) {
        line.clear();
        cut = false;
        bool any = false;
        for (;;) {
            if (m_pos == m_end && !Fill())
                return any;
            any = true;
            const char* begin = m_buffer.data() + m_pos;
            const std::size_t available = m_end - m_pos;
            const auto* lf = static_cast<const char*>(std::memchr(begin, '\n', available));
            const std::size_t n = lf != nullptr ? static_cast<std::size_t>(lf - begin) : available;
            const std::size_t room = kMaxLine - line.size();
            line.append(begin, std::min(n, room));
            cut = cut || n > room;
            m_pos += n + (lf != nullptr ? 1 : 0);
            if (lf != nullptr)
                return true;
        }
    }
    std::uint64_t BytesRead() const { return m_read; }

private:
    bool Fill() {
        if (m_left == 0)
            return false;
        const auto want =
            static_cast<std::streamsize>(std::min<std::uint64_t>(m_buffer.size(), m_left));
        m_in.read(m_buffer.data(), want);
        const auto got = static_cast<std::size_t>(m_in.gcount());
        m_left -= got;
        m_read += got;
        m_pos = 0;
        m_end = got;
        return got > 0;
    }

    std::istream& m_in;
    std::uint64_t m_left;
    std::uint64_t m_read = 0;
    std::vector<char> m_buffer = std::vector<char>(1 << 16);
    std::size_t m_pos = 0, m_end = 0;
};

}  // namespace

long long RecordStamp::Milliseconds() const {
    using namespace std::chrono;
    const sys_days date{std::chrono::year(year) / month / day};
    const long long seconds = hour * 3600LL + minute * 60LL + std::min(second, 59);
    return date.time_since_epoch().count() * 86400000LL + seconds * 1000 + (second > 59 ? 999 : 0);
}

std::string RecordStamp::Text() const {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour,
                  minute, second);
    return text;
}

std::optional<RecordStamp> ParseRecordStamp(std::string_view text) {
    // Date: 2026-12-07  Time:09:05:03
    // 0         1         2         3
    // 0123456789012345678901234567890
    static constexpr std::string_view kShape = "Date: 0000-00-00  Time:00:00:00";
    if (text.size() != kShape.size())
        return std::nullopt;
    for (std::size_t i = 0; i < kShape.size(); ++i)
        if (kShape[i] != '0' && text[i] != kShape[i])
            return std::nullopt;
    RecordStamp s;
    s.year = Digits(text, 6, 4);
    s.month = Digits(text, 11, 2);
    s.day = Digits(text, 14, 2);
    s.hour = Digits(text, 23, 2);
    s.minute = Digits(text, 26, 2);
    s.second = Digits(text, 29, 2);
    if (std::min({s.year, s.month, s.day, s.hour, s.minute, s.second}) < 0)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(s.year),
                                           std::chrono::month(unsigned(s.month)),
                                           std::chrono::day(unsigned(s.day))};
    // Second 60 is a leap second, which local time can show in any minute.
    if (!date.ok() || s.hour > 23 || s.minute > 59 || s.second > 60)
        return std::nullopt;
    return s;
}

RecordSummary DecodeRecord(std::istream& in, const std::string& name, const FrameHandler& onFrame,
                           std::uint64_t limit) {
    static const std::string kEnd = "End Date: ";
    static const std::string kGap = "Not recorded: ";
    RecordSummary summary;
    summary.name = name;
    const auto bad = [&summary](long long line, std::string reason) {
        ++summary.badLineCount;
        if (summary.badLines.size() < RecordSummary::kListedBadLines)
            summary.badLines.push_back({line, std::move(reason)});
    };

    ResponseAssembler assembler;
    LineReader reader(in, limit);
    std::string text;
    std::vector<std::uint8_t> bytes;
    DecodedFrame frame;
    bool cut = false;
    for (long long line = 1; reader.Next(text, cut); ++line) {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (text.find('\r') != std::string::npos) {
            bad(line,
                "carriage return inside the line (line ends other than CR LF?): " + Excerpt(text));
            continue;
        }
        if (cut) {
            bad(line, "longer than " + std::to_string(kMaxLine) +
                          " characters, not a record line: " + Excerpt(text));
            continue;
        }
        if (line == 1 && text.rfind("Date: ", 0) == 0) {
            summary.start = ParseRecordStamp(text);
            if (!summary.start)
                bad(line, "start line not understood: " + Excerpt(text));
            continue;
        }
        // Rejected pieces have no line break of their own, so the end line may follow some.
        const std::size_t endAt = text.find(kEnd);
        if (endAt != std::string::npos) {
            const std::string_view stamp = std::string_view(text).substr(endAt + 4);
            summary.end = ParseRecordStamp(stamp);
            if (!summary.end)
                bad(line, "end line not understood: " + Excerpt(text.substr(endAt)));
            text.erase(endAt);
        }
        // Frames the console could not record (its disk was full) are counted where they are
        // missing; rejected pieces may stand before the count.
        const std::size_t gapAt = text.find(kGap);
        if (gapAt != std::string::npos) {
            const auto count = NotRecordedCount(std::string_view(text).substr(gapAt + kGap.size()));
            if (count)
                summary.notRecorded += *count;
            else
                bad(line, "gap line not understood: " + Excerpt(text.substr(gapAt)));
            text.erase(gapAt);
        }
        if (text.find_first_not_of(' ') == std::string::npos)
            continue;
        if (!ParseHexLine(text, bytes)) {
            bad(line, "not hex text: " + Excerpt(text));
            continue;
        }
        ++summary.byteLines;
        FeedOutcome last = FeedOutcome::Rejected;
        for (std::uint8_t byte : bytes) {
            last = assembler.feed(byte);
            if (last == FeedOutcome::Rejected) {
                ++summary.rejectedPieces;
            } else if (last == FeedOutcome::Complete) {
                TakeCompletedFrame(assembler, line, frame, summary);
                if (onFrame)
                    onFrame(frame);
            }
        }
        if (last == FeedOutcome::Stored) {
            // The console writes a line only once its frame is complete: this one was cut.
            bad(line, "not a complete frame line: it ends inside a frame");
            assembler.reset();
        }
    }
    summary.bytes = reader.BytesRead();
    return summary;
}

bool DecodeRecordFile(const std::string& path, RecordSummary& out, std::string& error,
                      const FrameHandler& onFrame, std::uint64_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    // A directory opens like a file and fails only at the first read, without a reason.
    std::error_code statusError;
    if (std::filesystem::is_directory(path, statusError)) {
        error = "cannot read " + path + ": " + std::strerror(EISDIR);
        return false;
    }
    errno = 0;
    out = DecodeRecord(in, path, onFrame, limit);
    if (in.bad()) {
        const int reason = errno;
        error = "cannot read " + path +
                (reason != 0 ? ": " + std::string(std::strerror(reason)) : std::string());
        return false;
    }
    return true;
}

FrameClock::FrameClock(const RecordSummary& summary) {
    if (!summary.start || !summary.end || summary.frames == 0)
        return;
    m_from = summary.start->Milliseconds();
    m_span = summary.end->Milliseconds() - m_from;
    if (m_span >= 0)
        m_frames = summary.frames;
}

std::string FrameClock::TimeOf(long long index) const {
    if (index < 0 || index >= m_frames)
        return {};
    const double share = m_frames > 1 ? double(index) / double(m_frames - 1) : 0.0;
    return MillisecondText(m_from + std::llround(double(m_span) * share));
}

std::string CsvHeader(bool timed) {
    return std::string(
               "file,line,code,checksum_ok,pitch,roll,heading,status,x_coverage,y_coverage,"
               "z_coverage") +
           (timed ? ",time_estimated" : "") + "\n";
}

void AppendCsvRow(std::string& out, const std::string& fileName, const DecodedFrame& f, bool timed,
                  const std::string& time) {
    AppendCsvField(out, fileName);
    char fixed[48];
    const int n = std::snprintf(fixed, sizeof fixed, ",%lld,0x%02X,%d,", f.line, f.Code(),
                                f.checksumOk ? 1 : 0);
    out.append(fixed, static_cast<std::size_t>(n));
    AppendDegrees(out, f.pitch);
    out += ',';
    AppendDegrees(out, f.roll);
    out += ',';
    AppendDegrees(out, f.heading);
    out += ',';
    AppendNumber(out, f.status);
    for (std::size_t axis = 0; axis < 3; ++axis) {
        out += ',';
        if (f.coverage)
            out += std::to_string((*f.coverage)[axis]);
    }
    if (timed) {
        out += ',';
        out += time;
    }
    out += '\n';
}
