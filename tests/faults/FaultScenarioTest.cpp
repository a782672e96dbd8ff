// Faults from outside the program: the module vanishing mid-stream, a flood of noise, a record
// file that cannot be written for a while, and ports that cannot be opened.
#include <fcntl.h>
#include <grp.h>
#include <malloc.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "FileSizeLimit.h"
#include "Recording.h"
#include "Response.h"
#include "WindowFixture.h"

namespace {

namespace fs = std::filesystem;

// A reading frame whose heading digits carry `index`, so every frame of a run is distinct.
std::vector<std::uint8_t> NumberedReading(int index) {
    const int d = index % 100000;
    const auto bcd = [](int hi, int lo) { return static_cast<std::uint8_t>(hi << 4 | lo); };
    return ModuleFrame(0x84,
                       {0x00, 0x01, 0x23, 0x10, 0x04, 0x56, static_cast<std::uint8_t>(d / 10000),
                        bcd(d / 1000 % 10, d / 100 % 10), bcd(d / 10 % 10, d % 10)});
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
            const int target = FrameCount() + chunk;
            pty->Write(bytes);
            EXPECT_TRUE(WaitFor([&] { return FrameCount() >= target; }, 5000))
                << "the window took " << FrameCount() - (target - chunk) << " of " << chunk;
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
        ASSERT_TRUE(IsRecording());
        const fs::path record = RecordFilePath();
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
        EXPECT_FALSE(dlg->m_ctrlComm.GetPortOpen());
        EXPECT_EQ(Text(IDC_BTN_OPENCOM), "Open");
        EXPECT_EQ(Text(IDC_BTN_GOSTOP), "GO");
        // A port left open on a dead device repeats its error at full speed.
        const double cpu = CpuSecondsWhileServing(200);
        EXPECT_LT(cpu, 0.05) << "CPU seconds in 200 ms after the loss";
        Tick(3);
        EXPECT_EQ(sink.boxes.size(), boxes + 1);

        EXPECT_TRUE(IsRecording());
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
        maxReceived = std::max(maxReceived, dlg->m_strReceived.size());
        maxReceivedLines = std::max(maxReceivedLines, LineBreaks(dlg->m_strReceived));
        maxSendLines = std::max(maxSendLines, LineBreaks(dlg->m_strSend));
        EXPECT_LE(dlg->m_strFrameHex.size(), 50u * 3u);
    }
    // Let the window take what is still on the line.
    std::string last;
    WaitFor([&] {
        const bool quiet = dlg->m_strReceived == last;
        last = dlg->m_strReceived;
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

TEST_F(Faults, RecordFileUnwritableForAWhileReportsEachFailedBlockAndResumes) {
    Open();
    Click(IDC_BTN_RECORD);
    ASSERT_TRUE(IsRecording());
    const fs::path record = RecordFilePath();
    std::vector<std::string> lines = Stream(0, 60);

    const auto failing = NumberedReading(60);
    {
        // Room for part of the block only, as on a disk that fills up.
        const FileSizeLimit full(record, 100);
        ASSERT_TRUE(full.Held());
        Receive(failing);
        ExpectOneBox("creat file is fail!", "TORVA", BoxIcon::Exclamation);
        EXPECT_EQ(dlg->m_strFrameHex, Hex(failing) + ' ') << "the refused line waits to be logged";
        EXPECT_TRUE(IsRecording());
        EXPECT_EQ(FileLines(record).size(), 1u) << "the failed block left a piece behind";
    }
    // The waiting text joins the next frame's line; the next block carries everything, once.
    std::vector<std::string> more = Stream(61, 61);
    more.front() = Hex(failing) + ' ' + more.front();
    lines.insert(lines.end(), more.begin(), more.end());
    std::vector<std::string> written = FileLines(record);
    ASSERT_EQ(written.size(), 1 + 60 + 60u) << "the block after the failure was not written";
    Click(IDC_BTN_RECORD);
    EXPECT_EQ(RecordedLines(record), lines);
    EXPECT_EQ(sink.boxes.size(), 1u);
}

// Each failed open: one stop box naming the device and the reason, and the port stays closed.
class OpenFailure : public Faults {
public:
    void ExpectRefused(const std::string& device, const char* reason) {
        const std::size_t boxes = sink.boxes.size();
        Click(IDC_BTN_OPENCOM);
        EXPECT_EQ(dlg->m_bPortOpen, 0);
        EXPECT_EQ(Text(IDC_BTN_OPENCOM), "OpenCom");
        ASSERT_EQ(sink.boxes.size(), boxes + 1);
        const QString text = sink.boxes.back().text;
        EXPECT_EQ(sink.boxes.back().icon, BoxIcon::Stop);
        EXPECT_TRUE(text.contains(QString::fromStdString(device))) << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromLatin1(reason))) << text.toStdString();
    }
};

TEST_F(OpenFailure, HeldAndMissingDevicesAreNamedWithTheReason) {
    {
        QSerialPort other;
        other.setPortName(QString::fromStdString(pty->SlavePath()));
        ASSERT_TRUE(other.open(QIODevice::ReadWrite));
        ExpectRefused(pty->SlavePath(), "in use by another program");
    }
    const std::string missing = "/dev/torva-missing-" + std::to_string(::getpid());
    qputenv("TORVA_COM1", QByteArray::fromStdString(missing));
    ExpectRefused(missing, "no such device");
    // Released and present again: the same port opens.
    qputenv("TORVA_COM1", QByteArray::fromStdString(pty->SlavePath()));
    Open();
}

TEST_F(OpenFailure, DeviceWithoutPermissionNamesTheDeviceAndTheGroup) {
    ASSERT_EQ(::chmod(pty->SlavePath().c_str(), 0), 0);
    if (::geteuid() != 0) {
        ExpectRefused(pty->SlavePath(), "permission denied");
        EXPECT_TRUE(sink.LastText().contains("dialout")) << sink.LastText().toStdString();
        return;
    }
    // Root opens anything: try as an unprivileged user in a child process.
    const passwd* user = ::getpwnam("nobody");
    if (user == nullptr)
        GTEST_SKIP() << "running as root and no unprivileged user to run the open as";
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(out[0]);
        int status = 3;
        if (::setgroups(0, nullptr) == 0 && ::setgid(user->pw_gid) == 0 &&
            ::setuid(user->pw_uid) == 0) {
            Click(IDC_BTN_OPENCOM);
            const QByteArray text = sink.LastText().toUtf8();
            status = (sink.boxes.size() == 1 && dlg->m_bPortOpen == 0 &&
                      sink.boxes[0].icon == BoxIcon::Stop)
                         ? 0
                         : 1;
            [[maybe_unused]] const auto n = ::write(out[1], text.constData(), text.size());
        }
        ::_exit(status);  // no leak check: it cannot inspect a process that changed its user
    }
    ::close(out[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "cannot switch to user nobody";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "one stop box, port closed; box: " << text;
    EXPECT_NE(text.find(pty->SlavePath()), std::string::npos) << text;
    EXPECT_NE(text.find("permission denied"), std::string::npos) << text;
    EXPECT_NE(text.find("dialout"), std::string::npos) << text;
}

}  // namespace
