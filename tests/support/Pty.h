#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// A pseudo-terminal whose slave side plays a serial device. The test holds the master side:
// what it writes arrives at the device, what the program writes to the device can be read here.
class Pty {
public:
    Pty();  // master in raw mode, slave unlocked; throws std::runtime_error on failure
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }
    int MasterFd() const { return m_master; }

    void Write(const std::vector<std::uint8_t>& bytes);
    // Reads what has arrived, waiting up to `timeout` for the first byte and then taking every
    // byte that follows within `settle`.
    std::vector<std::uint8_t> Read(
        std::chrono::milliseconds timeout = std::chrono::milliseconds(1000),
        std::chrono::milliseconds settle = std::chrono::milliseconds(20));
    // Reads exactly n bytes or fails after timeout (returns what came).
    std::vector<std::uint8_t> ReadExactly(
        std::size_t n, std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
    // Closes the master side: the device "vanishes" for whoever holds the slave.
    void CloseMaster();

private:
    int m_master = -1;
    std::string m_slavePath;
};

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values);
std::string Hex(const std::vector<std::uint8_t>& bytes);  // "68 04 00 04 08"
