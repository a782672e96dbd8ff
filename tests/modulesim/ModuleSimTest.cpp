#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <initializer_list>
#include <regex>
#include <string>
#include <vector>

#include "SimHarness.h"

namespace {

using namespace std::chrono_literals;

Bytes B(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values)
        out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

// A request as the console frames it: 68 L address command payload checksum.
Bytes Request(int address, int command, std::initializer_list<int> payload = {}) {
    Bytes frame = B({0x68, static_cast<int>(4 + payload.size()), address, command});
    for (int v : payload)
        frame.push_back(static_cast<std::uint8_t>(v));
    frame.push_back(0);
    frame.back() = ExpectedChecksum(frame);
    return frame;
}

Bytes Read(int address) {
    return Request(address, 0x04);
}

struct Angles {
    double pitch;
    double roll;
    double heading;
};

// Checks a reading frame completely and returns its three values.
Angles ExpectReading(const Bytes& frame, int address) {
    EXPECT_EQ(frame.size(), 14u) << Hex(frame);
    if (frame.size() != 14)
        return {};
    EXPECT_EQ(frame[1], 0x0D);
    EXPECT_EQ(frame[2], address);
    EXPECT_EQ(frame[3], 0x84);
    EXPECT_TRUE(ChecksumHolds(frame)) << Hex(frame);
    const auto pitch = DecodeAngle(frame[4], frame[5], frame[6]);
    const auto roll = DecodeAngle(frame[7], frame[8], frame[9]);
    const auto heading = DecodeAngle(frame[10], frame[11], frame[12]);
    EXPECT_TRUE(pitch && roll && heading) << "not packed BCD: " << Hex(frame);
    if (!pitch || !roll || !heading)
        return {};
    EXPECT_LE(std::fabs(*pitch), 45.0);
    EXPECT_LE(std::fabs(*roll), 45.0);
    EXPECT_GE(*heading, 0.0);
    EXPECT_LT(*heading, 360.0);
    return {*pitch, *roll, *heading};
}

double HeadingStep(double a, double b) {
    const double d = std::fabs(a - b);
    return std::min(d, 360.0 - d);
}

SimProcess Start(std::vector<std::string> args) {
    return SimProcess({std::move(args)});
}

// --- readings -----------------------------------------------------------------------------

TEST(modulesimReading, ReadRequestGetsAValidReadingFrame) {
    SimProcess sim = Start({});
    ASSERT_TRUE(std::regex_match(sim.Path(), std::regex("/dev/pts/[0-9]+"))) << sim.Path();
    Port port(sim.Path());
    port.Write(Read(0));
    const auto frame = port.NextFrame();
    ASSERT_TRUE(frame);
    ExpectReading(*frame, 0);
}

TEST(modulesimReading, FixedReadingsAreEncodedAsPackedBcd) {
    struct Case {
        const char* fixed;
        int address;
        Bytes values;  // bytes 4..12
    };
    const Case cases[] = {
        {"-12.34,5.6,359.99", 1, B({0x10, 0x12, 0x34, 0x00, 0x05, 0x60, 0x03, 0x59, 0x99})},
        {"0,0,0", 0, B({0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00})},
        // Rounds to hundredths; a value rounding to zero carries no sign.
        {"-0.004,123.456,-999.99", 7, B({0x00, 0x00, 0x00, 0x01, 0x23, 0x46, 0x19, 0x99, 0x99})},
        {"-45,0.01,180.5", 255, B({0x10, 0x45, 0x00, 0x00, 0x00, 0x01, 0x01, 0x80, 0x50})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixed);
        SimProcess sim = Start({"--fixed", c.fixed, "--address", std::to_string(c.address)});
        Port port(sim.Path());
        port.Write(Read(c.address));
        const auto frame = port.NextFrame();
        ASSERT_TRUE(frame);
        ASSERT_EQ(frame->size(), 14u) << Hex(*frame);
        EXPECT_EQ(Bytes(frame->begin() + 4, frame->begin() + 13), c.values) << Hex(*frame);
        EXPECT_TRUE(ChecksumHolds(*frame)) << Hex(*frame);
    }
}

TEST(modulesimReading, KnownReadingFrameMatchesByteForByte) {
    SimProcess sim = Start({"--fixed", "-12.34,5.6,359.99", "--address", "1"});
    Port port(sim.Path());
    port.Write(B({0x68, 0x04, 0x01, 0x04, 0x09}));
    const auto frame = port.NextFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(Hex(*frame), "68 0D 01 84 10 12 34 00 05 60 03 59 99 42");
}

TEST(modulesimReading, ReadingsMoveSmoothly) {
    using Clock = std::chrono::steady_clock;
    // No angle may move faster than this; a step may take as long as the test was away.
    constexpr double kMaxDegreesPerSecond = 25.0;
    SimProcess sim = Start({});
    Port port(sim.Path());
    auto sent = Clock::now();
    port.Write(Read(0));
    auto frame = port.NextFrame();
    ASSERT_TRUE(frame);
    const Angles first = ExpectReading(*frame, 0);
    Angles previous = first;
    bool moved = false;
    const auto deadline = Clock::now() + 3s;
    for (int i = 0; (i < 20 || !moved) && Clock::now() < deadline; ++i) {
        const auto previousSent = sent;
        sent = Clock::now();
        port.Write(Read(0));
        frame = port.NextFrame();
        ASSERT_TRUE(frame);
        const double elapsed = std::chrono::duration<double>(Clock::now() - previousSent).count();
        const double limit = kMaxDegreesPerSecond * elapsed + 0.02;
        const Angles now = ExpectReading(*frame, 0);
        EXPECT_LE(std::fabs(now.pitch - previous.pitch), limit);
        EXPECT_LE(std::fabs(now.roll - previous.roll), limit);
        EXPECT_LE(HeadingStep(now.heading, previous.heading), limit);
        moved = moved || now.heading != first.heading || now.pitch != first.pitch ||
                now.roll != first.roll;
        previous = now;
    }
    EXPECT_TRUE(moved) << "readings did not change in 3 s";
}

// --- acknowledgements ---------------------------------------------------------------------

struct AckCase {
    const char* name;
    Bytes request;
    int code;
    int status;      // byte 4 by default
    int failStatus;  // byte 4 with --fail
};

class modulesimAck : public ::testing::TestWithParam<bool> {};

TEST_P(modulesimAck, AnswersZeroBaudAndAddressRequests) {
    const bool fail = GetParam();
    const AckCase cases[] = {
        {"set zero", Request(0, 0x05, {0x01}), 0x85, 0x00, 0x01},
        {"cancel zero", Request(0, 0x05, {0x00}), 0x85, 0x00, 0x01},
        {"baud 9600", Request(0, 0x0B, {0x02}), 0x8B, 0x00, 0x01},
        {"baud 115200", Request(0, 0x0B, {0x05}), 0x8B, 0x00, 0x01},
        {"baud without selection", Request(0, 0x0B, {0xFF}), 0x8B, 0x01, 0x01},
        {"address", Request(0, 0x0F, {0x00}), 0x8F, 0x00, 0x01},
    };
    SimProcess sim = Start(fail ? std::vector<std::string>{"--fail"} : std::vector<std::string>{});
    Port port(sim.Path());
    for (const AckCase& c : cases) {
        SCOPED_TRACE(c.name);
        port.Write(c.request);
        const auto frame = port.NextFrame();
        ASSERT_TRUE(frame);
        ASSERT_EQ(frame->size(), 6u) << Hex(*frame);
        EXPECT_EQ((*frame)[2], 0x00);
        EXPECT_EQ((*frame)[3], c.code);
        EXPECT_EQ((*frame)[4], fail ? c.failStatus : c.status);
        EXPECT_TRUE(ChecksumHolds(*frame)) << Hex(*frame);
    }
}

INSTANTIATE_TEST_SUITE_P(DefaultAndFail, modulesimAck, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Fail" : "Default"; });

TEST(modulesimAddress, NewAddressIsAnsweredAndOldIgnored) {
    SimProcess sim = Start({"--address", "1"});
    Port port(sim.Path());
    port.Write(B({0x68, 0x05, 0x01, 0x0F, 0x05, 0x1A}));
    const auto answer = port.NextFrame();
    ASSERT_TRUE(answer);
    // Answered from the old address; the new one holds afterwards.
    EXPECT_EQ(Hex(*answer), "68 05 01 8F 00 95");

    port.Write(Read(5));
    const auto reading = port.NextFrame();
    ASSERT_TRUE(reading);
    ExpectReading(*reading, 5);
    port.Write(Read(1));
    EXPECT_TRUE(port.QuietFor(300ms));
}

TEST(modulesimAddress, FailedAddressChangeKeepsTheOldAddress) {
    SimProcess sim = Start({"--address", "1", "--fail"});
    Port port(sim.Path());
    port.Write(B({0x68, 0x05, 0x01, 0x0F, 0x05, 0x1A}));
    const auto answer = port.NextFrame();
    ASSERT_TRUE(answer);
    EXPECT_EQ(Hex(*answer), "68 05 01 8F 01 96");

    port.Write(Read(5));
    EXPECT_TRUE(port.QuietFor(300ms));
    port.Write(Read(1));
    const auto reading = port.NextFrame();
    ASSERT_TRUE(reading);
    ExpectReading(*reading, 1);
}

TEST(modulesimAddress, RequestsForOtherAddressesAreIgnored) {
    SimProcess sim = Start({"--address", "3"});
    Port port(sim.Path());
    for (int address : {0, 2, 4, 255})
        port.Write(Read(address));
    port.Write(Request(0, 0x05, {0x01}));
    EXPECT_TRUE(port.QuietFor(300ms));
    port.Write(Read(3));
    const auto reading = port.NextFrame();
    ASSERT_TRUE(reading);
    ExpectReading(*reading, 3);
}

TEST(modulesimAddress, DeclinationRequestIsTakenWhateverTheModuleAddress) {
    // With --ack-all the module confirms what it took, so the address rule becomes visible.
    SimProcess sim = Start({"--address", "3", "--ack-all"});
    Port port(sim.Path());
    port.Write(B({0x68, 0x06, 0x00, 0x06, 0x11, 0x23, 0x40}));
    const auto answer = port.NextFrame();
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[2], 0x03);
    EXPECT_EQ((*answer)[3], 0x86);
    EXPECT_TRUE(ChecksumHolds(*answer));
}

TEST(modulesimAddress, UnansweredRequestsSendNothingByDefault) {
    SimProcess sim = Start({});
    Port port(sim.Path());
    // Declination, answer mode, both mountings, M-mode and A-mode: taken silently.
    for (const Bytes& request :
         {B({0x68, 0x06, 0x00, 0x06, 0x10, 0x01, 0x1D}), Request(0, 0x0C, {0x00}),
          Request(0, 0x2A, {0x00}), Request(0, 0x2A, {0x01}), Request(0, 0x43), Request(0, 0x44)}) {
        port.Write(request);
    }
    port.Write(Read(0));
    const auto first = port.NextFrame();
    ASSERT_TRUE(first);
    ExpectReading(*first, 0);
}

TEST(modulesimAddress, AckAllAnswersTheOtherwiseSilentRequests) {
    struct Case {
        Bytes request;
        int code;
    };
    const Case cases[] = {
        {Request(0, 0x0C, {0x00}), 0x8C},
        {Request(0, 0x2A, {0x01}), 0xAA},
        {Request(0, 0x43), 0xC3},
        {Request(0, 0x44), 0xC4},
    };
    SimProcess sim = Start({"--ack-all"});
    Port port(sim.Path());
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex(c.request));
        port.Write(c.request);
        const auto frame = port.NextFrame();
        ASSERT_TRUE(frame);
        EXPECT_EQ((*frame)[3], c.code);
        EXPECT_EQ((*frame)[4], 0x00);
        EXPECT_TRUE(ChecksumHolds(*frame));
    }
}

// --- request parsing ----------------------------------------------------------------------

TEST(modulesimRequests, BrokenRequestsAreDroppedAndTheNextOneFound) {
    struct Case {
        const char* name;
        Bytes bytes;
        int answers;
    };
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const Case cases[] = {
        {"noise before a request", join({B({0x00, 0xFF, 0x13, 0x84}), Read(0)}), 1},
        {"bad checksum", B({0x68, 0x04, 0x00, 0x04, 0x09}), 0},
        {"bad checksum then good", join({B({0x68, 0x04, 0x00, 0x04, 0x09}), Read(0)}), 1},
        {"length 3", join({B({0x68, 0x03, 0x00, 0x04}), Read(0)}), 1},
        {"length 50", join({B({0x68, 0x32, 0x00, 0x04, 0x36}), Read(0)}), 1},
        {"start byte as length", B({0x68, 0x68, 0x04, 0x00, 0x04, 0x08}), 1},
        {"two requests in one write", join({Read(0), Request(0, 0x05, {0x01})}), 2},
    };
    SimProcess sim = Start({});
    Port port(sim.Path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        port.Write(c.bytes);
        for (int i = 0; i < c.answers; ++i) {
            const auto frame = port.NextFrame();
            ASSERT_TRUE(frame) << "answer " << i;
            EXPECT_TRUE(ChecksumHolds(*frame));
        }
        EXPECT_TRUE(port.QuietFor(150ms));
    }
}

TEST(modulesimRequests, RequestSpreadOverWritesIsAnswered) {
    SimProcess sim = Start({});
    Port port(sim.Path());
    port.Write(B({0x68, 0x04}));
    EXPECT_TRUE(port.QuietFor(100ms));
    port.Write(B({0x00, 0x04}));
    EXPECT_TRUE(port.QuietFor(100ms));
    port.Write(B({0x08}));
    const auto frame = port.NextFrame();
    ASSERT_TRUE(frame);
    ExpectReading(*frame, 0);
}

// --- calibration --------------------------------------------------------------------------

TEST(modulesimCalibration, WorkflowAnswers) {
    SimProcess sim = Start({});
    Port port(sim.Path());
    auto exchange = [&](const Bytes& request) {
        port.Write(request);
        const auto frame = port.NextFrame();
        EXPECT_TRUE(frame) << "no answer to " << Hex(request);
        if (frame) {
            EXPECT_TRUE(ChecksumHolds(*frame)) << Hex(*frame);
        }
        return frame ? Hex(*frame) : std::string();
    };
    EXPECT_EQ(exchange(Request(0, 0x08)), "68 05 00 88 00 8D");
    port.Write(Request(0, 0x44));  // A-mode and M-mode: no answers
    port.Write(Request(0, 0x43));
    EXPECT_EQ(exchange(Request(0, 0x45)), "68 05 00 88 01 8E");
    EXPECT_EQ(exchange(Request(0, 0x45)), "68 05 00 88 02 8F");
    EXPECT_EQ(exchange(Request(0, 0x45)), "68 05 00 88 03 90");
    // Stop reports X, Y, Z coverage 100, 95, 87 percent.
    EXPECT_EQ(exchange(Request(0, 0x09)), "68 08 00 89 00 64 5F 57 AB");
    EXPECT_EQ(exchange(Request(0, 0x0A)), "68 05 00 8A 00 8F");
    // A new calibration counts from zero again.
    EXPECT_EQ(exchange(Request(0, 0x08)), "68 05 00 88 00 8D");
    EXPECT_EQ(exchange(Request(0, 0x45)), "68 05 00 88 01 8E");
}

TEST(modulesimCalibration, SampleCountStopsAt254) {
    SimProcess sim = Start({});
    Port port(sim.Path());
    Bytes burst = Request(0, 0x08);
    for (int i = 0; i < 256; ++i) {
        const Bytes manual = Request(0, 0x45);
        burst.insert(burst.end(), manual.begin(), manual.end());
    }
    port.Write(burst);
    std::vector<int> counts;
    for (int i = 0; i < 257; ++i) {
        const auto frame = port.NextFrame();
        ASSERT_TRUE(frame) << "answer " << i;
        ASSERT_EQ((*frame)[3], 0x88);
        counts.push_back((*frame)[4]);
    }
    EXPECT_EQ(counts[0], 0);
    EXPECT_EQ(counts[1], 1);
    EXPECT_EQ(counts[254], 254);
    EXPECT_EQ(counts[255], 254);
    EXPECT_EQ(counts[256], 254);
}

TEST(modulesimCalibration, FailAnswersFF) {
    SimProcess sim = Start({"--fail"});
    Port port(sim.Path());
    const std::pair<int, int> cases[] = {{0x08, 0x88}, {0x45, 0x88}, {0x09, 0x89}, {0x0A, 0x8A}};
    for (const auto& [command, code] : cases) {
        SCOPED_TRACE(command);
        port.Write(Request(0, command));
        const auto frame = port.NextFrame();
        ASSERT_TRUE(frame);
        EXPECT_EQ((*frame)[3], code);
        EXPECT_EQ((*frame)[4], 0xFF);
        EXPECT_TRUE(ChecksumHolds(*frame));
    }
}

// --- automatic output ---------------------------------------------------------------------

TEST(modulesimAuto, StreamsReadingsUntilAnswerModeIsRequested) {
    SimProcess sim = Start({"--auto", "200"});
    Port port(sim.Path());
    for (int i = 0; i < 30; ++i) {
        const auto frame = port.NextFrame();
        ASSERT_TRUE(frame) << "frame " << i;
        ExpectReading(*frame, 0);
    }
    port.Write(Request(0, 0x0C, {0x00}));
    ASSERT_TRUE(port.DrainUntilQuiet(150ms, 3s)) << "stream did not stop";
    EXPECT_TRUE(port.QuietFor(300ms));
}

TEST(modulesimAuto, OutputModeRequestStartsTheStream) {
    SimProcess sim = Start({"--rate", "100"});
    Port port(sim.Path());
    EXPECT_TRUE(port.QuietFor(200ms));
    port.Write(Request(0, 0x0C, {0x01}));
    for (int i = 0; i < 5; ++i) {
        const auto frame = port.NextFrame();
        ASSERT_TRUE(frame) << "frame " << i;
        ExpectReading(*frame, 0);
    }
}

TEST(modulesimAuto, FramesLimitEndsTheStreamAtAnyRate) {
    struct Case {
        const char* rate;
        int frames;
    };
    for (const Case c : {Case{"1000", 25}, Case{"20000", 2000}}) {
        SCOPED_TRACE(c.rate);
        SimProcess sim(
            {{"--auto", c.rate, "--frames", std::to_string(c.frames), "--stats"}, true, true});
        Port port(sim.Path());
        int received = 0;
        while (port.NextFrame(500ms))
            ++received;
        EXPECT_EQ(received, c.frames);
        EXPECT_EQ(sim.Terminate(), 0);
        EXPECT_NE(sim.ReadStderr().find("frames sent: " + std::to_string(c.frames)),
                  std::string::npos);
    }
}

// --- faults -------------------------------------------------------------------------------

TEST(modulesimFaults, BadChecksumIsOneTooHigh) {
    SimProcess sim = Start({"--bad-checksum"});
    Port port(sim.Path());
    for (const Bytes& request : {Read(0), Request(0, 0x05, {0x01})}) {
        port.Write(request);
        const auto frame = port.NextFrame();
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->back(), static_cast<std::uint8_t>(ExpectedChecksum(*frame) + 1))
            << Hex(*frame);
    }
}

TEST(modulesimFaults, NoiseComesBeforeEveryFrameAndNeverLooksLikeAStart) {
    SimProcess sim = Start({"--auto", "2000", "--noise"});
    Port port(sim.Path());
    for (int i = 0; i < 300; ++i) {
        Bytes skipped;
        const auto frame = port.NextFrame(3s, &skipped);
        ASSERT_TRUE(frame) << "frame " << i;
        ExpectReading(*frame, 0);
        EXPECT_FALSE(skipped.empty()) << "no noise before frame " << i;
        for (std::uint8_t b : skipped)
            EXPECT_NE(b, 0x68);
    }
}

TEST(modulesimFaults, SplitFrameArrivesWholeOverSeveralReads) {
    SimProcess sim = Start({"--split-gap", "5"});
    Port port(sim.Path());
    port.Write(Read(0));
    const auto frame = port.NextFrame();
    ASSERT_TRUE(frame);
    ExpectReading(*frame, 0);
    EXPECT_GE(port.DataReads(), 2);
}

TEST(modulesimFaults, SilentModuleSendsNothing) {
    for (const auto& args : {std::vector<std::string>{"--silent"},
                             std::vector<std::string>{"--silent", "--auto", "200"}}) {
        SCOPED_TRACE(args.back());
        SimProcess sim = Start(args);
        Port port(sim.Path());
        port.Write(Read(0));
        port.Write(Request(0, 0x08));
        EXPECT_TRUE(port.QuietFor(300ms));
    }
}

TEST(modulesimFaults, VanishingDeviceHangsUpAfterItsTime) {
    const auto started = std::chrono::steady_clock::now();
    SimProcess sim = Start({"--vanish-after", "0.2"});
    Port port(sim.Path());
    ASSERT_TRUE(port.WaitHangup(3s));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 200ms);
    EXPECT_EQ(sim.WaitExit(3s), 0);
}

// --- process ------------------------------------------------------------------------------

TEST(modulesimProcess, SigtermEndsCleanlyWithStats) {
    SimProcess sim({{"--stats"}, true, true});
    Port port(sim.Path());
    for (int i = 0; i < 3; ++i) {
        port.Write(Read(0));
        ASSERT_TRUE(port.NextFrame());
    }
    EXPECT_EQ(sim.Terminate(), 0);
    EXPECT_NE(sim.ReadStderr().find("frames sent: 3\n"), std::string::npos);
}

TEST(modulesimProcess, DurationEndsTheSimulator) {
    SimProcess sim = Start({"--duration", "0.2"});
    EXPECT_EQ(sim.WaitExit(3s), 0);
}

TEST(modulesimProcess, RunPassesTheDeviceAndTheExitStatus) {
    struct Case {
        std::vector<std::string> command;
        int status;
        const char* output;  // regular expression for stdout
    };
    const Case cases[] = {
        {{"/bin/sh", "-c", "echo \"$TORVA_COM1\""}, 0, "/dev/pts/[0-9]+\n"},
        {{"/bin/sh", "-c", "test -c \"$TORVA_COM1\""}, 0, ""},
        {{"/bin/sh", "-c", "exit 7"}, 7, ""},
        {{"/nonexistent/command"}, 127, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command.back());
        std::vector<std::string> args{"--run"};
        args.insert(args.end(), c.command.begin(), c.command.end());
        SimProcess sim({args, false, false});
        EXPECT_EQ(sim.WaitExit(5s), c.status);
        const std::string out = sim.ReadStdout();
        EXPECT_TRUE(std::regex_match(out, std::regex(c.output))) << out;
    }
}

TEST(modulesimProcess, CommandLineIsChecked) {
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{"--help"}, 0},           {{"--bogus"}, 2},
        {{"--auto"}, 2},           {{"--auto", "0"}, 2},
        {{"--address", "256"}, 2}, {{"--fixed", "1,2"}, 2},
        {{"--duration", "x"}, 2},  {{"--run"}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        SimProcess sim({c.args, false, true});
        EXPECT_EQ(sim.WaitExit(5s), c.status);
        const std::string text = c.status == 0 ? sim.ReadStdout() : sim.ReadStderr();
        EXPECT_NE(text.find("usage: modulesim"), std::string::npos) << text;
    }
}

}  // namespace
