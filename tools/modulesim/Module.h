#pragma once

#include <array>
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

// Pitch and roll of a tilt check at a held heading, as an operator tilts: level for 2 s, pitch
// through +-35 degrees over 6 s, level for 2 s, roll through +-35 degrees over 6 s, and again.
Reading TiltingReading(double seconds);

// The six calibration requests, as bits of a set.
enum CalStep : unsigned {
    kCalStepStart = 1u << 0,
    kCalStepAMode = 1u << 1,
    kCalStepMMode = 1u << 2,
    kCalStepManual = 1u << 3,
    kCalStepStop = 1u << 4,
    kCalStepSave = 1u << 5,
};

// "start,amode,mmode,manual,stop,save" (any of them, any order) into a set of CalStep bits.
std::optional<unsigned> ParseCalSteps(const std::string& list);

// Coverage the module reports for n samples: X = min(100, 12n), Y = min(100, 10n),
// Z = min(100, 7n) percent.
std::array<std::uint8_t, 3> Coverage(int samples);

// The module's line speeds in bit/s; a baud request names one by its index.
inline constexpr std::array<int, 6> kSpeeds{2400, 4800, 9600, 19200, 38400, 115200};

// A-mode takes a sample every this many seconds and reports the count every kReportInterval.
inline constexpr double kSampleInterval = 0.25;
inline constexpr double kReportInterval = 2.0;
inline constexpr int kMaxSamples = 254;

// A turntable that steps the module's magnetic heading through the circle from 000: it holds
// each stop for `dwell` seconds, then turns `step` degrees on at kTurnRate.
struct Turntable {
    double step = 45.0;
    double dwell = 6.0;
    double noise = 0.0;  // standard deviation of the heading's noise, degrees
};
inline constexpr double kTurnRate = 90.0;  // degrees per second between stops

// The magnetic heading on the turntable at `seconds`.
double TurntableHeading(const Turntable& turntable, double seconds);

// The five deviation coefficients A, B, C, D, E in degrees: the compass heading phi that the
// module reports at magnetic heading M satisfies M = phi + A + B sin phi + C cos phi
// + D sin 2phi + E cos 2phi (deviation = magnetic - compass, easterly positive).
using Deviation = std::array<double, 5>;
double DeviationAt(const Deviation& deviation, double compassDegrees);
// The compass heading for magnetic heading M, [0, 360).
double CompassHeading(const Deviation& deviation, double magnetic);

struct ModuleBehaviour {
    bool fail = false;    // negative answers to zero, baud, address and calibration requests
    bool ackAll = false;  // also answer the requests the console does not expect an answer to
    std::optional<Reading> fixed;  // report these values instead of moving ones
    unsigned calError = 0;         // CalStep bits answered with FF
    unsigned calSilent = 0;        // CalStep bits acted on but not answered
    // Where the heading comes from instead of turning once a minute: a turntable (level, pitch
    // and roll 0) or a heading held while the module is tilted (TiltingReading).
    std::optional<Turntable> turntable;
    std::optional<double> hold;
    std::optional<Deviation> deviation;  // the compass's deviation
    double tiltError = 0.0;              // heading change per degree of tilt
    std::uint32_t seed = 1;              // for the turntable's noise
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
    // What the module reads at `seconds`, in whole hundredths (heading below 360).
    Reading ReadingAt(double seconds) const;
    Bytes ReadingFrame(double seconds) const;

    // Calibration in A-mode samples by itself and reports its count now and then: what is due
    // by `seconds` (the same clock as Handle's), and when the next report falls due.
    Outcome Tick(double seconds);
    std::optional<double> NextTick() const;
    int Samples() const { return m_samples; }

    std::uint8_t Address() const { return m_address; }
    bool AutoOutput() const { return m_autoOutput; }
    void SetAutoOutput(bool on) { m_autoOutput = on; }
    // The line speed the module works at; nothing while it takes any speed. A successful baud
    // request moves a module that has a speed to the new one (its answer goes out at the old).
    std::optional<int> Speed() const { return m_speed; }
    void SetSpeed(std::optional<int> speed) { m_speed = speed; }

private:
    Bytes Answer(std::uint8_t command, const Bytes& payload) const;
    std::uint8_t Status() const { return m_behaviour.fail ? 0x01 : 0x00; }
    Outcome Calibrate(std::uint8_t command, double seconds);
    void AddSamples(int n);
    void SampleUntil(double seconds);

    std::uint8_t m_address;
    ModuleBehaviour m_behaviour;
    bool m_autoOutput = false;
    std::optional<int> m_speed;
    double m_declination = 0;
    int m_samples = 0;
    bool m_autoSampling = false;  // A-mode is on
    double m_autoSince = 0;       // when A-mode began
    long long m_autoTaken = 0;    // A-mode samples counted so far
    long long m_autoReports = 0;  // A-mode reports due so far
};

}  // namespace modulesim
