#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Wire.h"

namespace modulesim {

struct Reading {
    double pitch = 0;
    double roll = 0;
    double heading = 0;
};

// Slowly moving readings at `seconds` after start: heading turns once a minute, pitch and roll
// swing as sine waves within +-45 degrees. All three are whole hundredths.
Reading MovingReading(double seconds);

struct ModuleBehaviour {
    bool fail = false;    // negative answers to zero, baud, address and calibration requests
    bool ackAll = false;  // also answer the requests the console does not expect an answer to
    std::optional<Reading> fixed;  // report these values instead of moving ones
};

// What the module did with one request: the frames to send back and a line for the log.
struct Outcome {
    std::vector<Bytes> answers;
    std::string note;
};

// The module's state and its answers. Time comes from the caller so this stays deterministic.
class Module {
public:
    Module(std::uint8_t address, ModuleBehaviour behaviour);

    Outcome Handle(const Bytes& request, double seconds);
    Bytes ReadingFrame(double seconds) const;

    std::uint8_t Address() const { return m_address; }
    bool AutoOutput() const { return m_autoOutput; }
    void SetAutoOutput(bool on) { m_autoOutput = on; }

private:
    Bytes Answer(std::uint8_t command, const Bytes& payload) const;
    std::uint8_t Status() const { return m_behaviour.fail ? 0x01 : 0x00; }

    std::uint8_t m_address;
    ModuleBehaviour m_behaviour;
    bool m_autoOutput = false;
    double m_declination = 0;
    int m_samples = 0;
};

}  // namespace modulesim
