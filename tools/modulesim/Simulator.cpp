#include "Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "DeviceLink.h"
#include "Line.h"
#include "Module.h"
#include "Wire.h"

extern char** environ;

namespace modulesim {
namespace {

using Clock = std::chrono::steady_clock;

// Frames are lost, as on a line nobody reads, once this much waits unwritten.
constexpr std::size_t kBacklogLimit = 64 * 1024;
// A module with a line speed holds at most this much of its output back.
constexpr std::chrono::milliseconds kMaxLineAhead{500};
// At most this many automatic-output frames go into one write.
constexpr long long kMaxBatch = 4096;

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int Get() const { return m_fd; }
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// Signals reach the poll loop through a pipe: the handler only writes the signal number.
int g_signalPipeWrite = -1;

extern "C" void OnSignal(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipeWrite, &byte, 1);
    errno = saved;
}

bool InstallSignals(Fd& readEnd, Fd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
    g_signalPipeWrite = fds[1];
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGINT, SIGTERM}) {
        if (::sigaction(s, &action, nullptr) != 0)
            return false;
    }
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    if (::sigaction(SIGCHLD, &action, nullptr) != 0)
        return false;
    action.sa_handler = SIG_IGN;  // a closed stdout must not end the simulator
    return ::sigaction(SIGPIPE, &action, nullptr) == 0;
}

long SpeedValue(speed_t speed) {
    static constexpr std::array<std::pair<speed_t, long>, 19> kSpeeds{{
        {B0, 0},         {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},
        {B150, 150},     {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},
        {B1800, 1800},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
    }};
    for (const auto& [code, value] : kSpeeds) {
        if (code == speed)
            return value;
    }
    return -1;
}

std::string HexText(const Bytes& bytes) {
    std::string text;
    char buf[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", b);
        text += buf;
    }
    if (!text.empty())
        text.pop_back();
    return text;
}

int ExitStatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return 1;
}

Clock::duration Seconds(double s) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

class Simulator {
public:
    Simulator(const Options& options, std::vector<Bytes> replay)
        : m_options(options),
          m_module(static_cast<std::uint8_t>(options.address),
                   ModuleBehaviour{options.fail, options.ackAll, options.fixed, options.calError,
                                   options.calSilent, options.turntable, options.hold,
                                   options.deviation, options.tiltError, options.seed}),
          m_line(LineFaults{options.badChecksum, options.noise, options.split,
                            std::chrono::microseconds(std::llround(options.splitGapMs * 1000.0)),
                            options.seed}),
          m_answerDelay(Seconds(options.delayMs / 1000.0)),
          m_autoBudget(options.frames.value_or(-1)),
          m_replay(std::move(replay)) {
        m_module.SetSpeed(options.speed);
        UpdateByteTime();
    }
    ~Simulator() { DropLink(); }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    int Run();

private:
    bool MakePty();
    bool OpenDevice(std::string avoid);
    bool LinkDevice();
    void DropLink();
    bool StartCommand();
    void Vanish();
    void Unplug(Clock::time_point now);
    void Plug(Clock::time_point now);
    void SkipMissed(Clock::time_point now);
    long LineSpeed() const;
    bool SpeedsAgree() const;
    void UpdateByteTime();
    void Transmit(const std::vector<Bytes>& frames, Clock::time_point at);
    void StreamDue(Clock::time_point now);
    std::optional<Clock::time_point> NextAutoDue() const;
    void ReplayDue(Clock::time_point now);
    std::optional<Clock::time_point> NextReplayDue() const;
    void TickModule(Clock::time_point now);
    std::optional<Clock::time_point> NextModuleTick() const;
    void ReadRequests(Clock::time_point now);
    bool LineFull(Clock::time_point now) const;
    void HandleSignals();
    void LogSpeed();
    double SecondsAt(Clock::time_point t) const {
        return std::chrono::duration<double>(t - m_start).count();
    }

    const Options& m_options;
    Module m_module;
    Line m_line;
    RequestAssembler m_assembler;
    Fd m_master;
    Fd m_slave;  // held so the master never sees a hang-up while nobody else has the device open
    Fd m_signalRead;
    Fd m_signalWrite;
    std::string m_slavePath;
    std::string m_linkedTo;  // the device --link points at now, empty while there is no link
    Clock::time_point m_start;
    Clock::time_point m_autoStart;
    Clock::duration m_answerDelay;
    long long m_autoCount = 0;    // frames of the current automatic-output period so far
    long long m_autoBudget = 0;   // frames left under --frames, -1 without a limit
    std::vector<Bytes> m_replay;  // reading frames to play from the start of the run
    long long m_replayCount = 0;  // replay frames sent (or lost to a full line) so far
    pid_t m_child = -1;
    bool m_childSignalled = false;
    bool m_stop = false;
    int m_status = 0;
    long m_speed = -2;
    bool m_vanished = false;                      // gone for good
    std::optional<Clock::time_point> m_unplugAt;  // --replug-after: when the device goes away
    std::optional<Clock::time_point> m_returnAt;  // and when it comes back
    Clock::time_point m_heardUntil{};  // when the last byte read would have crossed the line
};

bool Simulator::MakePty() {
    m_master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (m_master.Get() < 0 || ::grantpt(m_master.Get()) != 0 || ::unlockpt(m_master.Get()) != 0) {
        std::fprintf(stderr, "torva-sim: cannot create a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return false;
    }
    char name[128];
    if (::ptsname_r(m_master.Get(), name, sizeof name) != 0) {
        std::fprintf(stderr, "torva-sim: ptsname: %s\n", std::strerror(errno));
        return false;
    }
    m_slavePath = name;
    // Raw before the first byte: a fresh pseudo-terminal echoes and translates otherwise.
    termios tio{};
    if (::tcgetattr(m_master.Get(), &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    if (::tcsetattr(m_master.Get(), TCSANOW, &tio) != 0)
        return false;
    if (::fcntl(m_master.Get(), F_SETFL, ::fcntl(m_master.Get(), F_GETFL) | O_NONBLOCK) != 0) {
        return false;
    }
    m_slave.Reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (m_slave.Get() < 0) {
        std::fprintf(stderr, "torva-sim: cannot open %s: %s\n", name, std::strerror(errno));
        return false;
    }
    return true;
}

// A device that comes back gets another path than `avoid`, as a replugged adapter may: the
// pseudo-terminal numbered `avoid` is held while the next one is made. `avoid` is a copy: the
// caller passes the path in force, which making a terminal changes.
bool Simulator::OpenDevice(std::string avoid) {
    Fd heldMaster;
    Fd heldSlave;
    if (!MakePty())
        return false;
    if (m_slavePath != avoid)
        return true;
    heldMaster.Reset(m_master.Release());
    heldSlave.Reset(m_slave.Release());
    return MakePty();
}

bool Simulator::LinkDevice() {
    if (m_options.link.empty())
        return true;
    std::string error;
    if (!PointLink(m_options.link, m_slavePath, error)) {
        std::fprintf(stderr, "torva-sim: --link %s\n", error.c_str());
        return false;
    }
    m_linkedTo = m_slavePath;
    return true;
}

void Simulator::DropLink() {
    if (m_linkedTo.empty())
        return;
    RemoveLink(m_options.link, m_linkedTo);
    m_linkedTo.clear();
}

bool Simulator::StartCommand() {
    const std::string& device = m_options.link.empty() ? m_slavePath : m_options.link;
    if (::setenv("TORVA_COM1", device.c_str(), 1) != 0)
        return false;
    std::vector<char*> argv;
    for (const std::string& arg : m_options.run)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int error = ::posix_spawnp(&m_child, argv[0], nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
        std::fprintf(stderr, "torva-sim: cannot run %s: %s\n", argv[0], std::strerror(error));
        m_child = -1;
        return false;
    }
    return true;
}

void Simulator::Vanish() {
    if (m_options.verbose)
        std::fprintf(stderr, "torva-sim: device closed\n");
    m_vanished = true;
    m_unplugAt.reset();
    m_returnAt.reset();
    m_master.Reset();
    m_slave.Reset();
    DropLink();
    if (m_child < 0)
        m_stop = true;
}

// The device goes as a pulled adapter does: its pseudo-terminal closes and the link goes with
// it; the module keeps its state for when it comes back.
void Simulator::Unplug(Clock::time_point now) {
    if (m_options.verbose)
        std::fprintf(stderr, "torva-sim: device gone for %g s\n", m_options.replugDown);
    m_unplugAt.reset();
    m_master.Reset();
    m_slave.Reset();
    DropLink();
    m_line.Clear();
    m_assembler = RequestAssembler();
    m_heardUntil = {};
    m_returnAt = now + Seconds(m_options.replugDown);
}

void Simulator::Plug(Clock::time_point now) {
    m_returnAt.reset();
    if (!OpenDevice(m_slavePath)) {
        Vanish();
        return;
    }
    LinkDevice();  // without the link the device is still there under its path
    m_speed = -2;
    LogSpeed();
    if (m_options.verbose)
        std::fprintf(stderr, "torva-sim: device back as %s\n", m_slavePath.c_str());
    if (m_options.run.empty()) {
        std::printf("%s\n", m_slavePath.c_str());
        std::fflush(stdout);
    }
    SkipMissed(now);
}

// Frames that fell due while the device was away were sent to nobody.
void Simulator::SkipMissed(Clock::time_point now) {
    if (m_module.AutoOutput()) {
        const double elapsed = SecondsAt(now) - SecondsAt(m_autoStart);
        m_autoCount =
            std::max(m_autoCount, static_cast<long long>(std::floor(elapsed * m_options.rate)) + 1);
    }
    if (!m_replay.empty()) {
        long long missed = static_cast<long long>(std::floor(SecondsAt(now) * m_options.rate)) + 1;
        if (!m_options.loop)
            missed = std::min(missed, static_cast<long long>(m_replay.size()));
        m_replayCount = std::max(m_replayCount, missed);
    }
}

long Simulator::LineSpeed() const {
    termios tio{};
    if (::tcgetattr(m_master.Get(), &tio) != 0)
        return -1;
    return SpeedValue(::cfgetospeed(&tio));
}

// Both sides of the line at one speed; a module without a speed of its own takes any.
bool Simulator::SpeedsAgree() const {
    const std::optional<int> speed = m_module.Speed();
    return !speed || LineSpeed() == *speed;
}

void Simulator::UpdateByteTime() {
    const std::optional<int> speed = m_module.Speed();
    m_line.SetByteTime(speed ? Seconds(10.0 / *speed) : Clock::duration::zero());
}

// What the module sends reaches the other side only at the module's speed; at another the
// other side sees garbage (with --garbage-on-mismatch) or nothing.
void Simulator::Transmit(const std::vector<Bytes>& frames, Clock::time_point at) {
    if (SpeedsAgree()) {
        m_line.Send(frames, at);
    } else if (m_options.garbageOnMismatch) {
        std::size_t count = 0;
        for (const Bytes& frame : frames)
            count += frame.size();
        m_line.SendGarbage(count, at);
    }
}

std::optional<Clock::time_point> Simulator::NextAutoDue() const {
    if (!m_module.AutoOutput() || m_options.silent || m_autoBudget == 0)
        return std::nullopt;
    return m_autoStart + Seconds(static_cast<double>(m_autoCount) / m_options.rate);
}

void Simulator::StreamDue(Clock::time_point now) {
    if (!NextAutoDue())
        return;
    // Frame k of the period is due at k / rate; send every frame due by now in one piece.
    const double elapsed = SecondsAt(now) - SecondsAt(m_autoStart);
    long long due = static_cast<long long>(std::floor(elapsed * m_options.rate)) + 1 - m_autoCount;
    if (due <= 0)
        return;
    if (LineFull(now) || due > kMaxBatch) {
        const long long lost = LineFull(now) ? due : due - kMaxBatch;
        m_autoCount += lost;
        due -= lost;
    }
    if (m_autoBudget >= 0)
        due = std::min(due, m_autoBudget);
    if (due <= 0)
        return;
    std::vector<Bytes> frames;
    frames.reserve(static_cast<std::size_t>(due));
    for (long long k = 0; k < due; ++k) {
        const double t =
            SecondsAt(m_autoStart) + static_cast<double>(m_autoCount + k) / m_options.rate;
        frames.push_back(m_module.ReadingFrame(t));
    }
    Transmit(frames, now);
    m_autoCount += due;
    if (m_autoBudget >= 0)
        m_autoBudget -= due;
}

std::optional<Clock::time_point> Simulator::NextReplayDue() const {
    const auto size = static_cast<long long>(m_replay.size());
    if (size == 0 || m_options.silent || (!m_options.loop && m_replayCount >= size))
        return std::nullopt;
    return m_start + Seconds(static_cast<double>(m_replayCount) / m_options.rate);
}

// Replay frame k is due at k / rate from the start of the run, like automatic output.
void Simulator::ReplayDue(Clock::time_point now) {
    if (!NextReplayDue())
        return;
    const auto size = static_cast<long long>(m_replay.size());
    long long due =
        static_cast<long long>(std::floor(SecondsAt(now) * m_options.rate)) + 1 - m_replayCount;
    if (!m_options.loop)
        due = std::min(due, size - m_replayCount);
    if (due <= 0)
        return;
    if (LineFull(now) || due > kMaxBatch) {
        const long long lost = LineFull(now) ? due : due - kMaxBatch;
        m_replayCount += lost;
        due -= lost;
    }
    std::vector<Bytes> frames;
    frames.reserve(static_cast<std::size_t>(std::max(due, 0LL)));
    for (long long k = 0; k < due; ++k)
        frames.push_back(m_replay[static_cast<std::size_t>((m_replayCount + k) % size)]);
    Transmit(frames, now);
    m_replayCount += due;
    if (m_options.verbose && !m_options.loop && m_replayCount >= size)
        std::fprintf(stderr, "torva-sim: replay ended after %lld frames\n", m_replayCount);
}

std::optional<Clock::time_point> Simulator::NextModuleTick() const {
    const std::optional<double> next = m_module.NextTick();
    if (!next)
        return std::nullopt;
    return m_start + Seconds(*next);
}

void Simulator::TickModule(Clock::time_point now) {
    const Outcome outcome = m_module.Tick(SecondsAt(now));
    if (m_options.verbose && !outcome.note.empty())
        std::fprintf(stderr, "torva-sim: %s\n", outcome.note.c_str());
    if (!m_options.silent)
        Transmit(outcome.answers, now);
}

// Frames are lost, as on a line nobody reads, once too much waits unwritten, or once a line
// with a speed is taken for longer than the module would hold its output.
bool Simulator::LineFull(Clock::time_point now) const {
    return m_line.PendingBytes() > kBacklogLimit || m_line.BusyUntil() > now + kMaxLineAhead;
}

void Simulator::LogSpeed() {
    if (!m_options.verbose)
        return;
    const long speed = LineSpeed();
    if (speed != m_speed) {
        std::fprintf(stderr, "torva-sim: line speed %ld\n", speed);
        m_speed = speed;
    }
}

void Simulator::ReadRequests(Clock::time_point now) {
    std::uint8_t buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master.Get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;  // EAGAIN: all read; EIO cannot last while the slave is held
        LogSpeed();
        if (!SpeedsAgree()) {
            // Sent at another speed, the bytes reach the module as noise, and so does the end
            // of a request it had begun to gather.
            m_assembler = RequestAssembler();
            if (m_options.verbose) {
                std::fprintf(stderr, "torva-sim: %zd bytes at %ld bit/s, not understood at %d\n", n,
                             LineSpeed(), *m_module.Speed());
            }
            if (m_options.garbageOnMismatch && !m_options.silent)
                m_line.SendGarbage(m_line.GarbageBurst(), now);
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            // With a line speed, a byte has arrived once its ten bits have crossed the line.
            m_heardUntil = std::max(m_heardUntil, now) + m_line.ByteTime();
            const std::optional<Bytes> request = m_assembler.Feed(buf[i]);
            if (!request)
                continue;
            const bool wasAuto = m_module.AutoOutput();
            Outcome outcome = m_module.Handle(*request, SecondsAt(now));
            if (m_options.verbose) {
                std::fprintf(stderr, "torva-sim: request %s: %s\n", HexText(*request).c_str(),
                             outcome.note.c_str());
            }
            if (!wasAuto && m_module.AutoOutput()) {
                m_autoStart = now;
                m_autoCount = 0;
            }
            // The request came at the module's speed, and the answer goes out at it, even
            // when the request moved the module to another.
            if (!m_options.silent)
                m_line.Send(outcome.answers, m_heardUntil + m_answerDelay);
            UpdateByteTime();
        }
    }
}

void Simulator::HandleSignals() {
    unsigned char signals[64];
    ssize_t n;
    while ((n = ::read(m_signalRead.Get(), signals, sizeof signals)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            const int s = signals[i];
            if (s == SIGCHLD)
                continue;
            if (m_child < 0) {
                m_stop = true;
            } else {
                // Pass the signal on; a second one is not asked twice.
                ::kill(m_child, m_childSignalled ? SIGKILL : s);
                m_childSignalled = true;
            }
        }
    }
    int waitStatus = 0;
    if (m_child >= 0 && ::waitpid(m_child, &waitStatus, WNOHANG) == m_child) {
        m_status = ExitStatusOf(waitStatus);
        m_child = -1;
        m_stop = true;
    }
}

int Simulator::Run() {
    m_start = Clock::now();
    m_autoStart = m_start;
    if (!OpenDevice("") || !LinkDevice() || !InstallSignals(m_signalRead, m_signalWrite))
        return 1;
    m_module.SetAutoOutput(m_options.autoOutput);
    LogSpeed();
    if (!m_options.run.empty()) {
        if (!StartCommand())
            return 127;
    } else if (std::printf("%s\n", m_slavePath.c_str()) < 0 || std::fflush(stdout) != 0) {
        // Nobody would learn which device to open.
        std::fprintf(stderr, "torva-sim: cannot print the device path: %s\n", std::strerror(errno));
        return 1;
    }

    const std::optional<Clock::time_point> vanishAt =
        m_options.vanishAfter ? std::optional(m_start + Seconds(*m_options.vanishAfter))
                              : std::nullopt;
    if (m_options.replugAfter)
        m_unplugAt = m_start + Seconds(*m_options.replugAfter);
    const std::optional<Clock::time_point> endAt =
        m_options.duration ? std::optional(m_start + Seconds(*m_options.duration)) : std::nullopt;
    bool endReached = false;

    while (!m_stop) {
        const Clock::time_point now = Clock::now();
        if (vanishAt && !m_vanished && now >= *vanishAt)
            Vanish();
        if (m_unplugAt && now >= *m_unplugAt)
            Unplug(now);
        if (m_returnAt && now >= *m_returnAt)
            Plug(now);
        if (endAt && !endReached && now >= *endAt) {
            endReached = true;
            if (m_child < 0)
                break;
            ::kill(m_child, SIGTERM);
            m_childSignalled = true;
        }
        if (m_stop)
            break;
        if (m_master.Get() >= 0) {
            StreamDue(now);
            ReplayDue(now);
            TickModule(now);
            if (!m_line.Flush(m_master.Get(), now)) {
                std::fprintf(stderr, "torva-sim: write failed: %s\n", std::strerror(errno));
                Vanish();
                continue;
            }
        }

        std::optional<Clock::time_point> wake;
        auto consider = [&](std::optional<Clock::time_point> t) {
            if (t && (!wake || *t < *wake))
                wake = t;
        };
        if (m_master.Get() >= 0) {
            consider(NextAutoDue());
            consider(NextReplayDue());
            consider(NextModuleTick());
            consider(m_line.NextDue());
        }
        if (!m_vanished)
            consider(vanishAt);
        consider(m_unplugAt);
        consider(m_returnAt);
        if (!endReached)
            consider(endAt);
        int timeoutMs = -1;
        if (wake) {
            const auto left = *wake - Clock::now();
            // Round up so that a deadline less than a millisecond away does not spin.
            timeoutMs = static_cast<int>(
                std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }

        pollfd fds[2] = {{m_signalRead.Get(), POLLIN, 0}, {-1, 0, 0}};
        nfds_t count = 1;
        if (m_master.Get() >= 0) {
            fds[1] = {m_master.Get(),
                      static_cast<short>(POLLIN | (m_line.WaitingForRoom() ? POLLOUT : 0)), 0};
            count = 2;
        }
        if (::poll(fds, count, timeoutMs) < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "torva-sim: poll: %s\n", std::strerror(errno));
            return 1;
        }
        if (fds[0].revents & POLLIN)
            HandleSignals();
        if (count == 2 && (fds[1].revents & POLLIN))
            ReadRequests(Clock::now());
    }

    if (m_options.stats)
        std::fprintf(stderr, "frames sent: %lld\n", m_line.FramesSent());
    return m_status;
}

}  // namespace

int RunSimulator(const Options& options, std::vector<Bytes> replay) {
    Simulator simulator(options, std::move(replay));
    return simulator.Run();
}

}  // namespace modulesim
