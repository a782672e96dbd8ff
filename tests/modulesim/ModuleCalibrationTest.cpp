#include <gtest/gtest.h>

#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "Module.h"
#include "Options.h"
#include "Replay.h"

namespace {

using modulesim::Bytes;

// 68 L address command payload checksum, written for the tests independently of the simulator.
Bytes Frame(std::uint8_t command, const Bytes& payload = {}) {
    Bytes frame{0x68, static_cast<std::uint8_t>(4 + payload.size()), 0, command};
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(static_cast<std::uint8_t>(std::accumulate(frame.begin() + 1, frame.end(), 0u)));
    return frame;
}

std::string Hex(const Bytes& bytes) {
    std::string text;
    char buf[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        text += (text.empty() ? "" : " ") + std::string(buf);
    }
    return text;
}

// The answers of one request or tick as "88 03" (payload only; the frame itself is checked
// whole against Frame), several joined by " | ".
std::string Payloads(const modulesim::Outcome& outcome) {
    std::string text;
    for (const Bytes& answer : outcome.answers) {
        EXPECT_GE(answer.size(), 5u);
        const Bytes payload(answer.begin() + 4, answer.end() - 1);
        EXPECT_EQ(Hex(answer), Hex(Frame(answer[3], payload)));
        text += (text.empty() ? "" : " | ") + Hex(Bytes{answer[3]}) +
                (payload.empty() ? "" : " " + Hex(payload));
    }
    return text;
}

constexpr int kTick = -1;
constexpr int kStart = 0x08, kAMode = 0x44, kMMode = 0x43, kManual = 0x45, kStop = 0x09,
              kSave = 0x0A;

struct Step {
    int command;  // a calibration request, or kTick
    double at;    // seconds on the module's clock
    const char* answers;
};

struct Script {
    const char* name;
    const char* errors;  // --cal-error list, "" for none
    const char* silent;  // --cal-silent list
    std::vector<Step> steps;
};

void PrintTo(const Script& script, std::ostream* out) {
    *out << script.name;
}

class Calibration : public ::testing::TestWithParam<Script> {};

TEST_P(Calibration, AnswersEachStepAsScripted) {
    const Script& script = GetParam();
    modulesim::ModuleBehaviour behaviour;
    if (*script.errors)
        behaviour.calError = modulesim::ParseCalSteps(script.errors).value();
    if (*script.silent)
        behaviour.calSilent = modulesim::ParseCalSteps(script.silent).value();
    modulesim::Module module(0, behaviour);
    int index = 0;
    for (const Step& step : script.steps) {
        const auto outcome =
            step.command == kTick
                ? module.Tick(step.at)
                : module.Handle(Frame(static_cast<std::uint8_t>(step.command)), step.at);
        EXPECT_EQ(Payloads(outcome), step.answers)
            << "step " << index << " (" << outcome.note << ")";
        ++index;
    }
}

const Script kScripts[] = {
    {"ManualCountsInMMode",
     "",
     "",
     {{kStart, 0, "88 00"},
      {kMMode, 1, ""},
      {kManual, 2, "88 01"},
      {kManual, 3, "88 02"},
      {kManual, 4, "88 03"},
      {kTick, 60, ""},  // no sampling of its own
      {kStop, 61, "89 00 24 1E 15"},
      {kStart, 62, "88 00"},  // a new session counts from 0
      {kManual, 63, "88 01"}}},
    {"AModeSamplesAndReportsRisingCounts",
     "",
     "",
     {{kStart, 0, "88 00"},
      {kAMode, 10, ""},
      {kTick, 11.75, ""},
      {kTick, 12, "88 08"},  // four samples a second, a report every 2 s
      {kTick, 12.5, ""},
      {kTick, 14, "88 10"},
      {kTick, 20.1, "88 28"},  // late: one report with the count as it is now
      {kTick, 21.9, ""},
      {kTick, 22, "88 30"},
      {kMMode, 22.5, ""},  // M-mode ends the self-sampling
      {kTick, 40, ""},
      {kManual, 41, "88 33"},
      {kStop, 42, "89 00 64 64 64"}}},
    {"StopEndsAModeAndKeepsTheCount",
     "",
     "",
     {{kAMode, 5, ""},
      {kStop, 5.8, "89 00 24 1E 15"},  // three samples
      {kTick, 9, ""},
      {kStop, 10, "89 00 24 1E 15"}}},
    {"AModeCountStopsAt254",
     "",
     "",
     {{kAMode, 0, ""}, {kTick, 100, "88 FE"}, {kTick, 102, "88 FE"}}},
    {"CoverageGrowsWithSamplesUpTo100",
     "",
     "",
     {{kStop, 0, "89 00 00 00 00"},
      {kManual, 1, "88 01"},
      {kStop, 2, "89 00 0C 0A 07"},
      {kManual, 3, "88 02"},
      {kManual, 3, "88 03"},
      {kManual, 3, "88 04"},
      {kManual, 3, "88 05"},
      {kManual, 3, "88 06"},
      {kManual, 3, "88 07"},
      {kManual, 3, "88 08"},
      {kStop, 4, "89 00 60 50 38"},  // 96, 80, 56
      {kManual, 5, "88 09"},
      {kStop, 6, "89 00 64 5A 3F"},  // 100, 90, 63
      {kAMode, 10, ""},
      {kStop, 13, "89 00 64 64 64"}}},  // 21 samples
    {"SaveResetsTheCount",
     "",
     "",
     {{kManual, 0, "88 01"},
      {kManual, 0, "88 02"},
      {kSave, 1, "8A 00"},
      {kStop, 2, "89 00 00 00 00"},
      {kManual, 3, "88 01"}}},
    {"ErrorsAnswerFFAndChangeNothing",
     "start,amode,mmode,manual,stop,save",
     "",
     {{kStart, 0, "88 FF"},
      {kAMode, 1, "88 FF"},
      {kTick, 10, ""},
      {kMMode, 11, "88 FF"},
      {kManual, 12, "88 FF"},
      {kStop, 13, "89 FF 00 00 00"},
      {kSave, 14, "8A FF"}}},
    {"OneFailingStepLeavesTheOthersWorking",
     "save,mmode",
     "",
     {{kStart, 0, "88 00"},
      {kAMode, 0, ""},
      {kMMode, 0.5, "88 FF"},  // refused: A-mode goes on
      {kTick, 2, "88 08"},
      {kSave, 2.1, "8A FF"},
      {kStop, 2.1, "89 00 60 50 38"}}},
    {"SilentStepsActWithoutAnswer",
     "",
     "manual,amode,save",
     {{kStart, 0, "88 00"},
      {kManual, 1, ""},
      {kManual, 2, ""},
      {kStop, 3, "89 00 18 14 0E"},  // the silent samples counted
      {kAMode, 10, ""},
      {kTick, 12, ""},                // no A-mode reports either
      {kStop, 12, "89 00 64 64 46"},  // 2 + 8 samples
      {kSave, 13, ""},
      {kStop, 14, "89 00 00 00 00"}}},
    {"SilentWinsOverError", "start,stop", "stop", {{kStart, 0, "88 FF"}, {kStop, 1, ""}}},
};

INSTANTIATE_TEST_SUITE_P(Module, Calibration, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Module, CalibrationNotesSayWhatHappened) {
    modulesim::Module module(0, {});
    module.Handle(Frame(kStart), 0);
    module.Handle(Frame(kManual), 0);
    module.Handle(Frame(kManual), 0);
    EXPECT_EQ(module.Handle(Frame(kManual), 0).note, "manual sample 3");
    EXPECT_EQ(module.Handle(Frame(kStop), 0).note, "calibration stop X 36 Y 30 Z 21");
    EXPECT_FALSE(module.NextTick());
    module.Handle(Frame(kAMode), 4);
    EXPECT_EQ(module.NextTick(), 6.0);
    EXPECT_EQ(module.Tick(6).note, "A-mode count 11");  // on top of the 3 kept by the stop
    EXPECT_EQ(module.NextTick(), 8.0);
}

TEST(Options, CalibrationFaultListsAndReplayOptions) {
    const struct {
        std::vector<std::string> args;
        unsigned errors, silent;
        const char* error;  // nullptr when the arguments are good
    } cases[] = {
        {{"--cal-error", "start,save"},
         modulesim::kCalStepStart | modulesim::kCalStepSave,
         0,
         nullptr},
        {{"--cal-silent", "manual", "--cal-silent", "amode,mmode,stop"},
         0,
         modulesim::kCalStepManual | modulesim::kCalStepAMode | modulesim::kCalStepMMode |
             modulesim::kCalStepStop,
         nullptr},
        {{"--cal-error", "start,"}, 0, 0, "--cal-error: expected a comma list"},
        {{"--cal-error", "Start"}, 0, 0, "--cal-error: expected a comma list"},
        {{"--cal-silent", ""}, 0, 0, "--cal-silent: expected a comma list"},
        {{"--cal-error"}, 0, 0, "--cal-error needs a value"},
        {{"--loop"}, 0, 0, "--loop needs --replay"},
        {{"--replay", ""}, 0, 0, "--replay needs a file name"},
        // Beyond the clock's range, a time overflowed it.
        {{"--duration", "1e300"}, 0, 0, "--duration: expected 0 to 1000000000 seconds"},
        {{"--vanish-after", "1e20"}, 0, 0, "--vanish-after: expected 0 to 1000000000 seconds"},
        {{"--delay", "-1"}, 0, 0, "--delay: expected 0 to 1000000000 milliseconds"},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto options = modulesim::ParseOptions(c.args, error);
        if (c.error) {
            EXPECT_FALSE(options) << c.args[0];
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
            continue;
        }
        ASSERT_TRUE(options) << error;
        EXPECT_EQ(options->calError, c.errors);
        EXPECT_EQ(options->calSilent, c.silent);
    }
    std::string error;
    const auto replay = modulesim::ParseOptions({"--replay", "r.txt", "--loop"}, error);
    ASSERT_TRUE(replay) << error;
    EXPECT_EQ(replay->replay, "r.txt");
    EXPECT_TRUE(replay->loop);
    const std::string usage = modulesim::UsageText();
    for (const char* option :
         {"--cal-error", "--cal-silent", "--replay", "--loop", "min(100, 12n)"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

TEST(Replay, KeepsWholeReadingFramesOfARecord) {
    const Bytes a = Frame(0x84, {0, 0x12, 0x34, 0x10, 0x05, 0x60, 0x03, 0x59, 0x99});
    const Bytes b = Frame(0x84, {0x10, 0, 0, 0, 0, 0, 0, 0, 0});
    Bytes bad = a;
    bad.back() ^= 1;
    auto line = [](const Bytes& bytes, bool upper) {
        std::string text;
        char buf[4];
        for (std::uint8_t v : bytes) {
            std::snprintf(buf, sizeof buf, upper ? "%02X " : "%02x ", v);
            text += buf;
        }
        return text;
    };
    std::istringstream record("Date: 2026-12-07  Time:09:05:03\r\n" + line(a, false) +
                              "\r\n" +                                     // line 2
                              line(bad, true) + "\r\n" +                   // 3
                              "00 68 02 00 00 00 00 00 00 00 00 \r\n" +    // 4: pieces alone
                              "00 " + line(b, true) + "\r\n" +             // 5: piece, frame
                              line(Frame(0x85, {0}), true) + "\r\n" +      // 6: an answer
                              "\r\n" + "68 0d 00 zz\r\n" +                 // 7, 8
                              line(Frame(0x84, {0, 0, 0}), true) + "\n" +  // 9: too short
                              line(a, true) + "\n" +                       // 10: LF only
                              "End Date: 2026-12-07  Time:09:06:00\r\n");
    const modulesim::ReplayScript script = modulesim::ParseRecord(record);
    ASSERT_EQ(script.frames.size(), 3u);
    EXPECT_EQ(Hex(script.frames[0]), Hex(a));
    EXPECT_EQ(Hex(script.frames[1]), Hex(b));
    EXPECT_EQ(Hex(script.frames[2]), Hex(a));
    const std::vector<std::string> skipped{
        "line 3: bad checksum",
        "line 4: 11 rejected bytes, no frame",
        "line 5: 1 rejected byte before the frame",
        "line 6: not a reading (command 85)",
        "line 8: not hex bytes",
        "line 9: reading of length 7",
    };
    EXPECT_EQ(script.skipped, skipped);
}

}  // namespace
