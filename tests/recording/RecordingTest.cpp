#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "FileSizeLimit.h"
#include "Recording.h"
#include "ScopedEnv.h"
#include "SmallFileSystem.h"
#include "TrafficLog.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder for one test; restores the current directory (some tests change it) and
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

// The traffic logs and the record, as a session holds them.
struct Logs {
    explicit Logs(std::size_t hold = Recorder::kHoldLimit) : record(hold) {}

    Recorder record;
    TrafficLog log;

    const std::string& received() const { return log.receivedText(); }
    bool Frames(int first, int count = 1) {
        bool ok = true;
        for (int n = first; n < first + count; ++n) {
            for (int b : {0x68, 0x04, n, 0x84, 0x88 + n}) {
                log.logReceivedByte(static_cast<std::uint8_t>(b));
            }
            ok = log.logCompletedFrame(record) && ok;
        }
        return ok;
    }
    void Pieces(int count, std::uint8_t byte = 0) {
        for (int i = 0; i < count; ++i) {
            log.logReceivedByte(byte);
            log.logRejected();
        }
    }
    RecordStop Stop(const std::tm& now) { return log.stopRecording(record, now); }
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

// Runs `action` in a child process as user nobody (as the test's own user when not root), the
// way another user of a shared folder would act; false when it failed.
bool AsAnotherUser(const std::function<bool()>& action) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (nobody == nullptr || ::setgroups(0, nullptr) != 0 ||
                ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)
                ::_exit(3);
        }
        ::_exit(action() ? 0 : 1);  // no leak check: it cannot inspect a changed user
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// A script of sends: R read request, C counted, U uncounted (each with a repeat count), and
// X for the Clear button, which empties only the text.
struct SendScript {
    const char* script;
    int lines;       // in the log afterwards
    unsigned count;  // SendLineCount() afterwards
};

class SendLog : public ::testing::TestWithParam<SendScript> {};

TEST_P(SendLog, EmptiesAtTheReadRequestAfter60CountedLines) {
    const std::string read = "68 04 00 04 08 ";
    const std::string other = "68 05 00 05 01 0b ";
    TrafficLog log;
    std::istringstream script(GetParam().script);
    char op = 0;
    int times = 0;
    while (script >> op) {
        if (op == 'X') {
            log.clearSend();
            continue;
        }
        script >> times;
        const auto variant = op == 'R'   ? SendLogVariant::ReadRequest
                             : op == 'C' ? SendLogVariant::Counted
                                         : SendLogVariant::Uncounted;
        for (int i = 0; i < times; ++i) {
            log.logSent(op == 'R' ? read : other, variant);
        }
    }
    const std::string& sendLog = log.sendText();
    EXPECT_EQ(CountLines(sendLog), GetParam().lines);
    EXPECT_EQ(log.sendLineCount(), GetParam().count);
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
        logs.log.logReceivedByte(b);
    }
    EXPECT_EQ(logs.log.frameHex(), "00 0A 9F AB FF ");
    logs.log.logRejected();                   // a piece of five bytes, as a test can make it
    logs.log.setReceivedText("earlier\r\n");  // as the operator may type into the pane
    EXPECT_TRUE(logs.Frames(1));
    EXPECT_EQ(logs.received(), "earlier\r\n" + Lines(1));
    EXPECT_EQ(logs.log.frameHex(), "");
    EXPECT_EQ(logs.log.framesSinceFlush(), 1u);

    // A rejected piece gets no line break; every tenth piece does, frame lines not counting.
    logs.log.clearReceived();
    logs.Pieces(3);
    logs.log.logReceivedByte(0x68);
    logs.log.logReceivedByte(0x32);
    logs.log.logRejected();
    EXPECT_EQ(logs.received(), Repeat("00 ", 3) + "68 32 ");
    EXPECT_EQ(logs.log.frameHex(), "");
    EXPECT_TRUE(logs.Frames(1));
    logs.Pieces(5, 0x11);
    logs.Pieces(10, 0x22);
    EXPECT_EQ(logs.received(), Repeat("00 ", 3) + "68 32 " + Lines(1) + Repeat("11 ", 5) + "\r\n" +
                                   Repeat("22 ", 10) + "\r\n");
}

TEST(ReceivedLog, The61stFrameEmptiesTheLogWhenNotRecording) {
    Logs logs;
    EXPECT_TRUE(logs.Frames(0, 30));
    logs.log.clearReceived();  // the Clear button keeps the frame count
    EXPECT_TRUE(logs.Frames(30, 30));
    EXPECT_EQ(logs.received(), Lines(30, 30));
    EXPECT_EQ(logs.log.framesSinceFlush(), 60u);
    EXPECT_TRUE(logs.Frames(60));
    EXPECT_EQ(logs.received(), Lines(60));
    EXPECT_EQ(logs.log.framesSinceFlush(), 1u);
}

TEST(RecordLines, FormatsAndDefaultFolder) {
    EXPECT_EQ(RecordHeaderLine(kStart), kHeader);
    EXPECT_EQ(RecordEndLine(kStop), kEndLine);
    std::tm now = LocalTimeNow();
    EXPECT_NEAR(static_cast<double>(std::mktime(&now)), static_cast<double>(std::time(nullptr)), 2);

    // Without HOME the password database names the home; never a shared folder such as /tmp.
    const std::string own = std::string(::getpwuid(::getuid())->pw_dir) + "/COMDATA";
    const std::string here = fs::current_path().string();
    ScopedEnv home("HOME", std::nullopt);
    EXPECT_EQ(DefaultSaveFolder(), own);
    for (const auto& [value, folder] :
         {std::pair<std::string, std::string>{"/home/op", "/home/op/COMDATA"},
          {"/home/op/", "/home/op/COMDATA"},
          {"relh", here + "/relh/COMDATA"},
          {"", own}}) {
        home.Set(value);
        EXPECT_EQ(DefaultSaveFolder(), folder) << value;
    }
}

// The default folder under a relative HOME is fixed once: a second recording goes beside the
// first, not into a copy of the path below it.
TEST(StartRecording, RelativeHomeKeepsOneFolder) {
    TempFolder tmp;
    fs::current_path(tmp.path());
    const ScopedEnv home("HOME", "relh");
    const std::string folder = DefaultSaveFolder();
    Logs logs;
    for (int n = 0; n < 2; ++n) {
        ASSERT_EQ(logs.record.Start(folder, kStart), RecordStart::Started);
        ASSERT_EQ(logs.Stop(kStop), RecordStop::Stopped);
    }
    EXPECT_EQ(ReadFile(tmp.path() / "relh" / "COMDATA" / "Rec01.txt"), kHeader + kEndLine);
    EXPECT_FALSE(fs::exists(tmp.path() / "relh" / "COMDATA" / "relh"));
}

TEST(StartRecording, CreatesTheFolderAndItsParentsAndWritesTheHeader) {
    TempFolder tmp;
    const fs::path folder = tmp.path() / "a" / "b";
    const fs::path here = fs::current_path();
    Recorder record;
    EXPECT_FALSE(record.IsRecording());
    ASSERT_EQ(record.Start(folder.string() + "/", kStart), RecordStart::Started);
    EXPECT_TRUE(record.IsRecording());
    EXPECT_EQ(record.FileName(), "Rec00.txt");
    EXPECT_EQ(fs::current_path(), here) << "recording changed the current directory";
    EXPECT_EQ(record.FilePath(), (folder / "Rec00.txt").string());
    EXPECT_EQ(ReadFile(folder / "Rec00.txt"), kHeader);
}

TEST(StartRecording, TakesTheLowestFreeNameAndOverwritesNothing) {
    TempFolder tmp;
    WriteFile(tmp.path() / "Rec00.txt", "zero");
    WriteFile(tmp.path() / "Rec01.txt", "one");
    Logs logs;
    Recorder& record = logs.record;
    ASSERT_EQ(record.Start(tmp.path().string(), kStart), RecordStart::Started);
    EXPECT_EQ(record.FileName(), "Rec02.txt");
    // No frame line since the start: the pieces in the log are not written, only the end line.
    logs.Pieces(2);
    ASSERT_EQ(logs.Stop(kStop), RecordStop::Stopped);
    // A directory and a dangling link take their names too.
    fs::create_directory(tmp.path() / "Rec03.txt");
    fs::create_symlink(tmp.path() / "nowhere", tmp.path() / "Rec04.txt");
    ASSERT_EQ(record.Start(tmp.path().string(), kStart), RecordStart::Started);
    EXPECT_EQ(record.FileName(), "Rec05.txt");
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
    Recorder record;
    EXPECT_EQ(record.Start(tmp.path().string(), kStart), RecordStart::AllNamesTaken);
    EXPECT_FALSE(record.IsRecording());
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
    Recorder record;
    EXPECT_EQ(record.Start((tmp.path() / "afile" / "sub").string(), kStart),
              RecordStart::CreateFailed);
    EXPECT_FALSE(record.IsRecording());
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);
    EXPECT_EQ(ReadFile(tmp.path() / "afile"), "not a folder");
}

TEST(Recording, The61stFrameWritesABlockAnd600PiecesEmptyTheLog) {
    TempFolder tmp;
    Logs logs;
    ASSERT_EQ(logs.record.Start(tmp.path().string(), kStart), RecordStart::Started);
    const std::string path = logs.record.FilePath();
    logs.Pieces(1);  // a rejected piece goes out with its block
    ASSERT_TRUE(logs.Frames(0, 60));
    EXPECT_EQ(ReadFile(path), kHeader);
    ASSERT_TRUE(logs.Frames(60));
    EXPECT_EQ(ReadFile(path), kHeader + "00 " + Lines(0, 60));
    EXPECT_EQ(logs.received(), Lines(60));
    EXPECT_EQ(logs.log.framesSinceFlush(), 1u);
    // 600 rejected pieces in all empty the log, which is never recorded, and leave the frame
    // count alone; the piece count starts over.
    logs.Pieces(599);
    EXPECT_EQ(logs.received(), "");
    EXPECT_EQ(ReadFile(path), kHeader + "00 " + Lines(0, 60));
    EXPECT_EQ(logs.log.framesSinceFlush(), 1u);
    logs.Pieces(10);
    EXPECT_EQ(logs.received(), Repeat("00 ", 10) + "\r\n");
}

// The record file keeps its full path: appends reach it after the current directory changes.
TEST(Recording, StartAndStopWithFivePendingFramesElsewhere) {
    TempFolder tmp;
    fs::create_directory(tmp.path() / "elsewhere");
    Logs logs;
    ASSERT_TRUE(logs.Frames(0, 5));
    ASSERT_EQ(logs.record.Start((tmp.path() / "first").string(), kStart), RecordStart::Started);
    fs::current_path(tmp.path() / "elsewhere");
    EXPECT_EQ(logs.Stop(kStop), RecordStop::Stopped);
    EXPECT_FALSE(logs.record.IsRecording());
    EXPECT_EQ(ReadFile(tmp.path() / "first" / "Rec00.txt"), kHeader + Lines(0, 5) + kEndLine);
    EXPECT_TRUE(fs::is_empty(tmp.path() / "elsewhere"));
    // Stopping neither empties the log nor resets the count.
    EXPECT_EQ(logs.received(), Lines(0, 5));
    EXPECT_EQ(logs.log.framesSinceFlush(), 5u);
}

// The kinds of notice the record gave, in order.
std::vector<RecordNotice::Kind> Kinds(Recorder& record) {
    std::vector<RecordNotice::Kind> kinds;
    for (const RecordNotice& notice : record.TakeNotices())
        kinds.push_back(notice.kind);
    return kinds;
}

// A disk that refuses blocks for a while, by a file size limit or by a real full file system.
enum class BlockFault { FileSizeLimit, FullFileSystem };

class RefusedBlocks : public ::testing::TestWithParam<BlockFault> {
protected:
    void SetUp() override {
        folder = tmp.path();
        if (GetParam() == BlockFault::FullFileSystem) {
            small.emplace(tmp.path() / "small", "size=256k");
            if (!small->Mounted())
                GTEST_SKIP() << "cannot mount a small file system (needs root): " << small->Error();
            folder = small->Path();
        }
    }
    // The disk refuses from now on (a block may still find room for part of itself).
    void Fill(const Recorder& record) {
        if (small)
            small->Fill();
        else
            limit.emplace(record.FilePath(), 100);
    }
    void Free() {
        if (small)
            small->Free();
        limit.reset();
    }

    TempFolder tmp;
    fs::path folder;
    std::optional<SmallFileSystem> small;
    std::optional<FileSizeLimit> limit;
};

// A refused block leaves the file exactly as it was and costs no frame: every line is added to
// the log as usual, the blocks wait in order and go out whole, each line once, at the first
// block after the disk has room. The operator is told once.
TEST_P(RefusedBlocks, WaitInOrderAndGoOutWholeWhenTheDiskHasRoom) {
    Logs logs;
    ASSERT_EQ(logs.record.Start(folder.string(), kStart), RecordStart::Started);
    const std::string path = logs.record.FilePath();
    ASSERT_TRUE(logs.Frames(0, 240));
    const std::string before = kHeader + Lines(0, 180);
    ASSERT_EQ(ReadFile(path), before);
    Fill(logs.record);
    EXPECT_FALSE(logs.Frames(240, 121));
    EXPECT_EQ(ReadFile(path), before) << "a refused block left bytes behind";
    EXPECT_EQ(logs.received(), Lines(360, 1));
    EXPECT_EQ(logs.log.frameHex(), "");
    EXPECT_EQ(logs.record.HeldBytes(), Lines(180, 180).size());
    EXPECT_TRUE(logs.record.IsRecording());
    Free();
    EXPECT_TRUE(logs.Frames(361, 60));
    EXPECT_EQ(logs.record.HeldBytes(), 0u);
    EXPECT_EQ(ReadFile(path), kHeader + Lines(0, 420));
    ASSERT_EQ(logs.Stop(kStop), RecordStop::Stopped);
    EXPECT_EQ(ReadFile(path), kHeader + Lines(0, 421) + kEndLine);
    EXPECT_EQ(Kinds(logs.record), std::vector{RecordNotice::Kind::DiskRefused});
}

// The hold is bounded: blocks beyond it are dropped whole and counted, and the record says
// how many frames are missing where they are missing.
TEST_P(RefusedBlocks, BeyondTheHoldAreCountedWhereTheyAreMissing) {
    const std::size_t block = Lines(0, 60).size();
    Logs logs(3 * block);
    ASSERT_EQ(logs.record.Start(folder.string(), kStart), RecordStart::Started);
    const std::string path = logs.record.FilePath();
    // Three blocks written: the room left in the file's last page is less than a block.
    ASSERT_TRUE(logs.Frames(0, 181));
    Fill(logs.record);
    EXPECT_FALSE(logs.Frames(181, 600));  // ten blocks: three held, seven dropped
    EXPECT_EQ(logs.record.HeldBytes(), 3 * block);
    Free();
    EXPECT_TRUE(logs.Frames(781, 60));
    const std::string gap = "Not recorded: 420 frames\r\n";
    EXPECT_EQ(ReadFile(path), kHeader + Lines(0, 360) + gap + Lines(780, 60));
    ASSERT_EQ(logs.Stop(kStop), RecordStop::Stopped);
    EXPECT_EQ(ReadFile(path), kHeader + Lines(0, 360) + gap + Lines(780, 61) + kEndLine);
    const std::vector<RecordNotice> notices = logs.record.TakeNotices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].kind, RecordNotice::Kind::DiskRefused);
    EXPECT_EQ(notices[1].kind, RecordNotice::Kind::FramesNotRecorded);
    EXPECT_EQ(notices[1].frames, 420u);
}

INSTANTIATE_TEST_SUITE_P(Recording, RefusedBlocks,
                         ::testing::Values(BlockFault::FileSizeLimit, BlockFault::FullFileSystem));

// Another user of a folder that anyone may write (as /tmp/COMDATA was) puts a link to a
// private file of the operator in place of the record, or the folder is renamed: the record
// goes on in the file that was created, and nothing reaches the link's target.
enum class Tamper { LinkSwappedByAnotherUser, FolderRenamed };

class RecordUnderTampering : public ::testing::TestWithParam<Tamper> {};

TEST_P(RecordUnderTampering, KeepsWritingTheFileItCreated) {
    TempFolder tmp;
    const fs::path shared = tmp.path() / "shared";
    const fs::path privateFile = tmp.path() / "private.txt";
    WriteFile(privateFile, "the operator's own\n");
    fs::permissions(privateFile, fs::perms::owner_read | fs::perms::owner_write);
    Logs logs;
    ASSERT_EQ(logs.record.Start(shared.string(), kStart), RecordStart::Started);
    fs::permissions(shared, fs::perms::all);  // anyone may write, no sticky bit
    fs::permissions(tmp.path(), fs::perms::owner_all | fs::perms::others_exec);
    ASSERT_TRUE(logs.Frames(0, 90));

    fs::path record = shared / "Rec00.txt";
    if (GetParam() == Tamper::LinkSwappedByAnotherUser) {
        ASSERT_TRUE(AsAnotherUser([&] {
            std::error_code error;
            fs::rename(record, shared / "moved.txt", error);
            return !error && ::symlink(privateFile.c_str(), record.c_str()) == 0;
        }));
        record = shared / "moved.txt";
    } else {
        fs::rename(shared, tmp.path() / "renamed");
        record = tmp.path() / "renamed" / "Rec00.txt";
    }
    ASSERT_TRUE(logs.Frames(90, 90));
    ASSERT_EQ(logs.Stop(kStop), RecordStop::Stopped);
    EXPECT_TRUE(logs.record.TakeNotices().empty()) << "the file it created was never lost";
    EXPECT_EQ(ReadFile(privateFile), "the operator's own\n");
    EXPECT_EQ(ReadFile(record), kHeader + Lines(0, 180) + kEndLine);
}

INSTANTIATE_TEST_SUITE_P(Recording, RecordUnderTampering,
                         ::testing::Values(Tamper::LinkSwappedByAnotherUser,
                                           Tamper::FolderRenamed));

// With a frame pending the block fails first; without one the end line does, whether nothing
// or only part of it finds room. Recording is off afterwards either way, and the file keeps
// nothing of the failed piece.
enum class StopFault { FullWithFrame, Full, EndLineCut };

class StopFailure : public ::testing::TestWithParam<StopFault> {};

TEST_P(StopFailure, IsReportedAndEndsTheRecording) {
    TempFolder tmp;
    Logs logs;
    ASSERT_EQ(logs.record.Start(tmp.path().string(), kStart), RecordStart::Started);
    if (GetParam() == StopFault::FullWithFrame) {
        ASSERT_TRUE(logs.Frames(1));
    }
    const FileSizeLimit limit(logs.record.FilePath(), GetParam() == StopFault::EndLineCut ? 5 : 0);
    ASSERT_TRUE(limit.Held());
    EXPECT_EQ(logs.Stop(kStop), GetParam() == StopFault::FullWithFrame ? RecordStop::BlockFailed
                                                                       : RecordStop::EndLineFailed);
    EXPECT_FALSE(logs.record.IsRecording());
    EXPECT_EQ(ReadFile(logs.record.FilePath()), kHeader);
}

INSTANTIATE_TEST_SUITE_P(Recording, StopFailure,
                         ::testing::Values(StopFault::FullWithFrame, StopFault::Full,
                                           StopFault::EndLineCut));

// A stop with blocks held for a full disk that has some room again: what fits is written whole,
// and when the end line would not fit after it, the room comes from the blocks written by the
// stop, newest first, so that the record still ends with its gap line and its end line.
struct HeldAtStop {
    const char* name;
    int roomInBlocks;  // room at the stop, in whole blocks of 60 lines
    int extraRoom;     // and bytes beyond them
    RecordStop outcome;
    int linesKept;  // of the 121 frames after the first block
};

class StopWithHeldBlocks : public ::testing::TestWithParam<HeldAtStop> {};

TEST_P(StopWithHeldBlocks, EndsTheRecordAndCountsWhatIsLeftOut) {
    const HeldAtStop& c = GetParam();
    TempFolder tmp;
    Logs logs;
    ASSERT_EQ(logs.record.Start(tmp.path().string(), kStart), RecordStart::Started);
    const std::string path = logs.record.FilePath();
    ASSERT_TRUE(logs.Frames(0, 61));
    {
        const FileSizeLimit full(path, 0);
        EXPECT_FALSE(logs.Frames(61, 120));  // two blocks held, one line pending
    }
    const std::size_t block = Lines(0, 60).size();
    const FileSizeLimit room(path, c.roomInBlocks * block + static_cast<std::size_t>(c.extraRoom));
    EXPECT_EQ(logs.Stop(kStop), c.outcome);
    const int lost = 121 - c.linesKept;
    EXPECT_EQ(ReadFile(path), kHeader + Lines(0, 60 + c.linesKept) +
                                  (lost > 0 ? NotRecordedLine(static_cast<unsigned>(lost)) : "") +
                                  kEndLine);
    const std::vector<RecordNotice> notices = logs.record.TakeNotices();
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.front().kind, RecordNotice::Kind::DiskRefused);
    EXPECT_EQ(notices.back().frames, static_cast<std::uint64_t>(lost));
}

INSTANTIATE_TEST_SUITE_P(
    Recording, StopWithHeldBlocks,
    ::testing::Values(HeldAtStop{"RoomForAll", 3, 100, RecordStop::Stopped, 121},
                      HeldAtStop{"RoomForOneBlockAndTheEnd", 1, 200, RecordStop::BlockFailed, 60},
                      HeldAtStop{"EndLineTakesTheBlocksRoom", 1, 10, RecordStop::BlockFailed, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
