#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Drives the real simulator binary: starts it, talks to its device like the console does and
// stops it at the end of the test whatever happened.

using Bytes = std::vector<std::uint8_t>;

class SimProcess {
public:
    struct Launch {
        std::vector<std::string> args;
        bool printsPath = true;      // read the device path from the first stdout line
        bool captureStderr = false;  // otherwise stderr goes to the test's own
    };

    explicit SimProcess(Launch launch);
    ~SimProcess();  // kills and reaps the process if it still runs
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& Path() const { return m_path; }

    // Exit status once the process ended by itself within `timeout` (128+N for signal N).
    std::optional<int> WaitExit(std::chrono::milliseconds timeout);
    // SIGTERM, then WaitExit.
    std::optional<int> Terminate(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Everything written to stdout (after the path line) or stderr until the stream ends.
    std::string ReadStdout(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    std::string ReadStderr(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_outText;
    std::string m_path;
};

// The device side the console would hold: the simulator's slave, raw, non-blocking.
class Port {
public:
    explicit Port(const std::string& path);
    ~Port();
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    void Write(const Bytes& bytes);
    // The next frame: a start byte, a length 4..49 and L+1 bytes in all. Bytes before it are
    // appended to `skipped` when given. Nothing when no whole frame arrives within `timeout`.
    std::optional<Bytes> NextFrame(std::chrono::milliseconds timeout = std::chrono::seconds(3),
                                   Bytes* skipped = nullptr);
    // True when no byte arrives for `window` (bytes already buffered count as arrived).
    bool QuietFor(std::chrono::milliseconds window);
    // Reads and drops until nothing arrives for `window`; false if that never happens in `timeout`.
    bool DrainUntilQuiet(std::chrono::milliseconds window, std::chrono::milliseconds timeout);
    // True once the other side has gone: hang-up, end of file or an I/O error.
    bool WaitHangup(std::chrono::milliseconds timeout);
    // Number of reads that returned data so far.
    int DataReads() const { return m_dataReads; }

private:
    // Waits up to the deadline for more bytes; false when none came.
    bool Fill(std::chrono::steady_clock::time_point deadline);

    int m_fd = -1;
    Bytes m_buffer;
    int m_dataReads = 0;
};

// Frame checks written for the tests, independent of the simulator's code.
bool ChecksumHolds(const Bytes& frame);
std::uint8_t ExpectedChecksum(const Bytes& frame);
// Packed BCD angle; nothing when a digit is above 9 or the sign nibble is not 0 or 1.
std::optional<double> DecodeAngle(std::uint8_t a, std::uint8_t b, std::uint8_t c);
std::string Hex(const Bytes& bytes);
