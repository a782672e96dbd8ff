// The search for a module on a session: against the simulator at a speed of its own (garbage at
// the others), and against a pseudo-terminal playing several modules, impostors among them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "ModuleFrame.h"
#include "ModuleScanner.h"
#include "ModuleSession.h"
#include "Pty.h"
#include "SimulatorProcess.h"
#include "WaitFor.h"

namespace {

using namespace std::chrono_literals;

// Everything a search told, in order.
struct Heard {
    std::vector<ScanTry> found;
    std::vector<QString> failures;
    std::vector<ScanResult> finished;
    int progress = 0;
    bool heldThroughout = true;
};

void Listen(ModuleScanner& scanner, ModuleSession& session, Heard& heard) {
    QObject::connect(&scanner, &ModuleScanner::found, [&heard](int speed, int address) {
        heard.found.push_back({speed, address});
    });
    QObject::connect(&scanner, &ModuleScanner::failed, [&heard](const LineFailure& failure) {
        heard.failures.push_back(failure.description);
    });
    QObject::connect(&scanner, &ModuleScanner::progress, [&heard, &session](int done, int) {
        heard.progress = done;
        heard.heldThroughout = heard.heldThroughout && session.serviceHeld();
    });
    QObject::connect(&scanner, &ModuleScanner::finished,
                     [&heard](const ScanResult& result) { heard.finished.push_back(result); });
}

// The simulator at 4800 bit/s and address 37, answering bytes at any other speed with garbage.
TEST(ModuleScanner, FindsTheModuleAtItsSpeedAndAddressThroughGarbage) {
    struct Case {
        const char* name;
        ScanPlan plan;
        bool openBefore;
        int tries;                  // requests until the answer, from the order
        const char* delayMs = "0";  // the module's reply time
    };
    const std::vector<Case> cases = {
        // 9600 first (garbage), then 4800, the nearest slower speed: one slip of the speed.
        // A wide margin keeps a loaded machine from missing an answer.
        {"address right, speed wrong", {2, 37, {}, false, 150}, true, 2},
        // Every speed at address 30, then 0 to 37 at 4800: one slip of the address.
        {"speed right, address wrong", {1, 30, {}, false, 150}, false, 6 + 37},
        // Both slipped, at the margin the search uses: address 36 at both speeds, every address
        // at 9600 (garbage for each), then 0 to 37 at 4800.
        {"both wrong, two speeds", {2, 36, {1, 2}, false}, false, 2 + 255 + 37},
        // A module slower than the margin: its reading comes during the next try (38), and 37
        // is asked once more with a long wait.
        {"answer later than the margin", {1, 30, {}, false}, false, 6 + 37 + 2, "60"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatorProcess sim(MODULESIM_PATH,
                             {"--speed", "4800", "--address", "37", "--garbage-on-mismatch",
                              "--fixed", "1,2,3", "--delay", c.delayMs});
        const auto device = sim.ReadLine(10s);
        ASSERT_TRUE(device);
        ModuleSession session;
        session.selectDevice(QString::fromStdString(*device));
        if (c.openBefore)
            ASSERT_EQ(session.open(2), std::nullopt);
        ModuleScanner scanner(session);
        Heard heard;
        Listen(scanner, session, heard);
        ASSERT_EQ(scanner.start(c.plan), std::nullopt);
        ASSERT_TRUE(WaitFor([&] { return !heard.finished.empty(); }, 120000));
        const ScanResult& result = heard.finished.front();
        EXPECT_EQ(result.end, ScanEnd::Found);
        EXPECT_EQ(result.found, (std::vector<ScanTry>{{1, 37}}));
        EXPECT_EQ(heard.found, result.found);
        // At the search's own margin a busy machine may read an answer late: the address is
        // then asked again after a try or two more.
        EXPECT_GE(result.tries, c.tries);
        EXPECT_LE(result.tries, c.tries + 2);
        EXPECT_TRUE(heard.failures.empty());
        EXPECT_TRUE(heard.heldThroughout);
        EXPECT_FALSE(session.serviceHeld());
        // An open line is left open at the speed found; a closed one is closed again.
        EXPECT_EQ(session.isOpen(), c.openBefore);
        if (c.openBefore) {
            EXPECT_EQ(session.speedIndex(), 1);
            // The module answers at once on the line as it was left.
            bool answered = false;
            QObject::connect(&session, &ModuleSession::answerReceived,
                             [&](quint8 address, quint8 code, const QByteArray&) {
                                 answered = answered || (address == 37 && code == 0x84);
                             });
            ASSERT_EQ(session.sendTo(CMD_READ, 37), std::nullopt);
            EXPECT_TRUE(WaitFor([&] { return answered; }, 5000));
        }
        // Garbage came (the received text holds more than the answer's line) and never counted.
        EXPECT_GT(session.log().receivedText().size(), std::string("68 0D 25 84 ").size() * 4)
            << session.log().receivedText();
        sim.Stop();
    }
}

// A pseudo-terminal as the bus: real modules at 5, 37 and 200; at 100 a module answering with
// another address, at 150 a reading with a bad checksum, at 4 only half a frame (just before a real
// one). Every request seen is kept, so that nothing but the search's own can have gone out.
class Bus : public ::testing::Test {
protected:
    void SetUp() override {
        session.selectDevice(QString::fromStdString(pty.SlavePath()));
        Listen(scanner, session, heard);
    }

    // Answers what has arrived; true once `done` holds.
    bool Serve() {
        for (std::uint8_t byte : pty.Read(1ms, 0ms))
            pending.push_back(byte);
        while (pending.size() >= 5) {
            const std::vector<std::uint8_t> request(pending.begin(), pending.begin() + 5);
            pending.erase(pending.begin(), pending.begin() + 5);
            requests.push_back(Hex(request));
            const int address = request[2];
            auto reading =
                ModuleFrame(0x84, {0x00, 0x01, 0x00, 0x00, 0x02, 0x00, 0x03, 0x00, 0x00});
            auto from = [&reading](int a) {
                reading[2] = static_cast<std::uint8_t>(a);
                std::uint8_t sum = 0;
                for (std::size_t i = 1; i + 1 < reading.size(); ++i)
                    sum = static_cast<std::uint8_t>(sum + reading[i]);
                reading.back() = sum;
            };
            if (address == 5 || address == 37 || address == 200) {
                from(address);
                pty.Write(reading);
            } else if (address == 100) {
                from(101);
                pty.Write(reading);
            } else if (address == 150) {
                from(150);
                reading.back() ^= 1;
                pty.Write(reading);
            } else if (address == 4) {
                from(4);
                pty.Write(std::vector<std::uint8_t>(reading.begin(), reading.begin() + 6));
            }
        }
        return false;
    }
    bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
        return WaitFor([&] { return Serve() || done(); }, timeoutMs);
    }

    Pty pty;
    ModuleSession session;
    ModuleScanner scanner{session};
    Heard heard;
    std::vector<std::uint8_t> pending;
    std::vector<std::string> requests;
};

TEST_F(Bus, WholeBusListsEveryModuleThatAnswersAndOnlyThem) {
    ASSERT_EQ(session.open(5), std::nullopt);
    // Polling on and the service tick running: the search must have the line to itself.
    session.setPolling(true);
    session.start();
    // A margin that the loaded machine's scheduling cannot exceed, at the fastest speed.
    const ScanPlan plan{5, 37, {5}, true, 80};
    ASSERT_EQ(scanner.start(plan), std::nullopt);
    ASSERT_TRUE(RunUntil([&] { return !heard.finished.empty(); }, 120000));
    const ScanResult& result = heard.finished.front();
    EXPECT_EQ(result.end, ScanEnd::Found);
    EXPECT_EQ(result.found, (std::vector<ScanTry>{{5, 37}, {5, 5}, {5, 200}}));
    EXPECT_EQ(result.tries, 256);
    // The requests on the line are the search's, one per address, in its order.
    std::vector<std::string> expected;
    for (const ScanTry& t : ScanOrder(plan)) {
        const auto address = static_cast<std::uint8_t>(t.address);
        expected.push_back(
            Hex({0x68, 0x04, address, 0x04, static_cast<std::uint8_t>(0x08 + address)}));
    }
    session.stop();
    EXPECT_EQ(requests, expected);
    EXPECT_TRUE(session.isOpen());
    EXPECT_FALSE(session.serviceHeld());
}

TEST_F(Bus, CancelEndsTheSearchAndNothingMoreIsSent) {
    ScanPlan plan{2, 10, {}, false};
    ASSERT_EQ(scanner.start(plan), std::nullopt);
    ASSERT_TRUE(RunUntil([&] { return heard.progress >= 3; }, 10000));
    scanner.cancel();
    ASSERT_EQ(heard.finished.size(), 1u);
    EXPECT_EQ(heard.finished.front().end, ScanEnd::Cancelled);
    const std::size_t sent = requests.size() + pending.size() / 5;
    EXPECT_LE(sent, 5u);
    // Quiet for well over the longest wait of a try: nothing more went out.
    RunUntil([] { return false; }, 4 * AnswerWaitMs(0));
    EXPECT_EQ(requests.size(), sent);
    EXPECT_FALSE(session.isOpen());  // closed before, closed after
    EXPECT_EQ(heard.finished.size(), 1u);
}

TEST_F(Bus, ADeviceLostEndsTheSearchWithOneFailure) {
    ScanPlan plan{2, 10, {}, false};
    ASSERT_EQ(scanner.start(plan), std::nullopt);
    ASSERT_TRUE(RunUntil([&] { return heard.progress >= 2; }, 10000));
    pty.CloseMaster();
    ASSERT_TRUE(WaitFor([&] { return !heard.finished.empty(); }, 10000));
    ServeEvents();
    ASSERT_EQ(heard.failures.size(), 1u);
    EXPECT_TRUE(heard.failures.front().contains(QStringLiteral("has gone away during the search")))
        << heard.failures.front().toStdString();
    EXPECT_EQ(heard.finished.size(), 1u);
    EXPECT_EQ(heard.finished.front().end, ScanEnd::Failed);
    EXPECT_FALSE(session.isOpen());
    EXPECT_FALSE(session.serviceHeld());
}

TEST(ModuleScannerOrder, StartFirstThenOneSlipThenTheRest) {
    const std::vector<ScanTry> order = ScanOrder({2, 37, {}, false});
    ASSERT_EQ(order.size(), 6u * 256u);
    std::set<std::pair<int, int>> distinct;
    for (const ScanTry& t : order)
        distinct.insert({t.speedIndex, t.address});
    EXPECT_EQ(distinct.size(), 6u * 256u);  // each try once
    const std::vector<ScanTry> head(order.begin(), order.begin() + 7);
    EXPECT_EQ(head,
              (std::vector<ScanTry>{{2, 37}, {1, 37}, {3, 37}, {0, 37}, {4, 37}, {5, 37}, {2, 0}}));
    EXPECT_EQ(order[6 + 255], (ScanTry{1, 0}));  // then the nearest speed, every address
    // The answer waits: the wire time of 19 bytes at ten bits a byte, plus the margin.
    EXPECT_EQ(AnswerWaitMs(0), 80 + kAnswerMarginMs);
    EXPECT_EQ(AnswerWaitMs(5), 2 + kAnswerMarginMs);
}

}  // namespace
