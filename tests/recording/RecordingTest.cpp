#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "Recording.h"
#include "TrafficLog.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder for one test; restores the current directory (recording changes it) and
// removes the folder at the end.
class TempFolder {
public:
    TempFolder() {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::current_path(original_, ignored);
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path original_ = fs::current_path();
    fs::path path_ = fs::temp_directory_path() / ("torva-rec-" + std::to_string(::getpid()));
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

int CountLines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

std::string Repeat(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

// The lines of frames "68 04 NN 84 CC " with NN = first, first + 1, ...
std::string Lines(int first, int count = 1) {
    std::string text;
    for (int n = first; n < first + count; ++n) {
        char line[32];
        std::snprintf(line, sizeof line, "68 04 %02X 84 %02X \r\n", n & 0xFF, (0x88 + n) & 0xFF);
        text += line;
    }
    return text;
}

// The Received log and the text of the frame being assembled, as the window holds them.
struct Logs {
    std::string received;
    std::string frameHex;

    bool Frames(int first, int count = 1) {
        bool ok = true;
        for (int n = first; n < first + count; ++n) {
            for (int b : {0x68, 0x04, n, 0x84, 0x88 + n}) {
                LogReceivedByte(frameHex, static_cast<std::uint8_t>(b));
            }
            ok = LogCompletedFrame(received, frameHex) && ok;
        }
        return ok;
    }
    void Pieces(int count, std::uint8_t byte = 0) {
        for (int i = 0; i < count; ++i) {
            LogReceivedByte(frameHex, byte);
            LogRejectedBytes(received, frameHex);
        }
    }
};

std::tm Time(const char* text) {
    std::tm t{};
    ::strptime(text, "%Y-%m-%d %H:%M:%S", &t);
    return t;
}

const std::tm kStart = Time("2026-12-07 09:05:03");
const std::tm kStop = Time("2001-01-02 00:00:09");
const std::string kHeader = "Date: 2026-12-07  Time:09:05:03\r\n";
const std::string kEndLine = "End Date: 2001-01-02  Time:00:00:09\r\n";

// Points the record file at a device where every write fails with "no space".
void ReplaceRecordFileByDevFull() {
    fs::remove(RecordFilePath());
    fs::create_symlink("/dev/full", RecordFilePath());
}

// A script of sends: R read request, C counted, U uncounted (each with a repeat count), and
// X for the Clear button, which empties only the text. Each case runs in its own process, so
// the count starts at zero.
struct SendScript {
    const char* script;
    int lines;       // in the log afterwards
    unsigned count;  // SendLineCount() afterwards
};

class SendLog : public ::testing::TestWithParam<SendScript> {};

TEST_P(SendLog, EmptiesAtTheReadRequestAfter60CountedLines) {
    const std::string read = "68 04 00 04 08 ";
    const std::string other = "68 05 00 05 01 0b ";
    std::string sendLog;
    std::istringstream script(GetParam().script);
    char op = 0;
    int times = 0;
    while (script >> op) {
        if (op == 'X') {
            sendLog.clear();
            continue;
        }
        script >> times;
        const auto variant = op == 'R'   ? SendLogVariant::ReadRequest
                             : op == 'C' ? SendLogVariant::Counted
                                         : SendLogVariant::Uncounted;
        for (int i = 0; i < times; ++i) {
            LogSentFrame(sendLog, op == 'R' ? read : other, variant);
        }
    }
    EXPECT_EQ(CountLines(sendLog), GetParam().lines);
    EXPECT_EQ(SendLineCount(), GetParam().count);
    // Every send appends its text and CR LF.
    const std::string& last = op == 'R' ? read : other;
    EXPECT_EQ(sendLog.substr(sendLog.size() - last.size() - 2), last + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, SendLog,
    ::testing::Values(SendScript{"R60", 60, 60}, SendScript{"R61", 1, 1},
                      // Counted sends push past 60, and the next read request empties.
                      SendScript{"R60 C10", 70, 70}, SendScript{"R60 C10 R1", 1, 1},
                      SendScript{"R59 C1 R1", 1, 1},
                      // Clear at 59 keeps the count.
                      SendScript{"R59 X R1", 1, 60}, SendScript{"R59 X R1 C1 R1", 1, 1},
                      // The uncounted line neither counts nor empties.
                      SendScript{"R59 U1 R1", 61, 60}, SendScript{"R60 U1", 61, 60},
                      // 8 bits: 256 counted sends wrap to 0.
                      SendScript{"C255", 255, 255}, SendScript{"C256 R1", 257, 1}),
    [](const auto& info) {
        std::string name = info.param.script;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST(ReceivedLog, FrameLinesAndRejectedPieces) {
    Logs logs;
    for (std::uint8_t b : {0x00, 0x0A, 0x9F, 0xAB, 0xFF}) {
        LogReceivedByte(logs.frameHex, b);
    }
    EXPECT_EQ(logs.frameHex, "00 0A 9F AB FF ");
    logs.frameHex.clear();
    logs.received = "earlier\r\n";
    EXPECT_TRUE(logs.Frames(1));
    EXPECT_EQ(logs.received, "earlier\r\n" + Lines(1));
    EXPECT_EQ(logs.frameHex, "");
    EXPECT_EQ(FramesSinceFlush(), 1u);

    // A rejected piece gets no line break; every tenth piece does, frame lines not counting.
    logs.received.clear();
    logs.Pieces(4);
    LogReceivedByte(logs.frameHex, 0x68);
    LogReceivedByte(logs.frameHex, 0x32);
    LogRejectedBytes(logs.received, logs.frameHex);
    EXPECT_EQ(logs.received, Repeat("00 ", 4) + "68 32 ");
    EXPECT_EQ(logs.frameHex, "");
    EXPECT_TRUE(logs.Frames(1));
    logs.Pieces(5, 0x11);
    logs.Pieces(10, 0x22);
    EXPECT_EQ(logs.received, Repeat("00 ", 4) + "68 32 " + Lines(1) + Repeat("11 ", 5) + "\r\n" +
                                 Repeat("22 ", 10) + "\r\n");
}

TEST(ReceivedLog, The61stFrameEmptiesTheLogWhenNotRecording) {
    Logs logs;
    EXPECT_TRUE(logs.Frames(0, 30));
    logs.received.clear();  // the Clear button keeps the frame count
    EXPECT_TRUE(logs.Frames(30, 30));
    EXPECT_EQ(logs.received, Lines(30, 30));
    EXPECT_EQ(FramesSinceFlush(), 60u);
    EXPECT_TRUE(logs.Frames(60));
    EXPECT_EQ(logs.received, Lines(60));
    EXPECT_EQ(FramesSinceFlush(), 1u);
}

TEST(RecordLines, FormatsAndDefaultFolder) {
    EXPECT_EQ(RecordHeaderLine(kStart), kHeader);
    EXPECT_EQ(RecordEndLine(kStop), kEndLine);
    std::tm now = LocalTimeNow();
    EXPECT_NEAR(static_cast<double>(std::mktime(&now)), static_cast<double>(std::time(nullptr)), 2);

    for (const auto& [home, folder] : {std::pair{"/home/op", "/home/op/COMDATA"},
                                       {"/home/op/", "/home/op/COMDATA"},
                                       {"", "/tmp/COMDATA"}}) {
        ASSERT_EQ(setenv("HOME", home, 1), 0);
        EXPECT_EQ(DefaultSaveFolder(), folder) << home;
    }
    ASSERT_EQ(unsetenv("HOME"), 0);
    EXPECT_EQ(DefaultSaveFolder(), "/tmp/COMDATA");
}

TEST(StartRecording, CreatesTheFolderAndItsParentsAndWritesTheHeader) {
    TempFolder tmp;
    const fs::path folder = tmp.path() / "a" / "b";
    EXPECT_FALSE(IsRecording());
    ASSERT_EQ(StartRecording(folder.string() + "/", kStart), RecordStart::Started);
    EXPECT_TRUE(IsRecording());
    EXPECT_EQ(RecordFileName(), "Rec00.txt");
    EXPECT_TRUE(fs::equivalent(fs::current_path(), folder));
    EXPECT_TRUE(fs::equivalent(RecordFilePath(), folder / "Rec00.txt"));
    EXPECT_EQ(ReadFile(folder / "Rec00.txt"), kHeader);
}

TEST(StartRecording, TakesTheLowestFreeNameAndOverwritesNothing) {
    TempFolder tmp;
    WriteFile(tmp.path() / "Rec00.txt", "zero");
    WriteFile(tmp.path() / "Rec01.txt", "one");
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    EXPECT_EQ(RecordFileName(), "Rec02.txt");
    // No frame line since the start: the pieces in the log are not written, only the end line.
    ASSERT_EQ(StopRecording("00 11 ", kStop), RecordStop::Stopped);
    // A directory and a dangling link take their names too.
    fs::create_directory(tmp.path() / "Rec03.txt");
    fs::create_symlink(tmp.path() / "nowhere", tmp.path() / "Rec04.txt");
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    EXPECT_EQ(RecordFileName(), "Rec05.txt");
    EXPECT_EQ(ReadFile(tmp.path() / "Rec00.txt"), "zero");
    EXPECT_EQ(ReadFile(tmp.path() / "Rec01.txt"), "one");
    EXPECT_EQ(ReadFile(tmp.path() / "Rec02.txt"), kHeader + kEndLine);
    EXPECT_TRUE(fs::is_directory(tmp.path() / "Rec03.txt"));
    EXPECT_FALSE(fs::exists(tmp.path() / "nowhere"));
    EXPECT_EQ(ReadFile(tmp.path() / "Rec05.txt"), kHeader);
}

TEST(StartRecording, AllHundredNamesTakenTouchesNothing) {
    TempFolder tmp;
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(48);
    for (int n = 0; n < 100; ++n) {
        const fs::path file =
            tmp.path() / ("Rec" + std::to_string(n / 10) + std::to_string(n % 10) + ".txt");
        WriteFile(file, file.filename().string());
        fs::last_write_time(file, old);
    }
    EXPECT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::AllNamesTaken);
    EXPECT_FALSE(IsRecording());
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(tmp.path())) {
        ++entries;
        EXPECT_EQ(ReadFile(entry.path()), entry.path().filename().string());
        EXPECT_EQ(fs::last_write_time(entry.path()), old) << entry.path();
    }
    EXPECT_EQ(entries, 100);
}

TEST(StartRecording, UnwritableFolderFailsToCreate) {
    TempFolder tmp;
    // A parent that is a regular file leaves the current directory in place, and a removed
    // current directory takes no new entries: even root cannot create the file.
    WriteFile(tmp.path() / "afile", "not a folder");
    fs::create_directory(tmp.path() / "gone");
    fs::current_path(tmp.path() / "gone");
    fs::remove(tmp.path() / "gone");
    EXPECT_EQ(StartRecording((tmp.path() / "afile" / "sub").string(), kStart),
              RecordStart::CreateFailed);
    EXPECT_FALSE(IsRecording());
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);
    EXPECT_EQ(ReadFile(tmp.path() / "afile"), "not a folder");
}

TEST(Recording, The61stFrameWritesABlockAnd600PiecesEmptyTheLog) {
    TempFolder tmp;
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    Logs logs;
    logs.Pieces(1);  // a rejected piece goes out with its block
    ASSERT_TRUE(logs.Frames(0, 60));
    EXPECT_EQ(ReadFile(RecordFilePath()), kHeader);
    ASSERT_TRUE(logs.Frames(60));
    EXPECT_EQ(ReadFile(RecordFilePath()), kHeader + "00 " + Lines(0, 60));
    EXPECT_EQ(logs.received, Lines(60));
    EXPECT_EQ(FramesSinceFlush(), 1u);
    // 600 rejected pieces in all empty the log, which is never recorded, and leave the frame
    // count alone; the piece count starts over.
    logs.Pieces(599);
    EXPECT_EQ(logs.received, "");
    EXPECT_EQ(ReadFile(RecordFilePath()), kHeader + "00 " + Lines(0, 60));
    EXPECT_EQ(FramesSinceFlush(), 1u);
    logs.Pieces(10);
    EXPECT_EQ(logs.received, Repeat("00 ", 10) + "\r\n");
}

// The record file keeps its full path: appends reach it after the current directory changes.
TEST(Recording, StartAndStopWithFivePendingFramesElsewhere) {
    TempFolder tmp;
    fs::create_directory(tmp.path() / "elsewhere");
    Logs logs;
    ASSERT_TRUE(logs.Frames(0, 5));
    ASSERT_EQ(StartRecording((tmp.path() / "first").string(), kStart), RecordStart::Started);
    fs::current_path(tmp.path() / "elsewhere");
    EXPECT_EQ(StopRecording(logs.received, kStop), RecordStop::Stopped);
    EXPECT_FALSE(IsRecording());
    EXPECT_EQ(ReadFile(tmp.path() / "first" / "Rec00.txt"), kHeader + Lines(0, 5) + kEndLine);
    EXPECT_TRUE(fs::is_empty(tmp.path() / "elsewhere"));
    // Stopping neither empties the log nor resets the count.
    EXPECT_EQ(logs.received, Lines(0, 5));
    EXPECT_EQ(FramesSinceFlush(), 5u);
}

TEST(Recording, FailedBlockWriteKeepsTheLineAndTheLog) {
    TempFolder tmp;
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    ReplaceRecordFileByDevFull();
    Logs logs;
    ASSERT_TRUE(logs.Frames(0, 60));
    EXPECT_FALSE(logs.Frames(60));
    EXPECT_EQ(logs.received, Lines(0, 60));
    EXPECT_EQ(logs.frameHex, "68 04 3C 84 C4 ");
    EXPECT_TRUE(IsRecording());
    // The next frame's line carries the kept text at its front, after the 60 lines.
    ASSERT_TRUE(logs.Frames(61));
    EXPECT_EQ(logs.received, Lines(0, 60) + "68 04 3C 84 C4 " + Lines(61));
    EXPECT_EQ(FramesSinceFlush(), 1u);
}

// With a frame pending the block fails first; without one the end line does, whether the
// file is full or cannot be opened at all. Recording is off afterwards either way.
enum class StopFault { FullWithFrame, Full, Directory };

class StopFailure : public ::testing::TestWithParam<StopFault> {};

TEST_P(StopFailure, IsReportedAndEndsTheRecording) {
    TempFolder tmp;
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    Logs logs;
    if (GetParam() == StopFault::FullWithFrame) {
        ASSERT_TRUE(logs.Frames(1));
    }
    if (GetParam() == StopFault::Directory) {
        fs::remove(RecordFilePath());
        fs::create_directory(RecordFilePath());
    } else {
        ReplaceRecordFileByDevFull();
    }
    EXPECT_EQ(StopRecording(logs.received, kStop), GetParam() == StopFault::FullWithFrame
                                                       ? RecordStop::BlockFailed
                                                       : RecordStop::EndLineFailed);
    EXPECT_FALSE(IsRecording());
}

INSTANTIATE_TEST_SUITE_P(Recording, StopFailure,
                         ::testing::Values(StopFault::FullWithFrame, StopFault::Full,
                                           StopFault::Directory));

}  // namespace
