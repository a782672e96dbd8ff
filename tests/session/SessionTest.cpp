// The module session on a pseudo-terminal playing the module: frames assembled across reads and
// dispatched as signals, the service tick's polling and pending commands, the manual sample's
// wait, and recording through the receive path.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "ModuleFrame.h"
#include "ModuleSession.h"
#include "Pty.h"
#include "ScopedEnv.h"
#include "WaitFor.h"

namespace {

namespace fs = std::filesystem;

// Address 01, pitch -12.34, roll +5.60, heading 359.99.
const std::vector<std::uint8_t> kReading =
    Bytes({0x68, 0x0D, 0x01, 0x84, 0x10, 0x12, 0x34, 0x00, 0x05, 0x60, 0x03, 0x59, 0x99, 0x42});
const std::string kReadRequest = "68 04 00 04 08";

std::string LogLine(const std::vector<std::uint8_t>& frame) {
    return Hex(frame) + " \r\n";
}

// A session on Com1, open, with the pseudo-terminal's master as the module. Every signal it
// gives is noted in `events`, in order, as text.
class Session : public ::testing::Test {
protected:
    void SetUp() override {
        session.setParameterSource([this] { return parameters; });
        Note(&ModuleSession::readingReceived, [](qint64, double p, double r, double h) {
            char text[64];
            std::snprintf(text, sizeof text, "reading %.2f %.2f %.2f", p, r, h);
            return std::string(text);
        });
        Note(&ModuleSession::acknowledged, [](quint8 code, bool ok) {
            char text[32];
            std::snprintf(text, sizeof text, "ack %02X %s", code, ok ? "ok" : "error");
            return std::string(text);
        });
        Note(&ModuleSession::addressAccepted,
             [](quint32 address) { return "address " + std::to_string(address); });
        Note(&ModuleSession::sampleCounted, [](int n) { return "samples " + std::to_string(n); });
        Note(&ModuleSession::coverageReported, [](int x, int y, int z) {
            return "coverage " + std::to_string(x) + " " + std::to_string(y) + " " +
                   std::to_string(z);
        });
        Note(&ModuleSession::calibrationSaved, [] { return std::string("saved"); });
        Note(&ModuleSession::calibrationFailed, [](quint8 code) {
            char text[32];
            std::snprintf(text, sizeof text, "calibration error %02X", code);
            return std::string(text);
        });
        Note(&ModuleSession::sampleTimedOut, [] { return std::string("time-out"); });
        Note(&ModuleSession::frameRate, [](int n) { return "rate " + std::to_string(n); });
        QObject::connect(&session, &ModuleSession::inputTaken, [this] { ++reads; });
        ASSERT_EQ(session.selectPort(1), std::nullopt);
        ASSERT_EQ(session.open(5), std::nullopt);
    }

    template <class Signal, class Describe>
    void Note(Signal signal, Describe describe) {
        QObject::connect(&session, signal,
                         [this, describe](auto... args) { events.push_back(describe(args...)); });
    }
    // The events since the last call.
    std::vector<std::string> Events() { return std::exchange(events, {}); }

    // Writes bytes as the module and serves events until the session has taken them. They are
    // all on the line before the event loop runs again, so they come in one read.
    void Receive(const std::vector<std::uint8_t>& bytes) {
        const int before = reads;
        pty.Write(bytes);
        EXPECT_TRUE(WaitFor([&] { return reads > before; }, 5000))
            << "the session took none of the bytes";
        ServeEvents();
    }
    // What the module has been sent since the last call, once the line has been quiet a while.
    std::string Sent(int quietMs = 60) {
        std::vector<std::uint8_t> out;
        QElapsedTimer quiet;
        quiet.start();
        while (quiet.elapsed() < quietMs) {
            ServeEvents(1);
            const auto got = pty.Read(std::chrono::milliseconds(5), std::chrono::milliseconds(2));
            if (!got.empty()) {
                out.insert(out.end(), got.begin(), got.end());
                quiet.restart();
            }
        }
        return Hex(out);
    }
    void Tick(int times = 1) {
        for (int i = 0; i < times; ++i)
            session.serviceTick();
    }
    int Rate() {
        session.rateTick();
        const std::string last = events.back();
        events.pop_back();
        return std::stoi(last.substr(5));
    }

    Pty pty;
    ScopedEnv com1{"TORVA_COM1", pty.SlavePath()};
    FrameParameters parameters;
    ModuleSession session;
    std::vector<std::string> events;
    int reads = 0;
};

TEST_F(Session, RejectedStartsDropTheirReadAndOnlyGoodReadingFramesAreReadings) {
    // A read that does not start with a start byte is dropped whole.
    Receive(Joined({Bytes({0x00}), kReading}));
    EXPECT_EQ(session.log().receivedText(), "00 ");
    EXPECT_EQ(session.log().frameHex(), "");
    EXPECT_EQ(Rate(), 0);
    // A bad checksum is logged and counted only.
    auto bad = kReading;
    bad.back() = 0x43;
    Receive(bad);
    EXPECT_EQ(session.log().receivedText(), "00 " + LogLine(bad));
    EXPECT_EQ(Rate(), 1);
    EXPECT_EQ(session.lastReading(), std::nullopt);
    Receive(kReading);
    EXPECT_EQ(Events(), std::vector<std::string>{"reading -12.34 5.60 359.99"});
    EXPECT_EQ(session.history().size(), 1u);
    EXPECT_EQ(Rate(), 1);

    // Length bytes outside 4..49 reject their frame; 4 and 49 are taken.
    for (const std::uint8_t length : {3, 50, 4, 49}) {
        SCOPED_TRACE(static_cast<int>(length));
        const bool accepted = length == 4 || length == 49;
        // A reading padded to the length, its heading carrying the length, or an ignored code.
        std::vector<std::uint8_t> payload(length >= 13 ? length - 4u : (length == 3 ? 1u : 0u));
        if (length >= 13)
            payload[7] = length;
        auto frame = ModuleFrame(length >= 13 ? 0x84 : 0x86, payload);
        frame[1] = length;  // the rejected lengths do not match the frame on purpose
        const std::size_t logged = session.log().receivedText().size();
        Receive(frame);
        char piece[16];
        std::snprintf(piece, sizeof piece, "68 %02X ", length);
        EXPECT_EQ(session.log().receivedText().substr(logged), accepted ? LogLine(frame) : piece);
        EXPECT_EQ(Rate(), accepted ? 1 : 0);
        EXPECT_EQ(session.log().frameHex(), "");
    }
    EXPECT_EQ(Events(), std::vector<std::string>{"reading 0.00 0.00 31.00"});
    // Reading frames with good checksums that hold no reading are logged and counted only: too
    // short for three values (the assembler's later positions still hold bytes of the 50-byte
    // frame), or with digits above 9.
    const std::vector<std::uint8_t> noReadings[] = {
        {0x68, 0x05, 0x00, 0x84, 0x00, 0x89},
        ModuleFrame(0x84, {0x00, 0x12, 0x64}),
        ModuleFrame(0x84, {0x00, 0x12, 0x64, 0x00, 0x00, 0x00, 0x00, 0x12}),
        ModuleFrame(0x84, {0x00, 0x12, 0x64, 0x00, 0x00, 0x00, 0x0F, 0xFF, 0xFF}),
        ModuleFrame(0x84, {0x00, 0x1A, 0x64, 0x00, 0x00, 0x00, 0x00, 0x12, 0x00}),
    };
    for (const auto& frame : noReadings) {
        SCOPED_TRACE(Hex(frame));
        const std::size_t logged = session.log().receivedText().size();
        Receive(frame);
        EXPECT_EQ(session.log().receivedText().substr(logged), LogLine(frame));
        EXPECT_EQ(Rate(), 1);
    }
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(session.history().size(), 2u);
    ASSERT_TRUE(session.lastReading());
    EXPECT_DOUBLE_EQ(session.lastReading()->heading, 31.0);
    // Every digit 9, and a sign nibble of any value, is a reading.
    Receive(ModuleFrame(0x84, {0xF9, 0x99, 0x99, 0x00, 0x00, 0x00, 0x00, 0x12, 0x50}));
    EXPECT_EQ(Events(), std::vector<std::string>{"reading -999.99 0.00 12.50"});
}

TEST_F(Session, ReadBoundariesDoNotMatterAndFramesAreDispatchedInOrder) {
    // Two readings around two acknowledgements (40 bytes), cut differently each round: one read,
    // single bytes, and cuts inside frames and across their boundaries.
    const std::vector<std::vector<std::size_t>> cuts = {
        {},        std::vector<std::size_t>(39, 1), {1, 1, 1}, {3, 11, 6}, {13, 2, 5, 9}, {14, 6},
        {2, 18, 7}};
    const auto ok = ModuleFrame(0x85, {0x00}), error = ModuleFrame(0x85, {0x01});
    for (std::uint8_t round = 1; round <= cuts.size(); ++round) {
        SCOPED_TRACE(round);
        const auto last = ModuleFrame(0x84, {0x00, 0x00, round, 0, 0, 0, 0, 0, 0});
        const auto stream = Joined({kReading, ok, error, last});
        const std::size_t logged = session.log().receivedText().size();
        auto at = stream.begin();
        for (std::size_t size : cuts[round - 1]) {
            Receive(std::vector<std::uint8_t>(at, at + static_cast<std::ptrdiff_t>(size)));
            at += static_cast<std::ptrdiff_t>(size);
        }
        Receive(std::vector<std::uint8_t>(at, stream.end()));
        EXPECT_EQ(session.log().receivedText().substr(logged),
                  LogLine(kReading) + LogLine(ok) + LogLine(error) + LogLine(last));
        EXPECT_EQ(Events(), (std::vector<std::string>{
                                "reading -12.34 5.60 359.99", "ack 85 ok", "ack 85 error",
                                "reading 0.0" + std::to_string(round) + " 0.00 0.00"}));
        EXPECT_EQ(Rate(), 4);
    }
}

// Each answer code with a good checksum becomes its signal; other codes are only logged and
// counted.
TEST_F(Session, EachAnswerBecomesItsSignal) {
    parameters.newAddress = 5;
    struct Case {
        std::uint8_t code;
        std::vector<std::uint8_t> payload;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {0x85, {0x00}, {"ack 85 ok"}},
        {0x85, {0xFF}, {"ack 85 error"}},
        {0x8B, {0x00}, {"ack 8B ok"}},
        {0x8B, {0x07}, {"ack 8B error"}},
        {0x8F, {0x01}, {"ack 8F error"}},
        {0x8F, {0x00}, {"address 5", "ack 8F ok"}},
        {0x88, {0xFE}, {"samples 254"}},
        {0x88, {0xFF}, {"calibration error 88"}},
        // Any status but FF is a result, and values come as they are, above 100 too.
        {0x89, {0x00, 0x64, 0x5F, 0x03}, {"coverage 100 95 3"}},
        {0x89, {0x01, 0xC8, 0xFF, 0x00}, {"coverage 200 255 0"}},
        {0x89, {0xFF, 0x01, 0x02, 0x03}, {"calibration error 89"}},
        {0x8A, {0xFF}, {"calibration error 8A"}},
        {0x8A, {0x00}, {"saved"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex(ModuleFrame(c.code, c.payload)));
        Receive(ModuleFrame(c.code, c.payload));
        EXPECT_EQ(Events(), c.events);
    }
    std::string log = session.log().receivedText();
    for (const std::uint8_t code : {0x86, 0x8C, 0x90, 0x87, 0x8D, 0x8E, 0x83, 0x91, 0x04, 0x00}) {
        // A payload that would show if taken for a reading or an answer.
        const auto frame =
            ModuleFrame(code, {0x10, 0x01, 0x00, 0x10, 0x02, 0x00, 0x10, 0x03, 0x00});
        Receive(frame);
        log += LogLine(frame);
    }
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(session.log().receivedText(), log);
    EXPECT_EQ(Rate(), 13 + 10);
}

// The service tick with the line closed does nothing and keeps the pending command; open, it
// sends the read request while polling, the pending command in its place, and nothing in
// automatic output until another mode is set. The Send log keeps 60 read requests.
TEST_F(Session, TheServiceTickSendsWhatPollingAndThePendingCommandAsk) {
    int served = 0;
    QObject::connect(&session, &ModuleSession::pollServed, [&] { ++served; });
    session.close();
    session.setPolling(true);
    session.queueCommand(PendingCommand::SetZero);
    Tick(3);
    EXPECT_EQ(served, 0);
    EXPECT_EQ(session.pendingCommand(), PendingCommand::SetZero);
    ASSERT_EQ(session.open(-1), std::nullopt);
    Tick();
    EXPECT_EQ(Sent(), "68 05 00 05 01 0B");  // in place of the read request
    Tick(2);
    EXPECT_EQ(Sent(), kReadRequest + " " + kReadRequest);
    EXPECT_EQ(served, 3);

    // Each command once, at the next tick; the slot is emptied once served, and the last of two
    // clicks within one period wins. No module speed selected goes out as FF.
    session.setPolling(false);
    parameters.baudIndex = 5;
    const std::pair<PendingCommand, const char*> cases[] = {
        {PendingCommand::SetZero, "68 05 00 05 01 0B"},
        {PendingCommand::CancelZero, "68 05 00 05 00 0A"},
        {PendingCommand::SetAddress, "68 05 00 0F 00 14"},
        {PendingCommand::SetBaudRate, "68 05 00 0B 05 15"},
        {PendingCommand::AutoOutput, "68 05 00 0C 01 12"},
        {PendingCommand::AnswerMode, "68 05 00 0C 00 11"},
        {PendingCommand::MountHorizontal, "68 05 00 2A 00 2F"},
        {PendingCommand::MountVertical, "68 05 00 2A 01 30"},
    };
    std::string log = session.log().sendText();
    for (const auto& [command, frame] : cases) {
        SCOPED_TRACE(frame);
        session.queueCommand(command);
        EXPECT_EQ(Sent(), "") << "queued commands never send by themselves";
        Tick();
        EXPECT_EQ(Sent(), frame);
        Tick();
        EXPECT_EQ(Sent(), "");
        log += QString(frame).toLower().toStdString() + " \r\n";  // logged in lower case
    }
    EXPECT_EQ(session.log().sendText(), log);
    parameters.baudIndex = -1;
    session.queueCommand(PendingCommand::SetZero);
    session.queueCommand(PendingCommand::SetBaudRate);
    Tick();
    EXPECT_EQ(Sent(), "68 05 00 0B FF 0F");

    // Automatic output stops the read requests until another mode is set, across a close.
    session.setPolling(true);
    for (const auto& [mode, frame] : {std::pair{PendingCommand::AnswerMode, "68 05 00 0C 00 11"},
                                      {PendingCommand::MountHorizontal, "68 05 00 2A 00 2F"},
                                      {PendingCommand::MountVertical, "68 05 00 2A 01 30"}}) {
        SCOPED_TRACE(frame);
        session.queueCommand(PendingCommand::AutoOutput);
        Tick();
        EXPECT_EQ(Sent(), "68 05 00 0C 01 12");
        EXPECT_TRUE(session.autoOutput());
        session.close();
        ASSERT_EQ(session.open(-1), std::nullopt);
        Tick(3);
        EXPECT_EQ(Sent(), "");
        session.queueCommand(mode);
        Tick(2);
        EXPECT_EQ(Sent(), std::string(frame) + " " + kReadRequest);
    }

    // The 61st read request since the log was last emptied empties it first.
    session.close();
    ModuleSession fresh;
    ASSERT_EQ(fresh.selectPort(1), std::nullopt);
    ASSERT_EQ(fresh.open(-1), std::nullopt);
    fresh.setPolling(true);
    std::string sixty;
    for (int i = 0; i < 60; ++i)
        sixty += kReadRequest + " \r\n";
    for (int i = 0; i < 60; ++i)
        fresh.serviceTick();
    EXPECT_EQ(fresh.log().sendText(), sixty);
    fresh.serviceTick();
    EXPECT_EQ(fresh.log().sendText(), "68 04 00 04 08 \r\n");
    EXPECT_EQ(Sent().size(), 61u * 15u - 1u);
}

// The manual sample's count is awaited for 100 ticks with the line open; an error answer leaves
// the wait to the time-out, which comes once; a count ends the wait.
TEST_F(Session, TheManualSampleTimesOutOnTheHundredthOpenTickUnlessACountArrives) {
    ASSERT_EQ(session.startManualSample(), std::nullopt);
    EXPECT_EQ(Sent(), "68 04 00 45 49");
    EXPECT_TRUE(session.sampleWaiting());
    Tick(40);
    Receive(ModuleFrame(0x88, {0xFF}));
    EXPECT_EQ(Events(), std::vector<std::string>{"calibration error 88"});
    session.close();
    Tick(50);  // closed ticks do not count
    ASSERT_EQ(session.open(-1), std::nullopt);
    Tick(59);
    EXPECT_TRUE(Events().empty());
    Tick();
    EXPECT_EQ(Events(), std::vector<std::string>{"time-out"});
    EXPECT_FALSE(session.sampleWaiting());
    EXPECT_EQ(Sent(), "");  // the time-out sends nothing
    Tick(150);
    EXPECT_TRUE(Events().empty()) << "once per wait";

    // A count ends the next wait, and no time-out follows.
    ASSERT_EQ(session.startManualSample(), std::nullopt);
    Tick(99);
    Receive(ModuleFrame(0x88, {0x05}));
    EXPECT_EQ(Events(), std::vector<std::string>{"samples 5"});
    EXPECT_FALSE(session.sampleWaiting());
    Tick(120);
    EXPECT_TRUE(Events().empty());

    // With the line closed the request fails but the wait runs, from the next open tick on.
    session.close();
    EXPECT_NE(session.startManualSample(), std::nullopt);
    EXPECT_TRUE(session.sampleWaiting());
    Tick(150);
    ASSERT_EQ(session.open(-1), std::nullopt);
    Tick(100);
    EXPECT_EQ(Events(), std::vector<std::string>{"time-out"});
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Frames from the line reach the record in blocks of 60 lines; the stop writes what is pending
// and the end line, and so does a session that ends while recording.
TEST_F(Session, RecordsTheReceivedFramesAndEndsTheRecordWhenItEnds) {
    const fs::path folder =
        fs::temp_directory_path() / ("torva-session-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    std::vector<RecordStop> stops;
    QObject::connect(&session, &ModuleSession::recordingStopped,
                     [&](RecordStop outcome) { stops.push_back(outcome); });
    Receive(Bytes({0x68, 0x04, 0x00, 0x84, 0x88}));  // before the start: in the first block
    ASSERT_EQ(session.startRecording(folder.string()), RecordStart::Started);
    const fs::path record = session.recorder().FilePath();
    EXPECT_EQ(record, folder / "Rec00.txt");
    std::string lines = "68 04 00 84 88 \r\n";
    for (int i = 0; i < 60; ++i) {
        const auto frame = ModuleFrame(0x86, {static_cast<std::uint8_t>(i)});
        Receive(frame);
        lines += LogLine(frame);
    }
    const std::string header = ReadFile(record);
    ASSERT_EQ(header.rfind("Date: ", 0), 0u) << header;
    const std::size_t firstBlock = lines.rfind("68 05");
    EXPECT_EQ(ReadFile(record),
              header.substr(0, header.find("\r\n") + 2) + lines.substr(0, firstBlock));
    EXPECT_EQ(session.stopRecording(), RecordStop::Stopped);
    const std::string content = ReadFile(record);
    EXPECT_NE(content.find(lines + "End Date: "), std::string::npos) << content;

    ASSERT_EQ(session.startRecording(folder.string()), RecordStart::Started);
    Receive(Bytes({0x68, 0x04, 0x00, 0x87, 0x8B}));
    {
        ModuleSession other;
        ASSERT_EQ(other.startRecording(folder.string()), RecordStart::Started);
        other.takeInput(QByteArray::fromHex("680400878b"));
    }  // a session that ends while recording completes its record, without a signal
    EXPECT_NE(ReadFile(folder / "Rec02.txt").find("68 04 00 87 8B \r\nEnd Date: "),
              std::string::npos);
    session.finish();
    EXPECT_NE(ReadFile(folder / "Rec01.txt").find("68 04 00 87 8B \r\nEnd Date: "),
              std::string::npos);
    EXPECT_EQ(stops, (std::vector<RecordStop>{RecordStop::Stopped, RecordStop::Stopped}));
    EXPECT_FALSE(session.isOpen());
    fs::remove_all(folder);
}

}  // namespace
