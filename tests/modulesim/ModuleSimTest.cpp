#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "DeviceLink.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Waits for input until the deadline and reads it: the count, 0 for nothing, -1 at the end.
ssize_t ReadSome(int fd, std::uint8_t* buf, std::size_t size, Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count()))) <= 0)
        return 0;
    const ssize_t n = ::read(fd, buf, size);
    return n > 0 ? n : -1;
}

// The simulator and the device side of its pseudo-terminal (which it has made raw). The shell
// prints its process id, then becomes the simulator, which prints the device path.
class Sim {
public:
    explicit Sim(const std::string& args)
        : m_out(::popen(("echo $$; exec " MODULESIM_PATH " " + args).c_str(), "r")) {
        if (!m_out)
            throw std::runtime_error("cannot start the simulator");
        std::string lines;  // a sanitizer build may take a while to start
        std::uint8_t c = 0;
        while (std::count(lines.begin(), lines.end(), '\n') < 2 &&
               ReadSome(::fileno(m_out), &c, 1, Clock::now() + 10s) > 0)
            lines += static_cast<char>(c);
        std::istringstream(lines) >> m_pid >> path;
        Reopen(path);
    }
    ~Sim() {
        if (m_out && m_pid > 0)
            ::kill(m_pid, SIGKILL);
        if (m_out)
            ::pclose(m_out);
        ::close(m_fd);
    }
    // The exit status once the process ends (its output closes) within `timeout`, else -1.
    int WaitExit(std::chrono::milliseconds timeout) {
        std::uint8_t buf[256];
        ssize_t n = 0;
        while ((n = ReadSome(::fileno(m_out), buf, sizeof buf, Clock::now() + timeout)) > 0) {
        }
        return n < 0 ? WEXITSTATUS(::pclose(std::exchange(m_out, nullptr))) : -1;
    }
    // Opens the device anew (after a replug, under its link).
    // Lets go of the device, as whoever held a pulled adapter does.
    void CloseDevice() {
        ::close(m_fd);
        m_fd = -1;
    }
    void Reopen(const std::string& device) {
        ::close(m_fd);
        m_buffer.clear();
        m_fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    // The next line the simulator prints (a device path), empty when none comes in time.
    std::string NextLine(std::chrono::milliseconds timeout) {
        std::string line;
        std::uint8_t c = 0;
        const auto deadline = Clock::now() + timeout;
        while (ReadSome(::fileno(m_out), &c, 1, deadline) > 0 && c != '\n')
            line += static_cast<char>(c);
        return line;
    }
    // Sets the line speed on the device side, as a console does; the simulator reads it there.
    void SetSpeed(speed_t speed) {
        termios tio{};
        ASSERT_EQ(::tcgetattr(m_fd, &tio), 0);
        ::cfsetspeed(&tio, speed);
        ASSERT_EQ(::tcsetattr(m_fd, TCSANOW, &tio), 0);
    }
    void Terminate() { ::kill(m_pid, SIGTERM); }
    // Whatever arrives within `window`, taken out of the buffer.
    Bytes Drain(std::chrono::milliseconds window) {
        while (Fill(Clock::now() + window) > 0) {
        }
        return std::exchange(m_buffer, {});
    }
    void Write(const Bytes& bytes) {
        EXPECT_EQ(::write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // The next frame from a start byte, L+1 bytes in all; bytes before it count as skipped.
    std::optional<Bytes> NextFrame(std::chrono::milliseconds timeout = 3s) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            const auto start = std::find(m_buffer.begin(), m_buffer.end(), 0x68);
            skipped += start - m_buffer.begin();
            m_buffer.erase(m_buffer.begin(), start);
            if (m_buffer.size() >= 2 && m_buffer.size() > m_buffer[1]) {
                Bytes frame(m_buffer.begin(), m_buffer.begin() + m_buffer[1] + 1);
                m_buffer.erase(m_buffer.begin(), m_buffer.begin() + m_buffer[1] + 1);
                return frame;
            }
            if (Fill(deadline) <= 0)
                return std::nullopt;
        }
    }
    bool QuietFor(std::chrono::milliseconds window) {
        return m_buffer.empty() && Fill(Clock::now() + window) == 0;
    }
    // Reads more from the device: the count, 0 when nothing came, -1 once the device is gone.
    ssize_t Fill(Clock::time_point deadline) {
        std::uint8_t buf[4096];
        const ssize_t n = ReadSome(m_fd, buf, sizeof buf, deadline);
        reads += n > 0 ? 1 : 0;
        m_buffer.insert(m_buffer.end(), buf, buf + std::max<ssize_t>(n, 0));
        return n;
    }

    std::string path;
    int reads = 0;  // reads that returned data
    long skipped = 0;

private:
    FILE* m_out;
    pid_t m_pid = -1;
    int m_fd = -1;
    Bytes m_buffer;
};

std::string Hex(const Bytes& bytes) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t b : bytes)
        text += std::string(text.empty() ? "" : " ") + kDigits[b >> 4] + kDigits[b & 15];
    return text;
}

// 68 L address command payload checksum, written for the tests independently of the simulator.
Bytes Request(std::uint8_t address, std::uint8_t command, const Bytes& payload = {}) {
    Bytes frame{0x68, static_cast<std::uint8_t>(4 + payload.size()), address, command};
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(static_cast<std::uint8_t>(std::accumulate(frame.begin() + 1, frame.end(), 0u)));
    return frame;
}

// Checks a reading frame completely and returns pitch, roll and heading. Packed BCD reads as
// its own hex text: a sign digit 0 or 1, then five decimal digits of hundredths.
std::array<double, 3> ExpectReading(const std::optional<Bytes>& frame, int address) {
    if (!frame || frame->size() != 14 || (*frame)[2] != address || (*frame)[3] != 0x84) {
        ADD_FAILURE() << "no reading frame from " << address << ": " << (frame ? Hex(*frame) : "");
        return {};
    }
    const Bytes& f = *frame;
    EXPECT_EQ(Hex(f), Hex(Request(f[2], f[3], Bytes(f.begin() + 4, f.end() - 1))));  // checksum
    std::array<double, 3> angles{};
    for (std::size_t k = 0; k < 3; ++k) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%02X%02X%02X", f[4 + 3 * k], f[5 + 3 * k],
                      f[6 + 3 * k]);
        EXPECT_EQ(std::string(digits).find_first_not_of("0123456789"), std::string::npos) << Hex(f);
        EXPECT_LT(digits[0], '2') << "sign digit: " << Hex(f);
        angles[k] = (digits[0] == '1' ? -1 : 1) * std::strtol(digits + 1, nullptr, 10) / 100.0;
    }
    EXPECT_TRUE(std::fabs(angles[0]) <= 45 && std::fabs(angles[1]) <= 45) << Hex(f);
    EXPECT_TRUE(angles[2] >= 0.0 && angles[2] < 360.0) << Hex(f);
    return angles;
}

TEST(ModuleSim, ReadRequestsGetValidReadingsThatMoveSmoothly) {
    Sim sim("");
    std::array<double, 3> previous{};
    Clock::time_point previousSent;
    bool moved = false;
    for (int i = 0; i < 20 || (!moved && i < 5000); ++i) {
        const auto sent = Clock::now();
        sim.Write(Request(0, 0x04));
        const auto now = ExpectReading(sim.NextFrame(), 0);
        // At most 25 degrees a second, over as long as the test was away.
        const double limit =
            25 * std::chrono::duration<double>(Clock::now() - previousSent).count();
        for (std::size_t k = 0; i > 0 && k < 3; ++k) {
            const double step = std::fabs(now[k] - previous[k]);
            EXPECT_LE(k == 2 ? std::min(step, 360.0 - step) : step, limit + 0.02) << k;
        }
        moved = moved || (i > 0 && now != previous);
        previous = now;
        previousSent = sent;
    }
    EXPECT_TRUE(moved) << "readings did not change";

    Sim fixed("--fixed -12.34,5.6,359.99 --address 1");
    fixed.Write(Request(1, 0x04));
    const auto frame = fixed.NextFrame();
    EXPECT_EQ(frame ? Hex(*frame) : "", "68 0D 01 84 10 12 34 00 05 60 03 59 99 42");
}

// Answers by default and under --fail, in order on one module.
class Answers : public ::testing::TestWithParam<bool> {};

TEST_P(Answers, ZeroBaudCalibrationAndAddress) {
    const struct {
        Bytes request;
        const char* ok;
        const char* failed;
    } cases[] = {
        {Request(0, 0x05, {1}), "68 05 00 85 00 8A", "68 05 00 85 01 8B"},  // set zero
        {Request(0, 0x0B, {2}), "68 05 00 8B 00 90", "68 05 00 8B 01 91"},
        {Request(0, 0x0B, {0xFF}), "68 05 00 8B 01 91", "68 05 00 8B 01 91"},  // no selection
        {Request(0, 0x08), "68 05 00 88 00 8D", "68 05 00 88 FF 8C"},          // calibration start
        {Request(0, 0x45), "68 05 00 88 01 8E", "68 05 00 88 FF 8C"},          // samples
        {Request(0, 0x45), "68 05 00 88 02 8F", "68 05 00 88 FF 8C"},
        {Request(0, 0x08), "68 05 00 88 00 8D", "68 05 00 88 FF 8C"},  // counts from 0 again
        {Request(0, 0x45), "68 05 00 88 01 8E", "68 05 00 88 FF 8C"},
        {Request(0, 0x09), "68 08 00 89 00 0C 0A 07 AE", "68 08 00 89 FF 00 00 00 90"},  // stop
        {Request(0, 0x0A), "68 05 00 8A 00 8F", "68 05 00 8A FF 8E"},                    // save
        {Request(0, 0x0F, {5}), "68 05 00 8F 00 94", "68 05 00 8F 01 95"},  // from the old address
    };
    Sim sim(GetParam() ? "--fail" : "");
    for (const auto& c : cases) {
        sim.Write(c.request);
        const auto frame = sim.NextFrame();
        EXPECT_EQ(frame ? Hex(*frame) : "", GetParam() ? c.failed : c.ok) << Hex(c.request);
    }
    const int now = GetParam() ? 0 : 5;  // the new address holds unless the change failed
    sim.Write(Request(5 - now, 0x04));
    sim.Write(Request(now, 0x04));
    ExpectReading(sim.NextFrame(), now);
    EXPECT_TRUE(sim.QuietFor(300ms));
}

INSTANTIATE_TEST_SUITE_P(ModuleSim, Answers, ::testing::Bool());

TEST(ModuleSim, AutomaticOutputAndEachFaultModeDoWhatTheySay) {
    Sim bad("--bad-checksum");
    bad.Write(Request(0, 0x05, {1}));
    const auto frame = bad.NextFrame();
    EXPECT_EQ(frame ? Hex(*frame) : "", "68 05 00 85 00 8B");  // one more than 8A
    // Noise before every frame; a start byte in it would break the frame that follows.
    Sim noisy("--auto 2000 --noise");
    for (int i = 0; i < 100; ++i) {
        const long skipped = noisy.skipped;
        ExpectReading(noisy.NextFrame(), 0);
        EXPECT_GT(noisy.skipped, skipped) << "no noise before frame " << i;
    }
    noisy.Write(Request(0, 0x0C, {0x00}));  // answer mode stops the stream
    for (int late = 0; noisy.NextFrame(150ms); ++late)
        ASSERT_LT(late, 1000) << "stream did not stop";
    EXPECT_TRUE(noisy.QuietFor(300ms));
    Sim split("--split-gap 5");
    split.Write(Request(0, 0x04));
    ExpectReading(split.NextFrame(), 0);
    EXPECT_GE(split.reads, 2);
    for (const char* args : {"--silent", "--silent --auto 200"}) {
        Sim silent(args);
        silent.Write(Request(0, 0x04));
        silent.Write(Request(0, 0x08));
        EXPECT_TRUE(silent.QuietFor(300ms)) << args;
    }
    const auto started = Clock::now();
    Sim vanishing("--vanish-after 0.2");
    ssize_t n = 0;
    while ((n = vanishing.Fill(started + 3s)) > 0) {
    }
    EXPECT_LT(n, 0) << "the device did not go";
    EXPECT_GE(Clock::now() - started, 200ms);
    EXPECT_EQ(vanishing.WaitExit(3s), 0);
}

// A file under the test's temporary folder, removed at the end of the test.
class TempFile {
public:
    TempFile(const std::string& name, const std::string& content)
        : path(::testing::TempDir() + "modulesim_" + std::to_string(::getpid()) + "_" + name) {
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr) << path;
        if (f) {
            std::fwrite(content.data(), 1, content.size(), f);
            std::fclose(f);
        }
    }
    ~TempFile() { std::remove(path.c_str()); }
    std::string Read() const {
        std::string text;
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            char buf[4096];
            for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
                text.append(buf, n);
            std::fclose(f);
        }
        return text;
    }
    const std::string path;
};

// A line of the record file: two lower-case digits and a blank per byte.
std::string RecordLine(const Bytes& bytes) {
    std::string text;
    char buf[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x ", b);
        text += buf;
    }
    return text + "\r\n";
}

TEST(ModuleSim, ReplayPlaysTheGoodReadingFramesOfARecordInOrder) {
    std::vector<Bytes> good;
    for (int k = 0; k < 5; ++k)
        good.push_back(Request(static_cast<std::uint8_t>(k), 0x84,
                               {0x00, 0x10, static_cast<std::uint8_t>(0x10 * k), 0x10, 0x20, 0x30,
                                0x03, 0x45, static_cast<std::uint8_t>(k)}));
    Bytes bad = good[0];
    bad.back() ^= 0x40;
    const TempFile record("record.txt",
                          "Date: 2026-12-07  Time:09:05:03\r\n" + RecordLine(good[0]) +
                              RecordLine(good[1]) + RecordLine(bad) + "00 68 02 \r\n" +
                              RecordLine(good[2]) + RecordLine(Request(0, 0x85, {0})) + "00 " +
                              RecordLine(good[3]) + RecordLine(good[4]) +
                              "End Date: 2026-12-07  Time:09:05:09\r\n");
    const TempFile log("replay.log", "");
    const auto started = Clock::now();
    Sim sim("--replay '" + record.path + "' --rate 40 2>'" + log.path + "'");
    for (const Bytes& frame : good) {
        const auto got = sim.NextFrame();
        EXPECT_EQ(got ? Hex(*got) : "", Hex(frame));
    }
    EXPECT_EQ(sim.skipped, 0);
    // Frame k is due at k / 40 s: the fifth is not out before 100 ms.
    EXPECT_GE(Clock::now() - started, 100ms);
    EXPECT_TRUE(sim.QuietFor(300ms)) << "replay went on past the end of the file";
    // Requests are still answered.
    sim.Write(Request(0, 0x08));
    const auto answer = sim.NextFrame();
    EXPECT_EQ(answer ? Hex(*answer) : "", "68 05 00 88 00 8D");
    const std::string report = log.Read();
    for (const char* line : {"line 4: bad checksum", "line 5: 3 rejected bytes, no frame",
                             "line 7: not a reading (command 85)",
                             "line 8: 1 rejected byte before the frame", "5 reading frames"})
        EXPECT_NE(report.find(line), std::string::npos) << line << " in:\n" << report;

    Sim looping("--replay '" + record.path + "' --rate 1000 --loop");
    for (int i = 0; i < 12; ++i) {
        const auto got = looping.NextFrame();
        EXPECT_EQ(got ? Hex(*got) : "", Hex(good[i % good.size()])) << i;
    }
}

TEST(ModuleSim, ReplayOfAMissingOrEmptyRecordEndsWithStatus2) {
    const TempFile empty("empty.txt", "Date: 2026-12-07  Time:09:05:03\r\n68 05 00 85 00 8a \r\n");
    const TempFile log("replay.log", "");
    const std::string missing = empty.path + ".missing";
    const struct {
        std::string file;
        std::string message;
    } cases[] = {
        {missing, "torva-sim: cannot read " + missing + ": No such file or directory\n"},
        {empty.path, "torva-sim: " + empty.path + " holds no reading frame\n"},
    };
    for (const auto& c : cases) {
        Sim sim("--replay '" + c.file + "' 2>'" + log.path + "'");
        EXPECT_EQ(sim.path, "") << c.file;
        EXPECT_EQ(sim.WaitExit(5s), 2) << c.file;
        EXPECT_EQ(log.Read(), c.message);
    }
}

TEST(ModuleSim, AModeReportsTheRunningCountEveryTwoSeconds) {
    const TempFile log("verbose.log", "");
    Sim sim("--verbose --cal-error save 2>'" + log.path + "'");
    sim.Write(Request(0, 0x08));
    const auto started = sim.NextFrame();
    EXPECT_EQ(started ? Hex(*started) : "", "68 05 00 88 00 8D");
    sim.Write(Request(0, 0x44));
    const auto sent = Clock::now();
    const auto first = sim.NextFrame(5s);
    EXPECT_GE(Clock::now() - sent, 1900ms);
    // Eight samples in the first two seconds, give or take the moment the request arrived.
    ASSERT_TRUE(first && first->size() == 6 && (*first)[3] == 0x88) << (first ? Hex(*first) : "");
    EXPECT_GE((*first)[4], 7);
    EXPECT_LE((*first)[4], 8);
    sim.Write(Request(0, 0x0A));
    const auto refused = sim.NextFrame();
    EXPECT_EQ(refused ? Hex(*refused) : "", "68 05 00 8A FF 8E");
    sim.Write(Request(0, 0x09));
    const auto stop = sim.NextFrame();
    ASSERT_TRUE(stop && stop->size() == 9) << (stop ? Hex(*stop) : "");
    // Coverage of the count so far: sampling went on while the save and stop were under way.
    bool matches = false;
    for (int n = (*first)[4]; n <= (*first)[4] + 2; ++n) {
        const Bytes coverage{0x89, 0x00, static_cast<std::uint8_t>(std::min(100, 12 * n)),
                             static_cast<std::uint8_t>(std::min(100, 10 * n)),
                             static_cast<std::uint8_t>(std::min(100, 7 * n))};
        matches = matches || Bytes(stop->begin() + 3, stop->end() - 1) == coverage;
    }
    EXPECT_TRUE(matches) << Hex(*stop);
    EXPECT_TRUE(sim.QuietFor(2500ms)) << "reports went on after the stop";
    const std::string report = log.Read();
    for (const char* line :
         {"torva-sim: request 68 04 00 08 0C: calibration start\n",
          "torva-sim: request 68 04 00 44 48: calibration A-mode\n", "torva-sim: A-mode count ",
          "torva-sim: request 68 04 00 0A 0E: calibration save, error FF\n",
          "torva-sim: request 68 04 00 09 0D: calibration stop X "})
        EXPECT_NE(report.find(line), std::string::npos) << line << " in:\n" << report;
}

// A reading of --fixed 1,2,3 from `address`.
Bytes Reading123(std::uint8_t address) {
    return Request(address, 0x84, {0x00, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x03, 0x00});
}

const Bytes kSilence;
const Bytes kGarbage{0xFF};  // stands for 1 to 6 bytes that hold no frame

struct LineStep {
    speed_t speed;  // the console's line speed
    Bytes request;
    Bytes answer;  // kSilence, kGarbage or the frame
};

struct LineScript {
    const char* name;
    const char* args;
    std::vector<LineStep> steps;
};

void PrintTo(const LineScript& script, std::ostream* out) {
    *out << script.name;
}

class Line : public ::testing::TestWithParam<LineScript> {};

TEST_P(Line, OnlyItsAddressAtItsSpeedGetsAnAnswer) {
    Sim sim(GetParam().args);
    int index = 0;
    for (const LineStep& step : GetParam().steps) {
        sim.SetSpeed(step.speed);
        sim.Write(step.request);
        const std::string where = "step " + std::to_string(index++) + ": " + Hex(step.request);
        if (step.answer == kSilence) {
            EXPECT_TRUE(sim.QuietFor(300ms)) << where;
        } else if (step.answer == kGarbage) {
            const Bytes garbage = sim.Drain(300ms);
            EXPECT_TRUE(garbage.size() >= 1 && garbage.size() <= 6)
                << where << ": " << Hex(garbage);
        } else {
            const auto frame = sim.NextFrame();
            EXPECT_EQ(frame ? Hex(*frame) : "", Hex(step.answer)) << where;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    ModuleSim, Line,
    ::testing::Values(
        LineScript{"AddressAndSpeedMoveAfterTheirAnswers",
                   "--address 37 --speed 4800 --fixed 1,2,3",
                   {{B4800, Request(37, 0x04), Reading123(37)},
                    {B4800, Request(36, 0x04), kSilence},
                    {B9600, Request(37, 0x04), kSilence},
                    {B2400, Request(37, 0x04), kSilence},
                    {B4800, Request(37, 0x0F, {5}), Request(37, 0x8F, {0x00})},
                    {B4800, Request(37, 0x04), kSilence},
                    {B4800, Request(5, 0x04), Reading123(5)},
                    {B4800, Request(5, 0x0B, {5}), Request(5, 0x8B, {0x00})},  // to 115200
                    {B4800, Request(5, 0x04), kSilence},
                    {B115200, Request(5, 0x04), Reading123(5)},
                    {B115200, Request(5, 0x0B, {6}), Request(5, 0x8B, {0x01})},  // no such speed
                    {B115200, Request(5, 0x04), Reading123(5)}}},
        LineScript{"GarbageAtAWrongSpeedOnly",
                   "--address 3 --speed 2400 --garbage-on-mismatch --fixed 1,2,3",
                   {{B9600, Request(3, 0x04), kGarbage},
                    {B115200, Request(200, 0x04), kGarbage},
                    {B2400, Request(3, 0x04), Reading123(3)},
                    {B2400, Request(4, 0x04), kSilence}}},
        LineScript{"AnySpeedWithoutASpeedOfItsOwn",
                   "--fixed 1,2,3",
                   {{B2400, Request(0, 0x04), Reading123(0)},
                    {B115200, Request(0, 0x0B, {0}), Request(0, 0x8B, {0x00})},
                    {B9600, Request(0, 0x04), Reading123(0)},
                    {B9600, Request(1, 0x04), kSilence}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModuleSim, ALineSpeedTakesTenBitsAByte) {
    const struct {
        int speed;
        speed_t code;
    } speeds[] = {{2400, B2400}, {4800, B4800}, {9600, B9600}};
    for (const auto& [speed, code] : speeds) {
        // A read request (5 bytes) and its answer (14 bytes) cross the line one after the other.
        Sim sim("--speed " + std::to_string(speed));
        sim.SetSpeed(code);
        const auto sent = Clock::now();
        sim.Write(Request(0, 0x04));
        ExpectReading(sim.NextFrame(), 0);
        EXPECT_GE(Clock::now() - sent, std::chrono::microseconds(19LL * 10 * 1'000'000 / speed))
            << speed;
    }
    // Automatic output faster than the line: the frames take the line's time at least, counted
    // from before the simulator was started.
    const auto started = Clock::now();
    Sim streaming("--speed 2400 --auto 100");
    streaming.SetSpeed(B2400);
    for (int i = 0; i < 25; ++i)
        ExpectReading(streaming.NextFrame(), 0);
    EXPECT_GE(Clock::now() - started, std::chrono::microseconds(25LL * 14 * 10 * 1'000'000 / 2400));
}

std::string LinkTarget(const std::string& link) {
    char buf[256];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

TEST(ModuleSim, LinkReplacesOnlyAnEarlierLinkToAPseudoTerminal) {
    const TempFile file("not-a-link", "keep me");
    const TempFile other("other-link", "");
    std::remove(other.path.c_str());
    ASSERT_EQ(::symlink("/dev/null", other.path.c_str()), 0);
    const TempFile stale("stale-link", "");
    std::remove(stale.path.c_str());
    ASSERT_EQ(::symlink("/dev/pts/4242", stale.path.c_str()), 0);
    const TempFile fresh("fresh-link", "");
    std::remove(fresh.path.c_str());
    const std::string folder = ::testing::TempDir();

    const struct {
        std::string link;
        bool made;
        std::string after;  // the link's target afterwards, or the file's text
    } cases[] = {
        {fresh.path, true, "/dev/pts/7"},
        {stale.path, true, "/dev/pts/7"},
        {other.path, false, "/dev/null"},
        {file.path, false, "keep me"},
        {folder, false, ""},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(modulesim::PointLink(c.link, "/dev/pts/7", error), c.made) << c.link;
        EXPECT_EQ(c.link == file.path ? file.Read() : LinkTarget(c.link), c.after) << c.link;
        EXPECT_EQ(error.empty(), c.made) << error;
    }
    // Removed only while it still points where it was made to.
    modulesim::RemoveLink(stale.path, "/dev/pts/8");
    EXPECT_EQ(LinkTarget(stale.path), "/dev/pts/7");
    modulesim::RemoveLink(stale.path, "/dev/pts/7");
    EXPECT_FALSE(Exists(stale.path));

    const TempFile log("link.log", "");
    Sim refused("--link '" + file.path + "' 2>'" + log.path + "'");
    EXPECT_EQ(refused.path, "");
    EXPECT_EQ(refused.WaitExit(5s), 1);
    EXPECT_EQ(file.Read(), "keep me");
    EXPECT_EQ(log.Read(), "torva-sim: --link " + file.path +
                              " exists and is not a link to a pseudo-terminal; left as it is\n");
}

TEST(ModuleSim, ReplugComesBackUnderItsLinkAsTheSameModule) {
    const TempFile link("replug-link", "");
    std::remove(link.path.c_str());
    // A pseudo-terminal taken before the simulator's and given back while its device is away:
    // at the return the lowest free number is below the old one, and the old one is free too.
    struct Spare {
        int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ~Spare() { Release(); }
        void Release() {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    } spare;
    ASSERT_GE(spare.fd, 0);
    Sim sim("--address 9 --speed 9600 --fixed 1,2,3 --link '" + link.path + "' --replug-after 2,1");
    EXPECT_EQ(LinkTarget(link.path), sim.path);
    sim.SetSpeed(B9600);
    sim.Write(Request(9, 0x0F, {12}));
    EXPECT_EQ(Hex(sim.NextFrame().value_or(Bytes{})), Hex(Request(9, 0x8F, {0x00})));
    sim.Write(Request(12, 0x0B, {4}));
    EXPECT_EQ(Hex(sim.NextFrame().value_or(Bytes{})), Hex(Request(12, 0x8B, {0x00})));

    ssize_t n = 0;
    while ((n = sim.Fill(Clock::now() + 5s)) > 0) {
    }
    ASSERT_LT(n, 0) << "the device did not go";
    sim.CloseDevice();
    spare.Release();
    // Gone with its device, as a link to a pulled adapter is.
    const auto deadline = Clock::now() + 500ms;
    while (Exists(link.path) && Clock::now() < deadline)
        ::poll(nullptr, 0, 5);
    EXPECT_FALSE(Exists(link.path));

    const std::string back = sim.NextLine(5s);
    EXPECT_TRUE(std::regex_match(back, std::regex("/dev/pts/[0-9]+"))) << back;
    EXPECT_NE(back, sim.path);
    EXPECT_EQ(LinkTarget(link.path), back);
    sim.Reopen(link.path);
    sim.SetSpeed(B9600);
    sim.Write(Request(12, 0x04));
    EXPECT_TRUE(sim.QuietFor(300ms)) << "the module forgot its speed";
    sim.SetSpeed(B38400);
    sim.Write(Request(9, 0x04));
    sim.Write(Request(12, 0x04));
    EXPECT_EQ(Hex(sim.NextFrame().value_or(Bytes{})), Hex(Reading123(12)));
    EXPECT_TRUE(sim.QuietFor(300ms));

    sim.Terminate();
    EXPECT_EQ(sim.WaitExit(5s), 0);
    EXPECT_FALSE(Exists(link.path)) << "the link outlived the simulator";
}

TEST(ModuleSim, RunSetsTorvaCom1ToTheDeviceOrItsLinkAndPassesTheExitStatus) {
    const char* command =
        "--run /bin/sh -c 'test -c \"$TORVA_COM1\" && echo \"$TORVA_COM1\"; exit 7'";
    Sim run(command);
    EXPECT_TRUE(std::regex_match(run.path, std::regex("/dev/pts/[0-9]+"))) << run.path;
    EXPECT_EQ(run.WaitExit(5s), 7);

    const TempFile link("run-link", "");
    std::remove(link.path.c_str());
    Sim linked("--link '" + link.path + "' " + command);
    EXPECT_EQ(linked.path, link.path);
    EXPECT_EQ(linked.WaitExit(5s), 7);
    EXPECT_FALSE(Exists(link.path));
}

}  // namespace
