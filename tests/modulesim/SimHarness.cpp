#include "SimHarness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads from a pipe until end of file or the deadline.
void ReadUntilEnd(int fd, std::string& out, Clock::time_point deadline) {
    if (fd < 0)
        return;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

}  // namespace

SimProcess::SimProcess(Launch launch) {
    int out[2];
    int err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (launch.captureStderr && ::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (err[1] >= 0)
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

    std::vector<std::string> args{MODULESIM_PATH};
    args.insert(args.end(), launch.args.begin(), launch.args.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int error = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (err[1] >= 0)
        ::close(err[1]);
    m_out = out[0];
    m_err = err[0];
    if (error != 0) {
        m_pid = -1;
        throw std::runtime_error("cannot start " + args[0]);
    }
    if (!launch.printsPath)
        return;

    // The simulator prints its device path first; give a sanitizer build time to start.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (m_outText.find('\n') == std::string::npos) {
        pollfd p{m_out, POLLIN, 0};
        if (::poll(&p, 1, MillisecondsLeft(deadline)) <= 0)
            break;
        char buf[256];
        const ssize_t n = ::read(m_out, buf, sizeof buf);
        if (n <= 0)
            break;
        m_outText.append(buf, static_cast<std::size_t>(n));
    }
    const std::size_t newline = m_outText.find('\n');
    if (newline == std::string::npos)
        throw std::runtime_error("simulator printed no device path");
    m_path = m_outText.substr(0, newline);
    m_outText.erase(0, newline + 1);
}

SimProcess::~SimProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0)
        ::close(m_out);
    if (m_err >= 0)
        ::close(m_err);
}

std::optional<int> SimProcess::WaitExit(std::chrono::milliseconds timeout) {
    if (m_pid <= 0)
        return std::nullopt;
    const auto deadline = Clock::now() + timeout;
    // The raw call: this C library's header declares pidfd_open without C linkage.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid)
            break;
        if (done < 0 && errno != EINTR)
            break;
        if (Clock::now() >= deadline) {
            if (pidfd >= 0)
                ::close(pidfd);
            return std::nullopt;
        }
        // Wait for the exit itself where the kernel offers it, else look again shortly.
        pollfd p{pidfd, POLLIN, 0};
        ::poll(pidfd >= 0 ? &p : nullptr, pidfd >= 0 ? 1 : 0,
               pidfd >= 0 ? MillisecondsLeft(deadline) : 5);
    }
    if (pidfd >= 0)
        ::close(pidfd);
    m_pid = -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return std::nullopt;
}

std::optional<int> SimProcess::Terminate(std::chrono::milliseconds timeout) {
    if (m_pid <= 0)
        return std::nullopt;
    ::kill(m_pid, SIGTERM);
    return WaitExit(timeout);
}

std::string SimProcess::ReadStdout(std::chrono::milliseconds timeout) {
    ReadUntilEnd(m_out, m_outText, Clock::now() + timeout);
    return m_outText;
}

std::string SimProcess::ReadStderr(std::chrono::milliseconds timeout) {
    std::string text;
    ReadUntilEnd(m_err, text, Clock::now() + timeout);
    return text;
}

Port::Port(const std::string& path) {
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        throw std::runtime_error("cannot open " + path);
    termios tio{};
    ::tcgetattr(m_fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_fd, TCSANOW, &tio);
}

Port::~Port() {
    ::close(m_fd);
}

void Port::Write(const Bytes& bytes) {
    std::size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            pollfd p{m_fd, POLLOUT, 0};
            if (::poll(&p, 1, MillisecondsLeft(deadline)) <= 0) {
                throw std::runtime_error("device does not take bytes");
            }
            continue;
        }
        if (n < 0)
            throw std::runtime_error("write to device failed");
        done += static_cast<std::size_t>(n);
    }
}

bool Port::Fill(Clock::time_point deadline) {
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || !(p.revents & POLLIN))
            return false;
        std::uint8_t buf[4096];
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        ++m_dataReads;
        m_buffer.insert(m_buffer.end(), buf, buf + n);
        return true;
    }
}

std::optional<Bytes> Port::NextFrame(std::chrono::milliseconds timeout, Bytes* skipped) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        // Drop what cannot start a frame: bytes other than 68, or 68 with an impossible length.
        std::size_t drop = 0;
        while (drop < m_buffer.size() &&
               (m_buffer[drop] != 0x68 || (drop + 1 < m_buffer.size() &&
                                           (m_buffer[drop + 1] < 4 || m_buffer[drop + 1] > 49)))) {
            ++drop;
        }
        if (skipped)
            skipped->insert(skipped->end(), m_buffer.begin(), m_buffer.begin() + drop);
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + drop);
        if (m_buffer.size() >= 2 && m_buffer.size() >= m_buffer[1] + 1u) {
            const auto end = m_buffer.begin() + m_buffer[1] + 1;
            Bytes frame(m_buffer.begin(), end);
            m_buffer.erase(m_buffer.begin(), end);
            return frame;
        }
        if (!Fill(deadline))
            return std::nullopt;
    }
}

bool Port::QuietFor(std::chrono::milliseconds window) {
    return m_buffer.empty() && !Fill(Clock::now() + window);
}

bool Port::DrainUntilQuiet(std::chrono::milliseconds window, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        m_buffer.clear();
        if (!Fill(std::min(deadline, Clock::now() + window)))
            return Clock::now() < deadline;
    }
    return false;
}

bool Port::WaitHangup(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        if (p.revents & (POLLHUP | POLLERR))
            return true;
        std::uint8_t buf[4096];
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno == EIO))
            return true;
    }
}

std::uint8_t ExpectedChecksum(const Bytes& frame) {
    unsigned sum = 0;
    for (std::size_t i = 1; i + 1 < frame.size(); ++i)
        sum += frame[i];
    return static_cast<std::uint8_t>(sum & 0xFF);
}

bool ChecksumHolds(const Bytes& frame) {
    return frame.size() >= 5 && frame.back() == ExpectedChecksum(frame);
}

std::optional<double> DecodeAngle(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    const int digits[] = {a & 0x0F, b >> 4, b & 0x0F, c >> 4, c & 0x0F};
    for (int d : digits) {
        if (d > 9)
            return std::nullopt;
    }
    if ((a >> 4) > 1)
        return std::nullopt;
    const int hundredths =
        digits[0] * 10000 + digits[1] * 1000 + digits[2] * 100 + digits[3] * 10 + digits[4];
    return ((a >> 4) == 1 ? -hundredths : hundredths) / 100.0;
}

std::string Hex(const Bytes& bytes) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        out += buf;
    }
    return out;
}
