#include "SimulatorProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace {

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Both ends close on exec; the child gets its end through the spawn's dup2.
void MakePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
}

}  // namespace

SimulatorProcess::SimulatorProcess(const std::string& program,
                                   const std::vector<std::string>& arguments) {
    int out[2];
    int err[2];
    MakePipe(out);
    try {
        MakePipe(err);
    } catch (...) {
        ::close(out[0]);
        ::close(out[1]);
        throw;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    const int status =
        ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    m_stdout = out[0];
    m_stderr = err[0];
    if (status != 0) {
        m_pid = -1;
        CloseFd(m_stdout);
        CloseFd(m_stderr);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(status));
    }
}

SimulatorProcess::~SimulatorProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    CloseFd(m_stdout);
    CloseFd(m_stderr);
}

std::optional<std::string> SimulatorProcess::ReadLine(std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        const std::size_t end = m_outBuffer.find('\n');
        if (end != std::string::npos) {
            std::string line = m_outBuffer.substr(0, end);
            m_outBuffer.erase(0, end + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || m_stdout < 0)
            return std::nullopt;
        pollfd fd{m_stdout, POLLIN, 0};
        const int ready = ::poll(&fd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        char buffer[256];
        const ssize_t n = ::read(m_stdout, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;  // the child closed its stdout
        m_outBuffer.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string SimulatorProcess::Stop() {
    std::string text;
    if (m_pid <= 0)
        return text;
    ::kill(m_pid, SIGTERM);
    // Read until the child closes stderr at its exit; one that ignores SIGTERM is killed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool killed = false;
    char buffer[512];
    for (;;) {
        pollfd fd{m_stderr, POLLIN, 0};
        const int ready = ::poll(&fd, 1, 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0) {
            if (!killed && std::chrono::steady_clock::now() >= deadline) {
                ::kill(m_pid, SIGKILL);
                killed = true;
            }
            continue;
        }
        const ssize_t n = ::read(m_stderr, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
    CloseFd(m_stdout);
    CloseFd(m_stderr);
    return text;
}

std::optional<long long> FramesSentFrom(const std::string& stderrText) {
    static constexpr char kPrefix[] = "frames sent: ";
    const std::size_t at = stderrText.rfind(kPrefix);
    if (at == std::string::npos)
        return std::nullopt;
    const char* digits = stderrText.c_str() + at + sizeof kPrefix - 1;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(digits, &end, 10);
    if (end == digits || errno != 0)
        return std::nullopt;
    return value;
}
