// The serial line under the session: the speeds and line settings, bytes unchanged both ways,
// what a closed line and a failed open say, a device that vanishes, and bytes that arrive while
// a receiver waits in a modal loop.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "ModuleSession.h"
#include "Pty.h"
#include "ScopedEnv.h"
#include "SerialLine.h"
#include "WaitFor.h"

namespace {

QByteArray ToQt(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

// The state a device has before anyone configured it: line editing, echo, signals, flow
// control, line-end translation, 2 stop bits at 1200 bit/s. Opening must undo all of it.
void MakeCooked(int fd) {
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    tio.c_lflag |= ICANON | ECHO | ISIG;
    tio.c_iflag |= IXON | IXOFF | ICRNL;
    tio.c_oflag |= OPOST | ONLCR;
    tio.c_cflag |= CSTOPB;
    cfsetspeed(&tio, B1200);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
}

// The line as the module sees it: the master reports the slave's settings.
void ExpectRaw8N1(const Pty& pty, speed_t speed) {
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.MasterFd(), &tio), 0);
    EXPECT_EQ(std::pair(cfgetispeed(&tio), cfgetospeed(&tio)), std::pair(speed, speed));
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

// Reads at least n bytes at the device while serving Qt events.
std::vector<std::uint8_t> ReadFromDevice(Pty& pty, std::size_t n) {
    std::vector<std::uint8_t> out;
    WaitFor([&] {
        const auto got = pty.Read(std::chrono::milliseconds(0), std::chrono::milliseconds(0));
        out.insert(out.end(), got.begin(), got.end());
        return out.size() >= n;
    });
    return out;
}

std::string Text(const std::optional<LineFailure>& failure) {
    return failure ? failure->description.toStdString() : "(no failure)";
}

// A session on Com3, which names a pseudo-terminal left as another program would leave it.
class Line : public ::testing::Test {
protected:
    void SetUp() override {
        MakeCooked(pty.MasterFd());
        com3.Set(pty.SlavePath());
        ASSERT_EQ(session.selectPort(3), std::nullopt);
    }
    std::string SlaveLabel() const { return "Com3 (" + pty.SlavePath() + ")"; }

    Pty pty;
    ScopedEnv com3{"TORVA_COM3", std::nullopt};
    ModuleSession session;
};

TEST_F(Line, OpensRaw8N1AtTheSelectedSpeedAndNoSelectionKeepsTheSpeedInForce) {
    ASSERT_EQ(session.open(-1), std::nullopt);
    ExpectRaw8N1(pty, B9600);  // the first speed in force
    session.close();
    MakeCooked(pty.MasterFd());  // as another program may leave it while the port is closed
    ASSERT_EQ(session.open(5), std::nullopt);
    ExpectRaw8N1(pty, B115200);
    session.close();
    pty.Write(Bytes({0x68, 0x0D, 0x00}));       // waiting before the open: never an answer
    ASSERT_EQ(session.open(-1), std::nullopt);  // the speed survives the close
    ExpectRaw8N1(pty, B115200);
    ServeEvents();
    EXPECT_EQ(session.log().receivedText() + session.log().frameHex(), "")
        << "bytes that waited before the open were taken";
    session.close();
    for (const auto& [index, speed] :
         {std::pair{0, B2400}, {1, B4800}, {2, B9600}, {3, B19200}, {4, B38400}}) {
        ASSERT_EQ(session.open(index), std::nullopt);
        ExpectRaw8N1(pty, speed);
        session.close();
    }
}

TEST_F(Line, EveryByteValueCrossesUnchangedBothWays) {
    SerialLine line;
    QByteArray received;
    std::vector<int> announcedEmpty;
    QObject::connect(&line, &SerialLine::bytesWaiting, [&] {
        const QByteArray input = line.readAll();
        if (input.isEmpty())
            announcedEmpty.push_back(1);  // announced only while bytes are waiting
        EXPECT_LE(input.size(), 1024);    // a read takes at most the input buffer
        received += input;
    });
    ASSERT_EQ(line.open(QString::fromStdString(pty.SlavePath()), 115200), std::nullopt);
    std::vector<std::uint8_t> burst(3000);
    for (std::size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<std::uint8_t>(i * 7);
    pty.Write(burst);
    ASSERT_TRUE(WaitFor([&] { return received.size() >= qsizetype(burst.size()); }));
    ServeEvents();
    EXPECT_EQ(received, ToQt(burst));
    EXPECT_TRUE(announcedEmpty.empty());

    std::vector<std::uint8_t> out(256);
    std::iota(out.begin(), out.end(), 0);
    ASSERT_EQ(line.write(out), std::nullopt);
    const auto frame = Bytes({0x68, 0x05, 0x00, 0x0C, 0x00, 0x11, 0xA5});
    ASSERT_EQ(line.write(std::span(frame).first(6)), std::nullopt);
    ASSERT_EQ(line.write(std::span(frame).last(1)), std::nullopt);  // anything extra comes first
    out.insert(out.end(), frame.begin(), frame.end());
    EXPECT_EQ(Hex(ReadFromDevice(pty, out.size())), Hex(out));
}

// What a closed line, a port that is no port, and devices that are missing, held or not ours
// say: the port, the device and the reason, and the line stays closed.
TEST_F(Line, AClosedLineRefusesSendsAndFailedOpensNameThePortTheDeviceAndWhy) {
    ModuleSession none;
    EXPECT_EQ(Text(none.open(2)),
              "Port number 0 is not a valid port: choose one of Com1 to Com20.");
    for (const int bad : {0, 21}) {
        EXPECT_EQ(Text(session.selectPort(bad)),
                  "Port number " + std::to_string(bad) +
                      " is not a valid port: choose one of Com1 to Com20.");
        EXPECT_EQ(session.port(), 3);
    }
    EXPECT_EQ(Text(session.send(CMD_READ)), SlaveLabel() + " is not open.");
    EXPECT_EQ(session.log().sendText(), "") << "nothing went out, nothing is logged";

    ASSERT_EQ(session.open(5), std::nullopt);
    EXPECT_EQ(Text(session.open(5)), SlaveLabel() + " is already open.");
    pty.Write(Bytes({1, 2, 3}));
    session.close();
    session.close();  // closing a closed line is fine
    ServeEvents();
    EXPECT_EQ(session.log().receivedText(), "") << "bytes of a closed line were taken";

    {
        QSerialPort other;
        other.setPortName(QString::fromStdString(pty.SlavePath()));
        ASSERT_TRUE(other.open(QIODevice::ReadWrite));
        EXPECT_EQ(Text(session.open(5)),
                  "Cannot open " + SlaveLabel() +
                      ": the device is in use by another program (the port is busy).");
        EXPECT_FALSE(session.isOpen());
    }
    const std::string missing = "/dev/torva-missing-" + std::to_string(::getpid());
    com3.Set(missing);
    EXPECT_EQ(Text(session.open(5)), "Cannot open Com3 (" + missing + "): no such device.");
    com3.Set("/dev/null");  // not a serial device
    EXPECT_NE(Text(session.open(5)).find("Cannot open Com3 (/dev/null): "), std::string::npos);
    EXPECT_FALSE(session.isOpen());
    // Released and present again: the same port opens, and a device chosen by path is named by
    // its path.
    com3.Set(pty.SlavePath());
    ASSERT_EQ(session.open(5), std::nullopt);
    session.close();
    session.selectDevice(QString::fromStdString(missing));
    EXPECT_EQ(Text(session.open(5)), "Cannot open " + missing + ": no such device.");
}

// A device without access rights for the user names the group that gives them. As root, whom
// nothing stops, the open is tried as user nobody in a child process.
TEST_F(Line, ADeviceWithoutPermissionNamesTheDeviceAndTheGroup) {
    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0), 0);
    const auto tryOpen = [this] { return Text(session.open(5)); };
    if (::geteuid() != 0) {
        const std::string text = tryOpen();
        EXPECT_NE(text.find(pty.SlavePath() + "): permission denied"), std::string::npos) << text;
        EXPECT_NE(text.find("dialout"), std::string::npos) << text;
        return;
    }
    const passwd* user = ::getpwnam("nobody");
    if (user == nullptr)
        GTEST_SKIP() << "running as root and no unprivileged user to run the open as";
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(out[0]);
        int status = 3;
        if (::setgroups(0, nullptr) == 0 && ::setgid(user->pw_gid) == 0 &&
            ::setuid(user->pw_uid) == 0) {
            const std::string text = tryOpen();
            status = session.isOpen() ? 1 : 0;
            [[maybe_unused]] const auto n = ::write(out[1], text.data(), text.size());
        }
        ::_exit(status);  // no leak check: it cannot inspect a process that changed its user
    }
    ::close(out[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "cannot switch to user nobody";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the line opened: " << text;
    EXPECT_NE(text.find(pty.SlavePath() + "): permission denied"), std::string::npos) << text;
    EXPECT_NE(text.find("dialout"), std::string::npos) << text;
}

// The device vanishes while idle, or while a send writes into the dead line.
class Vanish : public Line, public ::testing::WithParamInterface<bool> {};

TEST_P(Vanish, ClosesReportsOnceAndReopensWhenBack) {
    int lost = 0, taken = 0;
    bool openWhenLost = true;
    QObject::connect(&session, &ModuleSession::deviceLost, [&](const QString&) {
        ++lost;
        openWhenLost = session.isOpen();
    });
    QObject::connect(&session, &ModuleSession::inputTaken, [&] { ++taken; });
    ASSERT_EQ(session.open(5), std::nullopt);
    pty.Write(Bytes({0x01}));
    ASSERT_TRUE(WaitFor([&] { return taken > 0; }));
    pty.CloseMaster();
    if (GetParam())
        (void)session.send(CMD_READ);
    ASSERT_TRUE(WaitFor([&] { return lost > 0; }));
    EXPECT_FALSE(openWhenLost);  // closed before anyone hears of it
    // Nothing more comes: not another report, not another read.
    const int takenBefore = taken;
    WaitFor([&] { return lost > 1 || taken > takenBefore; }, 200);
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(taken, takenBefore);
    EXPECT_EQ(Text(session.send(CMD_READ)), SlaveLabel() + " is not open.");

    Pty back;  // replugged, perhaps under a new name
    com3.Set(back.SlavePath());
    ASSERT_EQ(session.open(-1), std::nullopt);
    ExpectRaw8N1(back, B115200);
    ASSERT_EQ(session.send(CMD_READ), std::nullopt);
    EXPECT_EQ(Hex(ReadFromDevice(back, 5)), "68 04 00 04 08");
}

INSTANTIATE_TEST_SUITE_P(Session, Vanish, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "WhileSending" : "WhileIdle");
});

TEST_F(Line, ALineDestroyedWithAReportPendingIsSafe) {
    auto line = std::make_unique<SerialLine>();
    ASSERT_EQ(line->open(QString::fromStdString(pty.SlavePath()), 0), std::nullopt);
    pty.CloseMaster();
    // Stop as soon as the line has closed: the report is then still queued.
    ASSERT_TRUE(WaitFor([&] { return !line->isOpen(); }));
    line.reset();
    ServeEvents();  // under the sanitizers, a report reaching the dead line would show
}

// A receiver that waits in a modal loop of its own (a box) still hears of bytes that arrive
// meanwhile, inside that loop, with no further traffic.
TEST_F(Line, BytesArrivingDuringAModalLoopAreAnnouncedInsideIt) {
    SerialLine line;
    const QByteArray both = ToQt(Bytes({0x68, 0x0D, 0x00, 0x84, 0x00, 0x12}));
    QByteArray received;
    bool nested = false;
    std::optional<QByteArray> afterLoop;
    QEventLoop* modal = nullptr;
    QObject::connect(&line, &SerialLine::bytesWaiting, [&] {
        received += line.readAll();
        if (modal) {
            nested = nested || received == both;
            if (nested)
                modal->quit();
        } else if (!afterLoop) {
            // The first announcement shows a "box"; the device answers meanwhile.
            QEventLoop loop;
            modal = &loop;
            QTimer::singleShot(0, &loop, [&] { pty.Write(Bytes({0x84, 0x00, 0x12})); });
            QTimer::singleShot(3000, &loop, &QEventLoop::quit);
            loop.exec();
            modal = nullptr;
            afterLoop = received;
        }
    });
    ASSERT_EQ(line.open(QString::fromStdString(pty.SlavePath()), 9600), std::nullopt);
    pty.Write(Bytes({0x68, 0x0D, 0x00}));
    ASSERT_TRUE(WaitFor([&] { return afterLoop.has_value(); }, 5000));
    EXPECT_TRUE(nested);
    EXPECT_EQ(*afterLoop, both);
}

}  // namespace
