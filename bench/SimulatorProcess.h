#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// The module simulator as a child process: its stdout (the device path) and stderr (the
// statistics) come back through pipes. The destructor stops a child still running.
class SimulatorProcess {
public:
    // Starts `program` with `arguments`; throws std::runtime_error when it cannot.
    SimulatorProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // The first line the child prints, or nothing when none came within `timeout`.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);

    // Sends SIGTERM, waits for the exit and returns everything the child wrote to stderr.
    std::string Stop();

private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    int m_stderr = -1;
    std::string m_outBuffer;
};

// N from a "frames sent: N" line, if there is one.
std::optional<long long> FramesSentFrom(const std::string& stderrText);
