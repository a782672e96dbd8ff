// Following a replugged adapter: the session waits for the adapter it opened, by serial number,
// else link, else path, in an inventory the test hands it, and opens it again at the same speed
// with polling and the record carrying on; another adapter in its place is never opened.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ModuleFrame.h"
#include "ModuleSession.h"
#include "Pty.h"
#include "WaitFor.h"

namespace {

SerialDevice Device(const std::string& path, const char* serial, QStringList links = {}) {
    SerialDevice device;
    device.path = QString::fromStdString(path);
    device.serialNumber = QString::fromLatin1(serial);
    device.links = std::move(links);
    device.access = DeviceAccess::Free;
    return device;
}

std::string ReadFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A session on Com1 with reopening on, polling, at 4800 bit/s. The machine's inventory is
// `devices`, which the test changes as adapters come and go; `events` notes the session's
// signals about the line, in order.
class Replug : public ::testing::Test {
protected:
    void SetUp() override {
        session.setDeviceInventory([this] { return devices; });
        session.setReopenOnReturn(true);
        session.setPolling(true);
        QObject::connect(&session, &ModuleSession::deviceLost,
                         [this](const QString&) { events.push_back("lost"); });
        QObject::connect(&session, &ModuleSession::waitingForAdapter,
                         [this](const QString&) { events.push_back("waiting"); });
        QObject::connect(&session, &ModuleSession::adapterReturned, [this](const QString& d) {
            events.push_back("returned " + d.toStdString());
        });
        QObject::connect(&session, &ModuleSession::differentAdapter,
                         [this](const QString& why) { events.push_back(why.toStdString()); });
        QObject::connect(&session, &ModuleSession::reopenFailed,
                         [this](const QString& why) { events.push_back(why.toStdString()); });
    }
    // Opens Com1, named `name` in the port map, with `before` as the machine's devices.
    void Open(const QString& name, QList<SerialDevice> before) {
        devices = std::move(before);
        session.portMap().Choose(1, name);
        ASSERT_EQ(session.selectPort(1), std::nullopt);
        ASSERT_EQ(session.open(1), std::nullopt);  // 4800 bit/s
    }
    // The first adapter vanishes; the session is waiting once it has heard.
    void Unplug() {
        first->CloseMaster();
        devices.clear();
        ASSERT_TRUE(WaitFor([&] { return !events.empty(); }, 5000)) << "the loss was not heard";
        ASSERT_EQ(events, std::vector<std::string>{"waiting"});
        events.clear();
        EXPECT_TRUE(session.isWaitingForAdapter());
        EXPECT_FALSE(session.isOpen());
        EXPECT_TRUE(session.polling());
    }
    // The link now points at the second pseudo-terminal, as the simulator's replug leaves it.
    void Repoint(const QString& link) {
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(QString::fromStdString(second.SlavePath()), link));
    }
    // A service tick's read request reaches the second adapter at 4800 bit/s.
    void ExpectPollingOnSecond() {
        termios tio{};
        ASSERT_EQ(tcgetattr(second.MasterFd(), &tio), 0);
        EXPECT_EQ(cfgetospeed(&tio), B4800);
        session.serviceTick();
        EXPECT_EQ(Hex(second.ReadExactly(5)), "68 04 00 04 08");
    }

    std::unique_ptr<Pty> first = std::make_unique<Pty>();
    Pty second;
    QTemporaryDir dir;
    QList<SerialDevice> devices;
    ModuleSession session;
    std::vector<std::string> events;
};

TEST_F(Replug, OnlyTheSameAdapterIsOpenedAgain) {
    const std::string two = second.SlavePath();
    const QString link = dir.filePath(QStringLiteral("module"));
    enum class Outcome { Returned, Different, Busy, Nothing };
    // Where a device sits: the first pseudo-terminal or the second; with the link to it or not.
    struct Place {
        bool second;
        const char* serial;
        bool linked;
    };
    const struct {
        const char* what;
        bool byLink;  // Com1 names the link, else the first device's path
        Place before;
        std::optional<Place> after;
        Outcome outcome;
    } cases[] = {
        {"same serial number at a new path",
         false,
         {false, "A1", false},
         Place{true, "A1", false},
         Outcome::Returned},
        {"same link, a new pseudo-terminal behind it",
         true,
         {false, "", true},
         Place{true, "", true},
         Outcome::Returned},
        {"another serial number at the same path",
         false,
         {false, "A1", false},
         Place{false, "B2", false},
         Outcome::Different},
        {"same serial number, held by another program until it lets go",
         false,
         {false, "A1", false},
         Place{true, "A1", false},
         Outcome::Busy},
        {"not back yet", false, {false, "A1", false}, std::nullopt, Outcome::Nothing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        first = std::make_unique<Pty>();
        const std::string one = first->SlavePath();
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(QString::fromStdString(one), link));
        auto device = [&](const Place& place) {
            return Device(place.second ? two : one, place.serial,
                          place.linked ? QStringList{link} : QStringList{});
        };
        Open(c.byLink ? link : QString::fromStdString(one), {device(c.before)});
        Unplug();
        devices.clear();
        if (c.after)
            devices.append(device(*c.after));
        if (c.after && c.after->second && c.after->linked)
            Repoint(link);
        QSerialPort other(QString::fromStdString(two));
        if (c.outcome == Outcome::Busy) {
            ASSERT_TRUE(other.open(QIODevice::ReadWrite));
            session.lookForAdapter();
            session.lookForAdapter();  // said once
            ASSERT_EQ(events.size(), 1u);
            EXPECT_EQ(events[0].rfind(
                          "Com1 (" + one + ") is back as " + two + " but cannot be opened: ", 0),
                      0u)
                << events[0];
            EXPECT_FALSE(session.isOpen());
            events.clear();
            other.close();
        }
        session.lookForAdapter();
        session.lookForAdapter();  // a second look says nothing more
        std::vector<std::string> expected;
        if (c.outcome == Outcome::Returned || c.outcome == Outcome::Busy)
            expected.push_back("returned " + (c.byLink ? link.toStdString() : two));
        if (c.outcome == Outcome::Different)
            expected.push_back("Com1 (" + one + "): " + one +
                               " is an adapter with serial number B2, not the adapter with "
                               "serial number A1.");
        EXPECT_EQ(events, expected);
        const bool reopened = c.outcome == Outcome::Returned || c.outcome == Outcome::Busy;
        EXPECT_EQ(session.isOpen(), reopened);
        EXPECT_EQ(session.isWaitingForAdapter(), !reopened);
        if (reopened)
            ExpectPollingOnSecond();
        session.close();
        EXPECT_FALSE(session.isWaitingForAdapter());
        events.clear();
    }
}

TEST_F(Replug, TheRecordStaysOneFileWithEveryFrameOnceInOrder) {
    Open(QString::fromStdString(first->SlavePath()), {Device(first->SlavePath(), "A1")});
    ASSERT_EQ(session.startRecording(dir.path().toStdString()), RecordStart::Started);
    const QString record = QString::fromStdString(session.recorder().FilePath());
    const auto before = ModuleFrame(0x86, {0x01});
    const auto after = ModuleFrame(0x86, {0x02});
    first->Write(before);
    first->Write(Bytes({0x68, 0x0D, 0x00, 0x84}));  // cut off by the unplug
    ASSERT_TRUE(WaitFor([&] { return session.log().frameHex() == "68 0D 00 84 "; }));
    Unplug();
    devices = {Device(second.SlavePath(), "A1")};
    // The session's own look finds it, without being asked.
    ASSERT_TRUE(WaitFor([&] { return session.isOpen(); }, 5000));
    EXPECT_TRUE(session.recorder().IsRecording());
    second.Write(after);
    ASSERT_TRUE(WaitFor(
        [&] { return session.log().receivedText().find(Hex(after)) != std::string::npos; }));
    ASSERT_EQ(session.stopRecording(), RecordStop::Stopped);
    // The fragment stays in front of the next frame as a rejected piece does; the frame after
    // it is a frame of its own, not the fragment's missing bytes.
    const std::string frames =
        Hex(before) + " \r\n" + "68 0D 00 84 " + Hex(after) + " \r\nEnd Date: ";
    EXPECT_NE(ReadFile(record).find(frames), std::string::npos) << ReadFile(record);
}

TEST_F(Replug, ClosingOrSwitchingOffEndsTheWait) {
    for (const bool switchOff : {false, true}) {
        SCOPED_TRACE(switchOff ? "switched off" : "closed");
        first = std::make_unique<Pty>();
        Open(QString::fromStdString(first->SlavePath()), {Device(first->SlavePath(), "A1")});
        Unplug();
        if (switchOff)
            session.setReopenOnReturn(false);
        else
            session.close();
        EXPECT_EQ(events,
                  switchOff ? std::vector<std::string>{"lost"} : std::vector<std::string>{});
        EXPECT_FALSE(session.isWaitingForAdapter());
        devices = {Device(second.SlavePath(), "A1")};
        session.lookForAdapter();
        EXPECT_FALSE(session.isOpen());
        session.setReopenOnReturn(true);
        events.clear();
    }
    // With reopening off from the start, a loss is said as before and nothing is awaited.
    session.setReopenOnReturn(false);
    first = std::make_unique<Pty>();
    Open(QString::fromStdString(first->SlavePath()), {Device(first->SlavePath(), "A1")});
    first->CloseMaster();
    ASSERT_TRUE(WaitFor([&] { return !events.empty(); }, 5000));
    EXPECT_EQ(events, std::vector<std::string>{"lost"});
    EXPECT_FALSE(session.isWaitingForAdapter());
}

}  // namespace
