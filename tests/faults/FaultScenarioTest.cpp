// Faults from outside the program: the module vanishing mid-stream, a flood of noise, and a record
// file that cannot be written for a while, filled up or deleted.
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>

#include "FileSizeLimit.h"
#include "SmallFileSystem.h"
#include "WindowFixture.h"

namespace {

namespace fs = std::filesystem;

// A reading frame whose roll and heading digits carry `index` (0 .. 9,999,999,999), so every
// frame of a long run is distinct.
std::vector<std::uint8_t> NumberedReading(long long index) {
    const auto bcd = [](long long hi, long long lo) {
        return static_cast<std::uint8_t>(hi << 4 | lo);
    };
    const auto digits = [&](long long n) {
        return std::array<std::uint8_t, 3>{static_cast<std::uint8_t>(n / 10000),
                                           bcd(n / 1000 % 10, n / 100 % 10),
                                           bcd(n / 10 % 10, n % 10)};
    };
    const auto roll = digits(index / 100000 % 100000);
    const auto heading = digits(index % 100000);
    return ModuleFrame(
        0x84, {0x00, 0x01, 0x23, roll[0], roll[1], roll[2], heading[0], heading[1], heading[2]});
}

double CpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// CPU time this process spends while its event loop runs idle-blocking for `ms`.
double CpuSecondsWhileServing(int ms) {
    const double before = CpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    return CpuSeconds() - before;
}

// Present only under AddressSanitizer, whose quarantine of freed blocks makes the resident
// size grow with allocation churn; its count of bytes in use does not.
extern "C" __attribute__((weak)) std::size_t __sanitizer_get_current_allocated_bytes();

// Heap bytes in use, the measure of growth that does not depend on the allocator's caching.
long HeapInUseKb() {
    if (__sanitizer_get_current_allocated_bytes != nullptr)
        return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
    return static_cast<long>(::mallinfo2().uordblks / 1024);
}

long ResidentKb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

std::size_t LineBreaks(const std::string& text) {
    std::size_t n = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 2))
        ++n;
    return n;
}

std::vector<std::string> FileLines(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    return lines;
}

class Faults : public WindowTest {
public:
    void SetUp() override {
        WindowTest::SetUp();
        fs::create_directories(folder);
        dlg->m_strSaveFolder = folder.string();
        dlg->UpdateData(false);
    }
    void TearDown() override {
        WindowTest::TearDown();
        std::error_code ec;
        fs::current_path(fs::temp_directory_path(), ec);
        fs::remove_all(folder, ec);
    }

    // Sends frames first..first+count-1 as fast as the window takes them, in reads of up to
    // 64 frames, and returns the lines the Received log shows for them.
    std::vector<std::string> Stream(int first, int count) {
        std::vector<std::string> lines;
        for (int sent = 0; sent < count;) {
            const int chunk = std::min(64, count - sent);
            std::vector<std::uint8_t> bytes;
            for (int i = 0; i < chunk; ++i) {
                const auto frame = NumberedReading(first + sent + i);
                bytes.insert(bytes.end(), frame.begin(), frame.end());
                lines.push_back(Hex(frame) + ' ');
            }
            const int target = dlg->session().frameCount() + chunk;
            pty->Write(bytes);
            EXPECT_TRUE(WaitFor([&] { return dlg->session().frameCount() >= target; }, 5000))
                << "the window took " << dlg->session().frameCount() - (target - chunk) << " of "
                << chunk;
            sent += chunk;
        }
        return lines;
    }
    // The frame lines of a record file between its header and its end line.
    std::vector<std::string> RecordedLines(const fs::path& path) {
        std::vector<std::string> lines = FileLines(path);
        EXPECT_GE(lines.size(), 2u);
        if (lines.size() < 2)
            return {};
        EXPECT_EQ(lines.front().rfind("Date: ", 0), 0u) << lines.front();
        EXPECT_EQ(lines.back().rfind("End Date: ", 0), 0u) << lines.back();
        return {lines.begin() + 1, lines.end() - 1};
    }

    const fs::path folder =
        fs::temp_directory_path() / ("torva-faults-" + std::to_string(::getpid()));
};

TEST_F(Faults, ModuleVanishingMidStreamTwentyTimesIsReportedOnceEachAndKeepsTheRecord) {
    int next = 0;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (round > 0) {
            pty = std::make_unique<Pty>();  // the module is plugged in again
            qputenv("TORVA_COM1", QByteArray::fromStdString(pty->SlavePath()));
        }
        Open();
        Click(IDC_BTN_GOSTOP);
        Click(IDC_BTN_CLEAR_RECEIVED);
        Click(IDC_BTN_RECORD);
        ASSERT_TRUE(dlg->session().recorder().IsRecording());
        const fs::path record = dlg->session().recorder().FilePath();
        const std::size_t boxes = sink.boxes.size();

        // Varying lengths put the loss before, on and after a 60-line block boundary.
        const int count = 45 + 17 * round;
        const std::vector<std::string> expected = Stream(next, count);
        next += count;
        pty->CloseMaster();

        ASSERT_TRUE(WaitFor([&] { return sink.boxes.size() > boxes; }));
        EXPECT_TRUE(sink.boxes.back().text.contains(QString::fromStdString(pty->SlavePath())))
            << sink.boxes.back().text.toStdString();
        EXPECT_EQ(dlg->m_bPortOpen, 0);
        EXPECT_FALSE(dlg->session().isOpen());
        EXPECT_EQ(Text(IDC_BTN_OPENCOM), "Open");
        EXPECT_EQ(Text(IDC_BTN_GOSTOP), "GO");
        // A port left open on a dead device repeats its error at full speed.
        const double cpu = CpuSecondsWhileServing(200);
        EXPECT_LT(cpu, 0.05) << "CPU seconds in 200 ms after the loss";
        Tick(3);
        EXPECT_EQ(sink.boxes.size(), boxes + 1);

        EXPECT_TRUE(dlg->session().recorder().IsRecording());
        Click(IDC_BTN_RECORD);
        EXPECT_EQ(RecordedLines(record), expected);
    }
}

TEST_F(Faults, FloodOfRandomBytesKeepsBothPanesAndMemoryBounded) {
    Open();
    Click(IDC_BTN_GOSTOP);
    // Frame lines of at most 50 bytes, and noise pieces of at most 2 bytes ten to a line.
    constexpr std::size_t kReceivedLimit = 60 * (50 * 3 + 2) + 60 * (10 * 2 * 3 + 2);
    constexpr std::size_t kFlood = 2 << 20;  // 10 s at 115200 bit/s is 115 kB
    std::mt19937 random(20240607);
    ASSERT_EQ(::fcntl(pty->MasterFd(), F_SETFL, O_NONBLOCK), 0);

    std::size_t written = 0, maxReceived = 0, maxReceivedLines = 0, maxSendLines = 0;
    long rssQuarter = 0, heapQuarter = 0;
    std::vector<std::uint8_t> chunk(1024);
    while (written < kFlood) {
        std::generate(chunk.begin(), chunk.end(), [&] { return std::uint8_t(random() & 0xFF); });
        for (std::size_t done = 0; done < chunk.size();) {
            const ssize_t n = ::write(pty->MasterFd(), chunk.data() + done, chunk.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else
                ServeEvents(1);  // the line is full until the window reads
        }
        written += chunk.size();
        ServeEvents(2);
        if (written % (16 << 10) == 0) {
            Tick();  // a read request now and then keeps the Send log moving
            pty->Read(std::chrono::milliseconds(0), std::chrono::milliseconds(0));
        }
        if (written == kFlood / 4) {
            rssQuarter = ResidentKb();
            heapQuarter = HeapInUseKb();
        }
        maxReceived = std::max(maxReceived, dlg->session().log().receivedText().size());
        maxReceivedLines =
            std::max(maxReceivedLines, LineBreaks(dlg->session().log().receivedText()));
        maxSendLines = std::max(maxSendLines, LineBreaks(dlg->session().log().sendText()));
        EXPECT_LE(dlg->session().log().frameHex().size(), 50u * 3u);
    }
    // Let the window take what is still on the line.
    std::string last;
    WaitFor([&] {
        const bool quiet = dlg->session().log().receivedText() == last;
        last = dlg->session().log().receivedText();
        return quiet && CpuSecondsWhileServing(50) < 0.02;
    });
    EXPECT_EQ(dlg->m_bPortOpen, 1);
    EXPECT_LE(maxReceived, kReceivedLimit);
    EXPECT_LE(maxReceivedLines, 119u);
    EXPECT_LE(maxSendLines, 60u);
    EXPECT_GT(maxSendLines, 10u) << "the Send log was never exercised";
    EXPECT_GT(maxReceivedLines, 10u) << "the Received log was never exercised";
    // Holding even a tenth of the rest of the flood would exceed these.
    EXPECT_LT(HeapInUseKb() - heapQuarter, 128) << "kB of heap in use gained";
    if (__sanitizer_get_current_allocated_bytes == nullptr) {
        EXPECT_LT(ResidentKb() - rssQuarter, 1024) << "kB of resident memory gained";
    }
}

TEST_F(Faults, RecordFileUnwritableForAWhileIsReportedOnceAndLosesNoFrame) {
    Open();
    Click(IDC_BTN_RECORD);
    ASSERT_TRUE(dlg->session().recorder().IsRecording());
    const fs::path record = dlg->session().recorder().FilePath();
    // Up to the 60th line since the last block.
    const int first = 60 - static_cast<int>(dlg->session().log().framesSinceFlush());
    std::vector<std::string> lines = Stream(0, first);

    const auto refused = NumberedReading(first);
    {
        // Room for part of the block only, as on a disk that fills up.
        const FileSizeLimit full(record, 100);
        ASSERT_TRUE(full.Held());
        Receive(refused);
        ExpectOneBox("creat file is fail!", "TORVA", BoxIcon::Exclamation);
        EXPECT_EQ(dlg->session().log().receivedText(), Hex(refused) + " \r\n")
            << "the frame was not logged";
        EXPECT_EQ(dlg->session().log().frameHex(), "");
        EXPECT_TRUE(dlg->session().recorder().IsRecording());
        EXPECT_EQ(FileLines(record).size(), 1u) << "the refused block left a piece behind";
        // Still refused: held too, and no second box.
        lines.push_back(Hex(refused) + ' ');
        const std::vector<std::string> more = Stream(first + 1, 60);
        lines.insert(lines.end(), more.begin(), more.end());
        EXPECT_EQ(sink.boxes.size(), 1u);
    }
    // The disk has room: the next block writes everything held before it, in order, once; the
    // last line waits in the log for the block after.
    const std::vector<std::string> more = Stream(first + 61, 60);
    lines.insert(lines.end(), more.begin(), more.end());
    EXPECT_EQ(FileLines(record).size(), 1 + lines.size() - 1) << "the held blocks were not written";
    Click(IDC_BTN_RECORD);
    EXPECT_EQ(RecordedLines(record), lines);
    EXPECT_EQ(sink.boxes.size(), 1u);
}

// The record's folder under faults of its disk; frames go straight into the window's receive
// path, in receive events of 64 numbered frames each, as a line full of readings delivers them.
class RecordDisk : public Faults {
public:
    // Feeds frames first .. first + count - 1, one receive event (and its boxes) at a time;
    // `each` runs after every event.
    void Feed(long long first, long long count, const std::function<void()>& each = {}) {
        QByteArray read;
        for (long long n = first; n < first + count;) {
            read.clear();
            for (int i = 0; i < 64 && n < first + count; ++i, ++n) {
                const auto frame = NumberedReading(n);
                read.append(reinterpret_cast<const char*>(frame.data()),
                            static_cast<qsizetype>(frame.size()));
            }
            dlg->session().takeInput(read);
            dlg->UpdateData(false);
            OpenRaisedBoxes();
            if (each)
                each();
        }
    }

    // What a record file holds of frames 0 .. sent - 1.
    struct Holding {
        long long lines = 0;        // frame lines in order, each frame once
        long long notRecorded = 0;  // frames counted by gap lines
        long long gaps = 0;
        long long joined = 0;  // lines holding more than one frame
        std::string firstWrong;
    };
    Holding Check(const fs::path& path, long long sent) {
        Holding h;
        long long next = 0;
        const std::size_t frameLine = Hex(NumberedReading(0)).size() + 1;
        for (const std::string& line : RecordedLines(path)) {
            long long count = 0;
            char tail = 0;
            if (std::sscanf(line.c_str(), "Not recorded: %lld frames%c", &count, &tail) == 1 &&
                count > 0) {
                next += count;
                h.notRecorded += count;
                ++h.gaps;
                continue;
            }
            if (line.size() > frameLine)
                ++h.joined;
            if (next < sent && line == Hex(NumberedReading(next)) + ' ') {
                ++h.lines;
                ++next;
            } else if (h.firstWrong.empty()) {
                h.firstWrong = "frame " + std::to_string(next) + ": " + line.substr(0, 120);
            }
        }
        if (next != sent && h.firstWrong.empty())
            h.firstWrong = "the record ends at frame " + std::to_string(next);
        return h;
    }
};

// A disk that fills up while recording and is freed again: briefly (every frame must reach the
// record once the disk has room), or for longer than the console's hold for the record takes
// (memory stays bounded, the frames that could not be kept are counted where they are missing,
// and the record still ends properly).
struct DiskFull {
    const char* name;
    const char* size;  // of the record's file system
    long long before, whileFull, after;
    bool gap;  // more arrive while the disk is full than the hold takes
};

void PrintTo(const DiskFull& c, std::ostream* out) {
    *out << c.name;
}

class RecordDiskFull : public RecordDisk, public ::testing::WithParamInterface<DiskFull> {};

TEST_P(RecordDiskFull, EveryFrameIsRecordedOnceInOrderOrCountedWhereItIsMissing) {
    const DiskFull& c = GetParam();
    // The live plot's history grows with every reading up to a bound of its own: off while only
    // the record's memory is measured.
    dlg->session().history().SetCapacity(0);
    SmallFileSystem disk(folder / "disk", std::string("size=") + c.size);
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a small file system to fill (needs root): " << disk.Error();
    dlg->m_strSaveFolder = disk.Path().string();
    Click(IDC_BTN_RECORD);
    ASSERT_TRUE(dlg->session().recorder().IsRecording());
    const fs::path record = dlg->session().recorder().FilePath();

    Feed(0, c.before);
    disk.Fill();
    const long heapAtFill = HeapInUseKb();
    long heapGained = 0;
    Feed(c.before, c.whileFull,
         [&] { heapGained = std::max(heapGained, HeapInUseKb() - heapAtFill); });
    ASSERT_FALSE(sink.boxes.empty()) << "the full disk went unnoticed";
    EXPECT_EQ(sink.boxes[0].text, "creat file is fail!");
    disk.Free();
    const long long sent = c.before + c.whileFull + c.after;
    Feed(c.before + c.whileFull, c.after);
    Click(IDC_BTN_RECORD);

    const Holding h = Check(record, sent);
    EXPECT_EQ(h.firstWrong, "");
    EXPECT_EQ(h.joined, 0) << "lines holding more than one frame";
    EXPECT_EQ(h.lines + h.notRecorded, sent);
    // Four MB held for the record, and the rest of what a process of this kind allocates.
    EXPECT_LT(heapGained, 5 * 1024) << "kB of heap gained while the disk was full";
    if (!c.gap) {
        EXPECT_EQ(h.lines, sent);
        ASSERT_EQ(sink.boxes.size(), 1u);
        return;
    }
    EXPECT_EQ(h.gaps, 1);
    EXPECT_GT(h.notRecorded, 0);
    EXPECT_LT(h.notRecorded, c.whileFull);
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_TRUE(sink.boxes[1].text.contains(QString::number(h.notRecorded)))
        << sink.boxes[1].text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Faults, RecordDiskFull,
                         ::testing::Values(DiskFull{"Short", "4m", 600, 6584, 1200, false},
                                           DiskFull{"Long", "6m", 600, 150000, 1200, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The record folder deleted while recording: the next block notices, the operator is told once,
// and the folder and the file are made again with everything received; when the folder cannot
// be made at once (its name is taken), the record waits and is put back as soon as it can be.
class RecordFolderDeleted : public RecordDisk, public ::testing::WithParamInterface<bool> {};

TEST_P(RecordFolderDeleted, IsToldOnceAndTheRecordIsMadeAgainWithEverything) {
    const bool nameTaken = GetParam();
    const fs::path where = folder / "records";
    dlg->m_strSaveFolder = where.string();
    Click(IDC_BTN_RECORD);
    ASSERT_TRUE(dlg->session().recorder().IsRecording());
    const fs::path record = dlg->session().recorder().FilePath();
    ASSERT_EQ(record, where / "Rec00.txt");

    Feed(0, 90);
    fs::remove_all(where);
    if (nameTaken)
        std::ofstream(where) << "in the way";
    Feed(90, 90);
    ASSERT_EQ(sink.boxes.size(), 1u) << "the deleted folder went unnoticed";
    EXPECT_TRUE(sink.boxes[0].text.contains(QString::fromStdString(where.string())))
        << sink.boxes[0].text.toStdString();
    long long sent = 180;
    if (nameTaken) {
        Feed(sent, 60);
        sent += 60;
        EXPECT_EQ(sink.boxes.size(), 1u) << "told more than once";
        fs::remove(where);
        Feed(sent, 120);
        sent += 120;
        ASSERT_EQ(sink.boxes.size(), 2u) << "not told that the record is back";
    }
    EXPECT_TRUE(fs::exists(record));
    Click(IDC_BTN_RECORD);
    const Holding h = Check(record, sent);
    EXPECT_EQ(h.firstWrong, "");
    EXPECT_EQ(h.lines, sent);
    EXPECT_EQ(sink.boxes.size(), nameTaken ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Faults, RecordFolderDeleted, ::testing::Values(false, true),
                         [](const auto& info) {
                             return std::string(info.param ? "NameTakenForAWhile"
                                                           : "MadeAgainAtOnce");
                         });

}  // namespace
