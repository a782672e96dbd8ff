// Record files written with the console's recording code, read back by the decoder.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "Plot.h"
#include "RecordDecoder.h"
#include "Recording.h"
#include "TrafficLog.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::tm Stamp(int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

// Packed BCD of a value in hundredths: sign nibble and hundreds, tens and units, tenths and
// hundredths.
void PutBcd(Bytes& out, int hundredths) {
    const int a = std::abs(hundredths);
    out.push_back(static_cast<std::uint8_t>((hundredths < 0 ? 0x10 : 0) | (a / 10000)));
    out.push_back(static_cast<std::uint8_t>((a / 1000 % 10) << 4 | (a / 100 % 10)));
    out.push_back(static_cast<std::uint8_t>((a / 10 % 10) << 4 | (a % 10)));
}

Bytes Frame(std::uint8_t code, const Bytes& payload, bool goodChecksum = true) {
    Bytes f{0x68, static_cast<std::uint8_t>(payload.size() + 4), 0x01, code};
    f.insert(f.end(), payload.begin(), payload.end());
    unsigned sum = 0;
    for (std::size_t i = 1; i < f.size(); ++i)
        sum += f[i];
    f.push_back(static_cast<std::uint8_t>(sum + (goodChecksum ? 0 : 1)));
    return f;
}

struct Expected {
    Bytes bytes;
    bool ok;
    double pitch, roll, heading;  // NaN when not a reading
};

// A recording session through the console's own log and record operations.
class Session {
public:
    Session() {
        m_folder = std::filesystem::path(testing::TempDir()) /
                   ("torva_decode_" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_folder);
        EXPECT_EQ(m_record.Start(m_folder.string(), Stamp(9, 5, 3)), RecordStart::Started);
    }
    ~Session() { std::filesystem::remove_all(m_folder); }
    void Receive(const Bytes& frame) {
        for (std::uint8_t b : frame)
            m_log.logReceivedByte(b);
        ASSERT_TRUE(m_log.logCompletedFrame(m_record));
    }
    void Reject(const Bytes& piece) {
        for (std::uint8_t b : piece)
            m_log.logReceivedByte(b);
        m_log.logRejected();
        ++rejected;
    }
    void Stop() { ASSERT_EQ(m_log.stopRecording(m_record, Stamp(9, 6, 3)), RecordStop::Stopped); }
    // The file's summary; its frames, handed over one at a time, are kept in `frames`.
    RecordSummary Decode(std::vector<DecodedFrame>& frames) {
        RecordSummary file;
        std::string error;
        EXPECT_TRUE(DecodeRecordFile(m_record.FilePath(), file, error, [&](const DecodedFrame& f) {
            frames.push_back(f);
        })) << error;
        return file;
    }
    int rejected = 0;

private:
    std::filesystem::path m_folder;
    Recorder m_record;
    TrafficLog m_log;
};

// Mostly readings, every 7th with a bad checksum, answers now and then, reading frames that
// hold no reading (too short, or a digit above 9) now and then, rejected pieces (a stray byte,
// or a start byte with a bad length) before every 5th frame.
std::vector<Expected> Play(Session& session, int frames) {
    std::vector<Expected> written;
    const double none = std::nan("");
    for (int i = 0; i < frames; ++i) {
        if (i % 5 == 0)
            session.Reject(i % 10 == 0 ? Bytes{0x12} : Bytes{0x68, 0x32});
        Expected e{{}, i % 7 != 3, none, none, none};
        if (i % 13 == 6) {
            e.bytes = Frame(0x89, {0x00, 0x64, 0x32, 0x0A}, e.ok);
        } else {
            const int p = -4500 + 75 * i, r = 1234 - 31 * i, h = (27140 + 997 * i) % 36000;
            Bytes payload;
            PutBcd(payload, p);
            PutBcd(payload, r);
            PutBcd(payload, h);
            const bool noReading = i % 11 == 10;
            if (noReading && i % 2 == 0)
                payload.resize(3);
            else if (noReading)
                payload[7] = 0xFA;
            e.bytes = Frame(0x84, payload, e.ok);
            if (e.ok && !noReading) {
                e.pitch = p / 100.0;
                e.roll = r / 100.0;
                e.heading = h / 100.0;
            }
        }
        session.Receive(e.bytes);
        written.push_back(e);
    }
    return written;
}

void ExpectFrames(const std::vector<DecodedFrame>& frames, const std::vector<Expected>& written) {
    ASSERT_EQ(frames.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        const DecodedFrame& f = frames[i];
        const Expected& e = written[i];
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(f.bytes, e.bytes);
        EXPECT_EQ(f.checksumOk, e.ok);
        EXPECT_EQ(f.pitch.has_value(), !std::isnan(e.pitch));
        if (f.pitch && f.roll && f.heading) {
            EXPECT_NEAR(*f.pitch, e.pitch, 1e-9);
            EXPECT_NEAR(*f.roll, e.roll, 1e-9);
            EXPECT_NEAR(*f.heading, e.heading, 1e-9);
        }
        const bool coverage = e.ok && e.bytes[3] == 0x89;
        ASSERT_EQ(f.coverage.has_value(), coverage);
        if (coverage) {
            EXPECT_EQ(*f.coverage, (std::array<int, 3>{100, 50, 10}));
        }
    }
}

std::vector<std::string> CsvLines(const RecordSummary& file,
                                  const std::vector<DecodedFrame>& frames) {
    const FrameClock clock(file);
    std::string out = CsvHeader(clock.HasTimes());
    for (std::size_t i = 0; i < frames.size(); ++i)
        AppendCsvRow(out, file.name, frames[i], clock.HasTimes(),
                     clock.TimeOf(static_cast<long long>(i)));
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(DecodeRecord, StoppedRecordingGivesExactlyTheFramesWrittenWithEstimatedTimes) {
    Session session;
    const std::vector<Expected> written = Play(session, 150);  // two full blocks and a rest
    session.Stop();
    std::vector<DecodedFrame> frames;
    const RecordSummary file = session.Decode(frames);
    ExpectFrames(frames, written);
    EXPECT_EQ(file.frames, 150);
    EXPECT_EQ(file.badChecksums, std::count_if(written.begin(), written.end(),
                                               [](const Expected& e) { return !e.ok; }));
    EXPECT_EQ(file.rejectedPieces, session.rejected);
    const auto noReadings = [&](bool isShort) {
        return std::count_if(written.begin(), written.end(), [&](const Expected& e) {
            return e.ok && e.bytes[3] == 0x84 && std::isnan(e.pitch) &&
                   (e.bytes.size() < 14) == isShort;
        });
    };
    EXPECT_EQ(file.shortReadings, noReadings(true));
    EXPECT_EQ(file.nonDecimalReadings, noReadings(false));
    EXPECT_GT(file.shortReadings * file.nonDecimalReadings, 0);
    EXPECT_EQ(file.badLineCount, 0);
    EXPECT_FALSE(file.YieldedNothing());
    ASSERT_TRUE(file.start && file.end);
    EXPECT_EQ(file.start->Text(), "2026-12-07 09:05:03");
    EXPECT_EQ(file.end->Text(), "2026-12-07 09:06:03");

    const FrameClock clock(file);
    ASSERT_TRUE(clock.HasTimes());
    EXPECT_EQ(clock.TimeOf(0), "2026-12-07 09:05:03.000");
    EXPECT_EQ(clock.TimeOf(75), "2026-12-07 09:05:33.201");  // 60 s * 75 / 149
    EXPECT_EQ(clock.TimeOf(149), "2026-12-07 09:06:03.000");
    EXPECT_EQ(clock.TimeOf(150), "");

    const std::vector<std::string> csv = CsvLines(file, frames);
    ASSERT_EQ(csv.size(), written.size() + 1);
    EXPECT_NE(csv[0].find(",time_estimated"), std::string::npos);
    // Bad checksums are listed with 0 and nothing decoded; answers carry status and coverage.
    EXPECT_NE(csv[1 + 3].find(",0x84,0,,,,,,,,2026-12-07 09:05:"), std::string::npos) << csv[4];
    EXPECT_NE(csv[1 + 6].find(",0x89,1,,,,0,100,50,10,"), std::string::npos) << csv[7];
    EXPECT_NE(csv[1 + 0].find(",0x84,1,-45.00,12.34,271.40,,,,,"), std::string::npos) << csv[1];
}

TEST(DecodeRecord, UnstoppedRecordingDecodesItsBlocksWithoutEstimatedTimes) {
    Session session;
    // The window closed while recording: only the two full 60-line blocks reached the file.
    const std::vector<Expected> written = Play(session, 130);
    std::vector<DecodedFrame> frames;
    const RecordSummary file = session.Decode(frames);
    ExpectFrames(frames, std::vector<Expected>(written.begin(), written.begin() + 120));
    EXPECT_TRUE(file.start.has_value());
    EXPECT_FALSE(file.end.has_value());
    EXPECT_FALSE(FrameClock(file).HasTimes());
    const std::vector<std::string> csv = CsvLines(file, frames);
    ASSERT_EQ(csv.size(), 121u);
    EXPECT_EQ(csv[0].find("time_estimated"), std::string::npos);
}

TEST(DecodeRecord, DamagedAndUnusualLinesAreCountedNotDropped) {
    const std::string reading = "68 0D 01 84 10 12 34 00 05 60 03 59 99 42 ";
    const std::string start = "Date: 2026-12-07  Time:09:05:03";
    struct Case {
        const char* name;
        std::string text;
        std::size_t frames;
        int rejected;
        std::vector<long long> badLines;
        bool end;
        const char* reason = "";  // in the first bad line's reason
        long long notRecorded = 0;
    };
    const std::vector<Case> cases = {
        {"plain", start + "\r\n" + reading + "\r\n", 1, 0, {}, false},
        {"pieces before the end line",
         reading + "\r\n12 68 32 End Date: 2026-12-07  Time:09:05:04\r\n",
         1,
         2,
         {},
         true},
        {"text that is not hex",
         "hello\r\n" + reading + "\r\n6 8 0D\r\n",
         1,
         0,
         {1, 3},
         false,
         "not hex text: \"hello\""},
        {"frame cut short, the next still decodes",
         "68 0D 01 84 10\r\n" + reading + "\r\n",
         1,
         0,
         {1},
         false,
         "ends inside a frame"},
        {"two frames on one line (a failed block write)",
         reading + reading + "\r\n",
         2,
         0,
         {},
         false},
        {"bad end time",
         reading + "\r\nEnd Date: 2026-13-40  Time:09:05:04\r\n",
         1,
         0,
         {2},
         false,
         "end line not understood"},
        {"leap second at the end of the last four-digit year",
         reading + "\r\nEnd Date: 9999-12-31  Time:23:59:60\r\n",
         1,
         0,
         {},
         true},
        {"five-digit year",
         reading + "\r\nEnd Date: 10000-01-01  Time:00:00:00\r\n",
         1,
         0,
         {2},
         false,
         "end line not understood"},
        {"a line far longer than any record line",
         std::string(5000, '0') + "\r\n" + reading + "\r\n",
         1,
         0,
         {1},
         false,
         "longer than 4096 characters"},
        {"frames the console could not record, counted where they are missing",
         reading + "\r\n00 Not recorded: 1234 frames\r\n" + reading +
             "\r\nNot recorded: 1 frame\r\n",
         2,
         1,
         {},
         false,
         "",
         1235},
        {"gap line not understood",
         reading + "\r\nNot recorded: many frames\r\n",
         1,
         0,
         {2},
         false,
         "gap line not understood"},
        // Files that yield nothing say why.
        {"CR-only line ends",
         start + "\r" + reading + "\rEnd Date: 2026-12-07  Time:09:05:04\r",
         0,
         0,
         {1},
         false,
         "carriage return inside the line"},
        {"more after the stamp on the first line",
         start + " " + reading + "\r\n",
         0,
         0,
         {1},
         false,
         "start line not understood"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream in(c.text);
        std::vector<DecodedFrame> frames;
        const RecordSummary file =
            DecodeRecord(in, "x", [&](const DecodedFrame& f) { frames.push_back(f); });
        ASSERT_EQ(frames.size(), c.frames);
        EXPECT_EQ(file.frames, static_cast<long long>(c.frames));
        EXPECT_EQ(file.rejectedPieces, c.rejected);
        std::vector<long long> badLines;
        for (const BadLine& bad : file.badLines)
            badLines.push_back(bad.line);
        EXPECT_EQ(badLines, c.badLines);
        EXPECT_EQ(file.badLineCount, static_cast<long long>(c.badLines.size()));
        if (!file.badLines.empty()) {
            EXPECT_NE(file.badLines[0].reason.find(c.reason), std::string::npos)
                << file.badLines[0].reason;
        }
        EXPECT_EQ(file.end.has_value(), c.end);
        EXPECT_EQ(file.notRecorded, c.notRecorded);
        EXPECT_EQ(file.YieldedNothing(), c.frames == 0);
        if (c.frames == 0)
            continue;
        const DecodedFrame& f = frames.back();
        EXPECT_TRUE(f.checksumOk);
        ASSERT_TRUE(f.pitch && f.roll && f.heading);
        EXPECT_NEAR(*f.pitch, -12.34, 1e-9);
        EXPECT_NEAR(*f.roll, 5.6, 1e-9);
        EXPECT_NEAR(*f.heading, 359.99, 1e-9);
    }
}

// A leap second prints as written and, for the estimated times, is the last moment of its
// minute: nothing rolls over into the next day, or into a fifth digit of the year.
TEST(DecodeRecord, LeapSecondStampsPrintAsWrittenAndStayInTheirMinute) {
    RecordSummary file;
    file.start = ParseRecordStamp("Date: 9999-12-31  Time:23:59:58");
    file.end = ParseRecordStamp("Date: 9999-12-31  Time:23:59:60");
    file.frames = 3;
    ASSERT_TRUE(file.start && file.end);
    EXPECT_EQ(file.end->Text(), "9999-12-31 23:59:60");
    const FrameClock clock(file);
    EXPECT_EQ(clock.TimeOf(0), "9999-12-31 23:59:58.000");
    EXPECT_EQ(clock.TimeOf(1), "9999-12-31 23:59:59.000");
    EXPECT_EQ(clock.TimeOf(2), "9999-12-31 23:59:59.999");
    for (const char* text : {"Date: 2026-12-07  Time:09:05:61", "Date: 2026-02-29  Time:09:05:03",
                             "Date: 2026-12-07  Time:09:05:03 ", "Date: 2026-12-07 Time:09:05:03",
                             "Date: +026-12-07  Time:09:05:03"})
        EXPECT_FALSE(ParseRecordStamp(text).has_value()) << text;
}

// Rows of `image` in column `x` whose pixel is near `colour`, as their mean.
double MeanRow(const QImage& image, int x, const QColor& colour) {
    double sum = 0;
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        const QColor c = image.pixelColor(x, y);
        if (std::abs(c.red() - colour.red()) <= 70 && std::abs(c.green() - colour.green()) <= 70 &&
            std::abs(c.blue() - colour.blue()) <= 70) {
            sum += y;
            ++n;
        }
    }
    return n ? sum / n : std::nan("");
}

TEST(Plot, ConstantReadingsGiveLevelLinesAtProportionalHeights) {
    // Heading on its own chart above pitch and roll, over its whole circle: 90, 180 and 270
    // degrees lie a quarter of the chart apart.
    double headingAt[3];
    for (int k = 0; k < 3; ++k) {
        ReadingPlot plot(900);
        for (int n = 0; n < 50; ++n)
            plot.Add(12.5, -3.25, 90.0 * (k + 1));
        const QImage image = plot.Render(QSize(900, 500));
        ASSERT_EQ(image.size(), QSize(900, 500));
        double heading[3], pitch[3], roll[3];
        const int columns[3] = {300, 450, 600};
        for (int i = 0; i < 3; ++i) {
            heading[i] = MeanRow(image, columns[i], kHeadingColour);
            pitch[i] = MeanRow(image, columns[i], kPitchColour);
            roll[i] = MeanRow(image, columns[i], kRollColour);
            ASSERT_FALSE(std::isnan(heading[i]) || std::isnan(pitch[i]) || std::isnan(roll[i]));
            EXPECT_DOUBLE_EQ(heading[i], heading[0]);  // level lines
            EXPECT_DOUBLE_EQ(pitch[i], pitch[0]);
            EXPECT_DOUBLE_EQ(roll[i], roll[0]);
        }
        EXPECT_LT(heading[0], pitch[0]);
        EXPECT_LT(pitch[0], roll[0]);
        headingAt[k] = heading[0];
    }
    EXPECT_LT(headingAt[2], headingAt[1]);  // higher values higher up
    EXPECT_NEAR(headingAt[0] - headingAt[1], headingAt[1] - headingAt[2], 1.5);
}

}  // namespace
