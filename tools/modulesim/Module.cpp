#include "Module.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>

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
constexpr int kMaxSamples = 254;
constexpr std::array<std::uint8_t, 3> kCoverage{100, 95, 87};
constexpr std::array<int, 6> kBaudRates{2400, 4800, 9600, 19200, 38400, 115200};

double Hundredths(double value) {
    return std::round(value * 100.0) / 100.0;
}

}  // namespace

Reading MovingReading(double seconds) {
    const double turn = 2.0 * std::numbers::pi;
    // Heading in whole hundredths first, so that rounding never yields 360.00.
    const long long heading = std::llround(seconds * 600.0) % 36000;
    return {Hundredths(30.0 * std::sin(turn * seconds / 20.0)),
            Hundredths(45.0 * std::sin(turn * seconds / 13.0 + 1.0)), heading / 100.0};
}

Module::Module(std::uint8_t address, ModuleBehaviour behaviour)
    : m_address(address), m_behaviour(std::move(behaviour)) {}

Bytes Module::Answer(std::uint8_t command, const Bytes& payload) const {
    return BuildFrame(m_address, static_cast<std::uint8_t>(command | kAnswerBit), payload);
}

Bytes Module::ReadingFrame(double seconds) const {
    const Reading r = m_behaviour.fixed ? *m_behaviour.fixed : MovingReading(seconds);
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
            const bool valid = payload[0] < kBaudRates.size();
            const bool ok = valid && !m_behaviour.fail;
            out.answers.push_back(Answer(command, {static_cast<std::uint8_t>(ok ? 0x00 : 0x01)}));
            out.note = valid ? "baud " + std::to_string(kBaudRates[payload[0]])
                             : "baud index " + std::to_string(payload[0]) + " refused";
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
            if (!m_behaviour.fail)
                m_samples = 0;
            out.answers.push_back(
                Answer(kCalStart, {m_behaviour.fail ? kCalError : std::uint8_t{0}}));
            out.note = "calibration start";
            break;
        case kCalAMode:
        case kCalMMode:
            if (ack)
                out.answers.push_back(Answer(command, {0x00}));
            out.note = command == kCalAMode ? "calibration A-mode" : "calibration M-mode";
            break;
        case kCalManual:
            // Sample counts are reported in the answer code of the calibration start.
            if (!m_behaviour.fail && m_samples < kMaxSamples)
                ++m_samples;
            out.answers.push_back(Answer(
                kCalStart, {m_behaviour.fail ? kCalError : static_cast<std::uint8_t>(m_samples)}));
            out.note = "manual sample";
            break;
        case kCalStop:
            if (m_behaviour.fail) {
                out.answers.push_back(Answer(command, {kCalError, 0, 0, 0}));
            } else {
                out.answers.push_back(
                    Answer(command, {0x00, kCoverage[0], kCoverage[1], kCoverage[2]}));
            }
            out.note = "calibration stop";
            break;
        case kCalSave:
            if (!m_behaviour.fail)
                m_samples = 0;
            out.answers.push_back(
                Answer(command, {m_behaviour.fail ? kCalError : std::uint8_t{0}}));
            out.note = "calibration save";
            break;
        default:
            out.note = "unknown command, ignored";
            break;
    }
    return out;
}

}  // namespace modulesim
