#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "Recording.h"
#include "TempFolder.h"
#include "TrafficLog.h"

namespace fs = std::filesystem;

namespace {

std::tm MakeTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

const std::tm kStart = MakeTime(2026, 12, 7, 9, 5, 3);
const std::tm kStop = MakeTime(2026, 12, 7, 9, 6, 0);
const std::string kHeader = "Date: 2026-12-07  Time:09:05:03\r\n";
const std::string kEndLine = "End Date: 2026-12-07  Time:09:06:00\r\n";

// Completes one frame whose line is "68 04 NN 84 CC " with NN = n (so each line is distinct).
bool CompleteNumberedFrame(std::string& received, std::string& frameHex, int n) {
    const auto address = static_cast<std::uint8_t>(n);
    for (std::uint8_t b : {std::uint8_t{0x68}, std::uint8_t{0x04}, address, std::uint8_t{0x84},
                           static_cast<std::uint8_t>(0x88 + address)}) {
        LogReceivedByte(frameHex, b);
    }
    return LogCompletedFrame(received, frameHex);
}

std::string NumberedLine(int n) {
    char text[32];
    std::snprintf(text, sizeof text, "68 04 %02X 84 %02X \r\n", n & 0xFF, (0x88 + n) & 0xFF);
    return text;
}

std::string NumberedLines(int first, int count) {
    std::string text;
    for (int n = first; n < first + count; ++n) {
        text += NumberedLine(n);
    }
    return text;
}

// Points the current record file at a device where every write fails with "no space".
void ReplaceRecordFileByDevFull() {
    const fs::path path = RecordFilePath();
    fs::remove(path);
    fs::create_symlink("/dev/full", path);
}

TEST(RecordLines, HeaderAndEndLineFormats) {
    const struct {
        std::tm when;
        const char* header;
        const char* end;
    } cases[] = {
        {kStart, "Date: 2026-12-07  Time:09:05:03\r\n", "End Date: 2026-12-07  Time:09:05:03\r\n"},
        {MakeTime(2001, 1, 2, 0, 0, 9), "Date: 2001-01-02  Time:00:00:09\r\n",
         "End Date: 2001-01-02  Time:00:00:09\r\n"},
        {MakeTime(1999, 12, 31, 23, 59, 59), "Date: 1999-12-31  Time:23:59:59\r\n",
         "End Date: 1999-12-31  Time:23:59:59\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        EXPECT_EQ(RecordHeaderLine(c.when), c.header);
        EXPECT_EQ(RecordEndLine(c.when), c.end);
    }
}

TEST(LocalTimeNow, AgreesWithTheClock) {
    const std::time_t before = std::time(nullptr);
    std::tm now = LocalTimeNow();
    const std::time_t after = std::time(nullptr);
    const std::time_t back = std::mktime(&now);
    EXPECT_GE(back, before);
    EXPECT_LE(back, after);
}

TEST(DefaultSaveFolder, UnderHomeOrTmp) {
    ASSERT_EQ(setenv("HOME", "/home/operator", 1), 0);
    EXPECT_EQ(DefaultSaveFolder(), "/home/operator/COMDATA");
    ASSERT_EQ(setenv("HOME", "/home/operator/", 1), 0);
    EXPECT_EQ(DefaultSaveFolder(), "/home/operator/COMDATA");
    ASSERT_EQ(setenv("HOME", "/", 1), 0);
    EXPECT_EQ(DefaultSaveFolder(), "/COMDATA");
    ASSERT_EQ(setenv("HOME", "", 1), 0);
    EXPECT_EQ(DefaultSaveFolder(), "/tmp/COMDATA");
    ASSERT_EQ(unsetenv("HOME"), 0);
    EXPECT_EQ(DefaultSaveFolder(), "/tmp/COMDATA");
}

TEST(StartRecording, CreatesTheFolderAndItsParentsAndWritesTheHeader) {
    TempFolder tmp;
    const fs::path folder = tmp.path() / "a" / "b" / "c";
    EXPECT_FALSE(IsRecording());
    ASSERT_EQ(StartRecording(folder.string(), kStart), RecordStart::Started);
    EXPECT_TRUE(IsRecording());
    EXPECT_EQ(RecordFileName(), "Rec00.txt");
    EXPECT_TRUE(fs::equivalent(fs::current_path(), folder));
    EXPECT_TRUE(fs::equivalent(RecordFilePath(), folder / "Rec00.txt"));
    EXPECT_EQ(ReadWholeFile(folder / "Rec00.txt"), kHeader);
}

TEST(StartRecording, TrailingSeparatorIsHarmless) {
    TempFolder tmp;
    const fs::path folder = tmp.path() / "x" / "y";
    ASSERT_EQ(StartRecording(folder.string() + "/", kStart), RecordStart::Started);
    EXPECT_EQ(ReadWholeFile(folder / "Rec00.txt"), kHeader);
}

TEST(StartRecording, TakesTheLowestFreeNumber) {
    TempFolder tmp;
    WriteWholeFile(tmp.path() / "Rec00.txt", "zero");
    WriteWholeFile(tmp.path() / "Rec01.txt", "one");
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    EXPECT_EQ(RecordFileName(), "Rec02.txt");
    EXPECT_EQ(ReadWholeFile(tmp.path() / "Rec00.txt"), "zero");
    EXPECT_EQ(ReadWholeFile(tmp.path() / "Rec01.txt"), "one");
    EXPECT_EQ(ReadWholeFile(tmp.path() / "Rec02.txt"), kHeader);
}

TEST(StartRecording, DirectoriesAndDanglingLinksTakeTheirNames) {
    TempFolder tmp;
    WriteWholeFile(tmp.path() / "Rec00.txt", "zero");
    fs::create_symlink(tmp.path() / "nowhere", tmp.path() / "Rec01.txt");
    fs::create_directory(tmp.path() / "Rec02.txt");
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    EXPECT_EQ(RecordFileName(), "Rec03.txt");
    EXPECT_FALSE(fs::exists(tmp.path() / "nowhere"));
    EXPECT_TRUE(fs::is_directory(tmp.path() / "Rec02.txt"));
    EXPECT_EQ(ReadWholeFile(tmp.path() / "Rec03.txt"), kHeader);
}

TEST(StartRecording, AllHundredNamesTakenTouchesNothing) {
    TempFolder tmp;
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(48);
    for (int n = 0; n < 100; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "Rec%02d.txt", n);
        WriteWholeFile(tmp.path() / name, std::string("record ") + name);
        fs::last_write_time(tmp.path() / name, old);
    }
    EXPECT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::AllNamesTaken);
    EXPECT_FALSE(IsRecording());

    int entries = 0;
    for (const auto& entry : fs::directory_iterator(tmp.path())) {
        ++entries;
        SCOPED_TRACE(entry.path().string());
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(ReadWholeFile(entry.path()), "record " + name);
        EXPECT_EQ(fs::last_write_time(entry.path()), old);
    }
    EXPECT_EQ(entries, 100);
}

TEST(StartRecording, NewRecordingNeverReusesAnOlderFile) {
    TempFolder tmp;
    std::string received;
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    ASSERT_EQ(StopRecording(received, kStop), RecordStop::Stopped);
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    EXPECT_EQ(RecordFileName(), "Rec01.txt");
    EXPECT_EQ(ReadWholeFile(tmp.path() / "Rec00.txt"), kHeader + kEndLine);
    EXPECT_EQ(ReadWholeFile(tmp.path() / "Rec01.txt"), kHeader);
}

TEST(StartRecording, UnwritableFolderAndCurrentDirectoryFailToCreate) {
    TempFolder tmp;
    // A parent that is a regular file: no directory can be made below it, not even by root.
    WriteWholeFile(tmp.path() / "afile", "not a folder");
    // A removed current directory cannot get new entries either.
    const fs::path gone = tmp.path() / "gone";
    fs::create_directory(gone);
    fs::current_path(gone);
    fs::remove(gone);

    EXPECT_EQ(StartRecording((tmp.path() / "afile" / "sub").string(), kStart),
              RecordStart::CreateFailed);
    EXPECT_FALSE(IsRecording());
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(tmp.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(ReadWholeFile(tmp.path() / "afile"), "not a folder");
}

TEST(Recording, The61stFrameWritesTheFirst60LinesAsABlock) {
    TempFolder tmp;
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    std::string received;
    std::string frameHex;
    for (int n = 0; n < 60; ++n) {
        ASSERT_TRUE(CompleteNumberedFrame(received, frameHex, n));
    }
    EXPECT_EQ(ReadWholeFile(RecordFilePath()), kHeader);
    ASSERT_TRUE(CompleteNumberedFrame(received, frameHex, 60));
    EXPECT_EQ(ReadWholeFile(RecordFilePath()), kHeader + NumberedLines(0, 60));
    EXPECT_EQ(received, NumberedLine(60));
    EXPECT_EQ(FramesSinceFlush(), 1u);
}

TEST(Recording, RejectedPiecesGoOutWithTheirBlock) {
    TempFolder tmp;
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    std::string received;
    std::string frameHex;
    LogReceivedByte(frameHex, 0x00);
    LogRejectedBytes(received, frameHex);
    for (int n = 0; n < 61; ++n) {
        ASSERT_TRUE(CompleteNumberedFrame(received, frameHex, n));
    }
    EXPECT_EQ(ReadWholeFile(RecordFilePath()), kHeader + "00 " + NumberedLines(0, 60));
}

TEST(Recording, SixHundredPiecesEmptyTheLogWithoutWritingIt) {
    TempFolder tmp;
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    std::string received;
    std::string frameHex;
    ASSERT_TRUE(CompleteNumberedFrame(received, frameHex, 1));
    for (int i = 0; i < 600; ++i) {
        LogReceivedByte(frameHex, 0x00);
        LogRejectedBytes(received, frameHex);
    }
    EXPECT_EQ(received, "");
    EXPECT_EQ(ReadWholeFile(RecordFilePath()), kHeader);
    EXPECT_EQ(FramesSinceFlush(), 1u);
}

TEST(Recording, StartAndStopWithFivePendingFrames) {
    TempFolder tmp;
    std::string received;
    std::string frameHex;
    for (int n = 0; n < 5; ++n) {
        ASSERT_TRUE(CompleteNumberedFrame(received, frameHex, n));
    }
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    EXPECT_EQ(StopRecording(received, kStop), RecordStop::Stopped);
    EXPECT_FALSE(IsRecording());
    EXPECT_EQ(ReadWholeFile(tmp.path() / "Rec00.txt"), kHeader + NumberedLines(0, 5) + kEndLine);
    // Stopping neither empties the log nor resets the count.
    EXPECT_EQ(received, NumberedLines(0, 5));
    EXPECT_EQ(FramesSinceFlush(), 5u);
}

TEST(Recording, StopWithNoFrameSinceProgramStartAddsOnlyTheEndLine) {
    TempFolder tmp;
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    // The log text alone is not written: no frame line was added.
    EXPECT_EQ(StopRecording("00 11 ", kStop), RecordStop::Stopped);
    EXPECT_EQ(ReadWholeFile(tmp.path() / "Rec00.txt"), kHeader + kEndLine);
}

TEST(Recording, AppendsReachTheFileAfterTheCurrentDirectoryChanges) {
    TempFolder tmp;
    const fs::path first = tmp.path() / "first";
    const fs::path elsewhere = tmp.path() / "elsewhere";
    fs::create_directory(elsewhere);
    std::string received;
    std::string frameHex;
    ASSERT_EQ(StartRecording(first.string(), kStart), RecordStart::Started);
    fs::current_path(elsewhere);
    ASSERT_TRUE(CompleteNumberedFrame(received, frameHex, 7));
    EXPECT_EQ(StopRecording(received, kStop), RecordStop::Stopped);
    EXPECT_EQ(ReadWholeFile(first / "Rec00.txt"), kHeader + NumberedLine(7) + kEndLine);
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST(Recording, FailedBlockWriteKeepsTheLineAndTheLog) {
    TempFolder tmp;
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    ReplaceRecordFileByDevFull();
    std::string received;
    std::string frameHex;
    for (int n = 0; n < 60; ++n) {
        ASSERT_TRUE(CompleteNumberedFrame(received, frameHex, n));
    }
    EXPECT_FALSE(CompleteNumberedFrame(received, frameHex, 60));
    EXPECT_EQ(received, NumberedLines(0, 60));
    EXPECT_EQ(frameHex, "68 04 3C 84 C4 ");
    EXPECT_EQ(FramesSinceFlush(), 0u);
    EXPECT_TRUE(IsRecording());

    // The next frame's line carries the kept text at its front, after the 60 lines.
    ASSERT_TRUE(CompleteNumberedFrame(received, frameHex, 61));
    EXPECT_EQ(received, NumberedLines(0, 60) + "68 04 3C 84 C4 " + NumberedLine(61));
    EXPECT_EQ(FramesSinceFlush(), 1u);
}

TEST(Recording, StopReportsAFailedBlock) {
    TempFolder tmp;
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    std::string received;
    std::string frameHex;
    ASSERT_TRUE(CompleteNumberedFrame(received, frameHex, 1));
    ReplaceRecordFileByDevFull();
    EXPECT_EQ(StopRecording(received, kStop), RecordStop::BlockFailed);
    EXPECT_FALSE(IsRecording());
}

TEST(Recording, StopReportsAFailedEndLine) {
    TempFolder tmp;
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    ReplaceRecordFileByDevFull();
    EXPECT_EQ(StopRecording("", kStop), RecordStop::EndLineFailed);
    EXPECT_FALSE(IsRecording());
}

TEST(AppendRecordBlock, FailsWhenTheFileCannotBeOpened) {
    TempFolder tmp;
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    // A directory in place of the file cannot be opened for appending.
    fs::remove(RecordFilePath());
    fs::create_directory(RecordFilePath());
    EXPECT_FALSE(AppendRecordBlock("68 04 01 84 89 \r\n"));
}

TEST(AppendRecordBlock, RecreatesAMissingFileAndKeepsContent) {
    TempFolder tmp;
    ASSERT_EQ(StartRecording(tmp.path().string(), kStart), RecordStart::Started);
    EXPECT_TRUE(AppendRecordBlock("one\r\n"));
    EXPECT_TRUE(AppendRecordBlock("two\r\n"));
    EXPECT_EQ(ReadWholeFile(RecordFilePath()), kHeader + "one\r\ntwo\r\n");
    fs::remove(RecordFilePath());
    EXPECT_TRUE(AppendRecordBlock("three\r\n"));
    EXPECT_EQ(ReadWholeFile(RecordFilePath()), "three\r\n");
}

}  // namespace
