#include "Module.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <numbers>
#include <utility>

namespace modulesim {
namespace {

constexpr std::uint8_t kRead = 0x04;
constexpr std::uint8_t kZero = 0x05;
constexpr std::uint8_t kDeclination = 0x06;
constexpr std::uint8_t kCalStart = 0x08;
constexpr std::uint8_t kCalStop = 0x09;
constexpr std::uint8_t kCalSave = 0x0A;
constexpr std::uint8_t kBaud = 0x0B;
constexpr std::uint8_t kOutputMode = 0x0C;
constexpr std::uint8_t kAddress = 0x0F;
constexpr std::uint8_t kMounting = 0x2A;
constexpr std::uint8_t kCalMMode = 0x43;
constexpr std::uint8_t kCalAMode = 0x44;
constexpr std::uint8_t kCalManual = 0x45;

constexpr std::uint8_t kCalError = 0xFF;

// Which calibration step a request is; 0 for the others.
unsigned StepOf(std::uint8_t command) {
    switch (command) {
        case kCalStart:
            return kCalStepStart;
        case kCalAMode:
            return kCalStepAMode;
        case kCalMMode:
            return kCalStepMMode;
        case kCalManual:
            return kCalStepManual;
        case kCalStop:
            return kCalStepStop;
        case kCalSave:
            return kCalStepSave;
        default:
            return 0;
    }
}

double Hundredths(double value) {
    return std::round(value * 100.0) / 100.0;
}

}  // namespace

std::optional<unsigned> ParseCalSteps(const std::string& list) {
    static constexpr std::pair<const char*, unsigned> kNames[] = {
        {"start", kCalStepStart},   {"amode", kCalStepAMode}, {"mmode", kCalStepMMode},
        {"manual", kCalStepManual}, {"stop", kCalStepStop},   {"save", kCalStepSave},
    };
    unsigned steps = 0;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = list.find(',', from);
        const std::string name = list.substr(from, comma - from);
        const auto* found = std::find_if(std::begin(kNames), std::end(kNames),
                                         [&](const auto& entry) { return name == entry.first; });
        if (found == std::end(kNames))
            return std::nullopt;
        steps |= found->second;
        if (comma == std::string::npos)
            return steps;
        from = comma + 1;
    }
}

std::array<std::uint8_t, 3> Coverage(int samples) {
    auto percent = [&](int step) {
        return static_cast<std::uint8_t>(std::min(100, step * samples));
    };
    return {percent(12), percent(10), percent(7)};
}

Reading MovingReading(double seconds) {
    const double turn = 2.0 * std::numbers::pi;
    // Heading in whole hundredths first, so that rounding never yields 360.00.
    const long long heading = std::llround(seconds * 600.0) % 36000;
    return {Hundredths(30.0 * std::sin(turn * seconds / 20.0)),
            Hundredths(45.0 * std::sin(turn * seconds / 13.0 + 1.0)), heading / 100.0};
}

Reading TiltingReading(double seconds) {
    constexpr double kLevel = 2.0, kSweep = 6.0, kAmplitude = 35.0;
    const double t = std::fmod(seconds, 2.0 * (kLevel + kSweep));
    const double into = std::fmod(t, kLevel + kSweep) - kLevel;
    const double swing =
        into <= 0.0 ? 0.0
                    : Hundredths(kAmplitude * std::sin(2.0 * std::numbers::pi * into / kSweep));
    const bool pitching = t < kLevel + kSweep;
    return {pitching ? swing : 0.0, pitching ? 0.0 : swing, 0.0};
}

Module::Module(std::uint8_t address, ModuleBehaviour behaviour)
    : m_address(address), m_behaviour(std::move(behaviour)) {}

Bytes Module::Answer(std::uint8_t command, const Bytes& payload) const {
    return BuildFrame(m_address, static_cast<std::uint8_t>(command | kAnswerBit), payload);
}

double TurntableHeading(const Turntable& turntable, double seconds) {
    const double turn = std::fabs(turntable.step) / kTurnRate;
    const double period = turntable.dwell + turn;
    if (period <= 0.0 || seconds < 0.0)
        return 0.0;
    const double stop = std::floor(seconds / period);
    const double into = seconds - stop * period;
    const double moved = into <= turntable.dwell ? 0.0 : (into - turntable.dwell) / turn;
    return std::fmod((stop + moved) * turntable.step, 360.0);
}

double DeviationAt(const Deviation& d, double compassDegrees) {
    const double phi = compassDegrees * std::numbers::pi / 180.0;
    return d[0] + d[1] * std::sin(phi) + d[2] * std::cos(phi) + d[3] * std::sin(2 * phi) +
           d[4] * std::cos(2 * phi);
}

double CompassHeading(const Deviation& deviation, double magnetic) {
    // phi = M - deviation(phi): a contraction for any deviation a compass can have.
    double phi = magnetic;
    for (int i = 0; i < 60; ++i)
        phi = magnetic - DeviationAt(deviation, phi);
    phi = std::fmod(phi, 360.0);
    return phi < 0.0 ? phi + 360.0 : phi;
}

Reading Module::ReadingAt(double seconds) const {
    const ModuleBehaviour& b = m_behaviour;
    if (b.fixed && !b.deviation && b.tiltError == 0.0)
        return *b.fixed;
    Reading r = b.fixed ? *b.fixed : MovingReading(seconds);
    double noise = 0.0;
    if (b.turntable) {
        r = {0.0, 0.0, TurntableHeading(*b.turntable, seconds)};
        if (b.turntable->noise > 0.0) {
            // Normal noise from a hash of the millisecond and the seed, so that a reading
            // depends on its time alone.
            std::uint64_t z = static_cast<std::uint64_t>(std::llround(seconds * 1000.0)) * 2 +
                              (static_cast<std::uint64_t>(b.seed) << 40);
            auto next = [&z] {
                z += 0x9E3779B97F4A7C15ull;
                std::uint64_t x = z;
                x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
                x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
                return static_cast<double>((x ^ (x >> 31)) >> 11) / 9007199254740992.0;
            };
            const double u1 = next(), u2 = next();
            noise = b.turntable->noise * std::sqrt(-2.0 * std::log(1.0 - u1)) *
                    std::cos(2.0 * std::numbers::pi * u2);
        }
    } else if (b.hold) {
        r = TiltingReading(seconds);
        r.heading = *b.hold;
    }
    double heading = b.deviation ? CompassHeading(*b.deviation, r.heading) : r.heading;
    if (b.tiltError != 0.0) {
        const double c = std::cos(r.pitch * std::numbers::pi / 180.0) *
                         std::cos(r.roll * std::numbers::pi / 180.0);
        heading += b.tiltError * std::acos(std::clamp(c, -1.0, 1.0)) * 180.0 / std::numbers::pi;
    }
    heading += noise;
    // Whole hundredths below 360.00.
    long long hundredths = std::llround(heading * 100.0) % 36000;
    if (hundredths < 0)
        hundredths += 36000;
    r.heading = static_cast<double>(hundredths) / 100.0;
    r.pitch = Hundredths(r.pitch);
    r.roll = Hundredths(r.roll);
    return r;
}

Bytes Module::ReadingFrame(double seconds) const {
    const Reading r = ReadingAt(seconds);
    Bytes payload;
    for (double value : {r.pitch, r.roll, r.heading}) {
        const auto bcd = EncodeAngle(value);
        payload.insert(payload.end(), bcd.begin(), bcd.end());
    }
    return Answer(kRead, payload);
}

Outcome Module::Handle(const Bytes& request, double seconds) {
    const std::uint8_t address = request[2];
    const std::uint8_t command = request[3];
    const Bytes payload(request.begin() + 4, request.end() - 1);
    const bool ack = m_behaviour.ackAll;
    Outcome out;

    // The declination request always carries address 0, whatever the module's address.
    if (command == kDeclination) {
        if (payload.size() < 2)
            return {{}, "declination without value, ignored"};
        m_declination = DecodeDeclination(payload[0], payload[1]);
        char text[32];
        std::snprintf(text, sizeof text, "declination %.1f", m_declination);
        out.note = text;
        if (ack)
            out.answers.push_back(Answer(command, {0x00}));
        return out;
    }
    if (address != m_address) {
        return {{}, "for address " + std::to_string(address) + ", ignored"};
    }

    switch (command) {
        case kRead:
            out.answers.push_back(ReadingFrame(seconds));
            out.note = "read";
            break;
        case kZero:
            if (payload.empty())
                return {{}, "zero without value, ignored"};
            out.answers.push_back(Answer(command, {Status()}));
            out.note = payload[0] != 0 ? "set zero" : "cancel zero";
            break;
        case kBaud: {
            if (payload.empty())
                return {{}, "baud without index, ignored"};
            const bool valid = payload[0] < kSpeeds.size();
            const bool ok = valid && !m_behaviour.fail;
            out.answers.push_back(Answer(command, {static_cast<std::uint8_t>(ok ? 0x00 : 0x01)}));
            out.note = valid ? "baud " + std::to_string(kSpeeds[payload[0]])
                             : "baud index " + std::to_string(payload[0]) + " refused";
            if (ok && m_speed)
                m_speed = kSpeeds[payload[0]];
            break;
        }
        case kAddress:
            if (payload.empty())
                return {{}, "address without value, ignored"};
            // The answer still carries the old address; the new one holds from the next request.
            out.answers.push_back(Answer(command, {Status()}));
            if (!m_behaviour.fail)
                m_address = payload[0];
            out.note = "address " + std::to_string(payload[0]);
            break;
        case kOutputMode:
            if (payload.empty() || payload[0] > 1)
                return {{}, "output mode unknown, ignored"};
            m_autoOutput = payload[0] == 1;
            if (ack)
                out.answers.push_back(Answer(command, {0x00}));
            out.note = m_autoOutput ? "automatic output" : "answer on request";
            break;
        case kMounting:
            if (payload.empty())
                return {{}, "mounting without value, ignored"};
            if (ack)
                out.answers.push_back(Answer(command, {0x00}));
            out.note = payload[0] != 0 ? "mounting vertical" : "mounting horizontal";
            break;
        case kCalStart:
        case kCalAMode:
        case kCalMMode:
        case kCalManual:
        case kCalStop:
        case kCalSave:
            return Calibrate(command, seconds);
        default:
            out.note = "unknown command, ignored";
            break;
    }
    return out;
}

void Module::AddSamples(int n) {
    m_samples = std::min(kMaxSamples, m_samples + n);
}

// A-mode samples are counted lazily from the time A-mode began, so the count at any moment
// depends only on the clock and not on how often the caller looks.
void Module::SampleUntil(double seconds) {
    if (!m_autoSampling || seconds < m_autoSince)
        return;
    const auto due = static_cast<long long>(std::floor((seconds - m_autoSince) / kSampleInterval));
    if (due > m_autoTaken) {
        AddSamples(static_cast<int>(std::min<long long>(due - m_autoTaken, kMaxSamples)));
        m_autoTaken = due;
    }
}

Outcome Module::Calibrate(std::uint8_t command, double seconds) {
    SampleUntil(seconds);
    const unsigned step = StepOf(command);
    const unsigned failing =
        m_behaviour.fail ? kCalStepStart | kCalStepManual | kCalStepStop | kCalStepSave : 0u;
    const bool error = ((m_behaviour.calError | failing) & step) != 0;
    Outcome out;
    // Sample counts and refusals of a step that has no answer of its own come in the start
    // request's answer code.
    auto count = [&](int value) {
        out.answers.push_back(Answer(kCalStart, {static_cast<std::uint8_t>(value)}));
    };

    switch (command) {
        case kCalStart:
            if (!error) {
                m_samples = 0;
                m_autoSampling = false;
            }
            count(error ? kCalError : 0);
            out.note = "calibration start";
            break;
        case kCalAMode:
        case kCalMMode: {
            const bool automatic = command == kCalAMode;
            out.note = automatic ? "calibration A-mode" : "calibration M-mode";
            if (error) {
                count(kCalError);
                break;
            }
            m_autoSampling = automatic;
            m_autoSince = seconds;
            m_autoTaken = 0;
            m_autoReports = 0;
            if (m_behaviour.ackAll)
                out.answers.push_back(Answer(command, {0x00}));
            break;
        }
        case kCalManual:
            if (!error)
                AddSamples(1);
            count(error ? kCalError : m_samples);
            out.note = error ? "manual sample" : "manual sample " + std::to_string(m_samples);
            break;
        case kCalStop: {
            if (error) {
                out.answers.push_back(Answer(command, {kCalError, 0, 0, 0}));
                out.note = "calibration stop";
                break;
            }
            m_autoSampling = false;
            const auto c = Coverage(m_samples);
            out.answers.push_back(Answer(command, {0x00, c[0], c[1], c[2]}));
            out.note = "calibration stop X " + std::to_string(c[0]) + " Y " + std::to_string(c[1]) +
                       " Z " + std::to_string(c[2]);
            break;
        }
        case kCalSave:
            if (!error) {
                m_samples = 0;
                m_autoSampling = false;
            }
            out.answers.push_back(Answer(command, {error ? kCalError : std::uint8_t{0}}));
            out.note = "calibration save";
            break;
        default:
            break;
    }
    if (error)
        out.note += ", error FF";
    if ((m_behaviour.calSilent & step) != 0 && !out.answers.empty()) {
        out.answers.clear();
        out.note += ", answer withheld";
    }
    return out;
}

Outcome Module::Tick(double seconds) {
    Outcome out;
    if (!m_autoSampling || seconds < m_autoSince)
        return out;
    SampleUntil(seconds);
    const auto due = static_cast<long long>(std::floor((seconds - m_autoSince) / kReportInterval));
    if (due <= m_autoReports)
        return out;
    // One report with the count as it is now, however many were missed.
    m_autoReports = due;
    out.note = "A-mode count " + std::to_string(m_samples);
    if ((m_behaviour.calSilent & kCalStepAMode) != 0) {
        out.note += ", report withheld";
    } else {
        out.answers.push_back(Answer(kCalStart, {static_cast<std::uint8_t>(m_samples)}));
    }
    return out;
}

std::optional<double> Module::NextTick() const {
    if (!m_autoSampling)
        return std::nullopt;
    return m_autoSince + static_cast<double>(m_autoReports + 1) * kReportInterval;
}

}  // namespace modulesim
