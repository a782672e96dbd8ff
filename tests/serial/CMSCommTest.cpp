#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "CMSComm.h"
#include "Dialog.h"
#include "Exception.h"
#include "Pty.h"
#include "TestSink.h"
#include "WaitFor.h"

namespace {

constexpr int kCommId = 1004;

DialogTemplate CommTemplate() {
    DialogTemplate t;
    t.caption = QStringLiteral("Comm");
    t.cx = 60;
    t.cy = 30;
    t.fontFace = QStringLiteral("Arial");
    ControlSpec comm;
    comm.id = kCommId;
    comm.kind = ControlKind::Hidden;
    t.controls.push_back(comm);
    return t;
}

// A window that owns the adapter as the console's window does: attached by the first data
// exchange, its notifications arriving through the handler table.
class CommDialog : public CDialogBase {
public:
    CommDialog() : CDialogBase(CommTemplate()) {
        Bind(kCommId, Notification::CommEvent, [this] { OnComm(); });
        Bind(kCommId, Notification::DeviceLost, [this] { OnDeviceLost(); });
    }
    ~CommDialog() override { DestroyWindow(); }

    CMSComm m_ctrlComm;

    // Receive notifications: the code seen, and what each read returned.
    std::vector<short> codes;
    std::vector<QByteArray> reads;
    QByteArray received;
    std::function<void()> afterRead;  // runs inside the handler after its read

    int lost = 0;
    bool openWhenLost = true;
    QString deviceWhenLost;

protected:
    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, kCommId, m_ctrlComm); }

private:
    void OnComm() {
        codes.push_back(m_ctrlComm.GetCommEvent());
        if (m_ctrlComm.GetCommEvent() != comEvReceive)
            return;
        const QByteArray input = m_ctrlComm.GetInput();
        reads.push_back(input);
        received += input;
        if (afterRead)
            afterRead();
    }
    void OnDeviceLost() {
        ++lost;
        openWhenLost = m_ctrlComm.GetPortOpen();
        deviceWhenLost = m_ctrlComm.DevicePath();
    }
};

std::vector<std::uint8_t> AllByteValues() {
    std::vector<std::uint8_t> out(256);
    for (int i = 0; i < 256; ++i)
        out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    return out;
}

QByteArray ToByteArray(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

// Puts the device into the state a serial device has before any program configured it:
// line editing, echo, signals, flow control, line-end translation, 2 stop bits at 1200 bit/s.
// The adapter must undo all of it at the open. (A pseudo-terminal keeps 8 data bits without
// parity whatever is asked, so those cannot be set here.)
void MakeCooked(int fd) {
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0) << std::strerror(errno);
    tio.c_lflag |= ICANON | ECHO | ISIG;
    tio.c_iflag |= IXON | IXOFF | ICRNL;
    tio.c_oflag |= OPOST | ONLCR;
    tio.c_cflag |= CSTOPB;
    cfsetispeed(&tio, B1200);
    cfsetospeed(&tio, B1200);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0) << std::strerror(errno);
}

// The device's line state as the module sees it (the master reports the slave's termios).
void ExpectLine(const Pty& pty, speed_t speed) {
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.MasterFd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), speed);
    EXPECT_EQ(cfgetispeed(&tio), speed);
    // Always so on a pseudo-terminal; they matter when this runs against a real adapter.
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & PARENB, 0u);
    EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

// Reads n bytes from the master side while serving Qt events (the adapter writes from the
// event loop); returns what came before the deadline.
std::vector<std::uint8_t> ReadFromDevice(const Pty& pty, std::size_t n, int timeoutMs = 2000) {
    std::vector<std::uint8_t> out;
    WaitFor(
        [&] {
            pollfd p{pty.MasterFd(), POLLIN, 0};
            while (out.size() < n && ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
                std::uint8_t buf[512];
                const ssize_t got =
                    ::read(pty.MasterFd(), buf, std::min(sizeof buf, n - out.size()));
                if (got <= 0)
                    break;
                out.insert(out.end(), buf, buf + got);
            }
            return out.size() >= n;
        },
        timeoutMs);
    return out;
}

std::string Describe(const std::function<void()>& action) {
    try {
        action();
    } catch (const CControlException& error) {
        return error.Description();
    }
    return "(no error)";
}

class CommTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakeCooked(m_pty.MasterFd());
        qputenv("TORVA_COM3", QByteArray::fromStdString(m_pty.SlavePath()));
        m_dlg = std::make_unique<CommDialog>();
        m_dlg->Create();
        ASSERT_TRUE(comm().IsAttached());
    }

    CMSComm& comm() { return m_dlg->m_ctrlComm; }
    CommDialog& dlg() { return *m_dlg; }

    void Open(const std::optional<QString>& settings = std::nullopt) {
        comm().SetCommPort(3);
        if (settings)
            comm().SetSettings(*settings);
        comm().SetPortOpen(true);
        ASSERT_TRUE(comm().GetPortOpen());
    }

    // Sends bytes from the device and waits until the window has read that many in total.
    bool DeviceSends(const std::vector<std::uint8_t>& bytes, Pty* pty = nullptr) {
        const qsizetype want = dlg().received.size() + static_cast<qsizetype>(bytes.size());
        (pty ? *pty : m_pty).Write(bytes);
        return WaitFor([&] { return dlg().received.size() >= want; });
    }

    TestSink m_sink;  // adapter errors escaping a handler are recorded, never shown
    Pty m_pty;
    std::unique_ptr<CommDialog> m_dlg;
};

// --- Line settings ------------------------------------------------------------------------

struct LineCase {
    const char* name;
    std::function<void(CMSComm&, const Pty&)> steps;
    speed_t speed;
};

class LineSettingsTest : public CommTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LineSettingsTest, DeviceRunsRaw8N1AtTheSelectedSpeed) {
    comm().SetCommPort(3);
    GetParam().steps(comm(), m_pty);
    ASSERT_TRUE(comm().GetPortOpen());
    ExpectLine(m_pty, GetParam().speed);
}

INSTANTIATE_TEST_SUITE_P(
    Serial, LineSettingsTest,
    ::testing::Values(LineCase{"DefaultIs9600", [](CMSComm& c, const Pty&) { c.SetPortOpen(true); },
                               B9600},
                      LineCase{"SetWhileClosedAppliesAtOpen",
                               [](CMSComm& c, const Pty&) {
                                   c.SetSettings(QStringLiteral("115200,n,8,1"));
                                   c.SetPortOpen(true);
                               },
                               B115200},
                      LineCase{"SetWhileOpenAppliesAtOnce",
                               [](CMSComm& c, const Pty&) {
                                   c.SetPortOpen(true);
                                   c.SetSettings(QStringLiteral("38400,n,8,1"));
                               },
                               B38400},
                      LineCase{"SurviveCloseAndReopen",
                               [](CMSComm& c, const Pty& pty) {
                                   c.SetSettings(QStringLiteral("2400,n,8,1"));
                                   c.SetPortOpen(true);
                                   c.SetPortOpen(false);
                                   // Another program leaves the device cooked in between.
                                   const int other =
                                       ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
                                   ASSERT_GE(other, 0);
                                   MakeCooked(other);
                                   ::close(other);
                                   c.SetPortOpen(true);
                               },
                               B2400},
                      LineCase{"LastSetWins",
                               [](CMSComm& c, const Pty&) {
                                   c.SetSettings(QStringLiteral("4800,n,8,1"));
                                   c.SetSettings(QStringLiteral("19200,n,8,1"));
                                   c.SetPortOpen(true);
                               },
                               B19200}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SerialSettings, AcceptsExactlyTheSixStrings) {
    CMSComm comm;
    for (const char* valid :
         {"2400,n,8,1", "4800,n,8,1", "9600,n,8,1", "19200,n,8,1", "38400,n,8,1", "115200,n,8,1"}) {
        EXPECT_NO_THROW(comm.SetSettings(QString::fromLatin1(valid))) << valid;
        EXPECT_EQ(comm.GetSettings(), QString::fromLatin1(valid));
    }
    for (const char* invalid :
         {"9600,N,8,1", "9600,n,8,2", "9600,e,8,1", "9600,n,7,1", "1200,n,8,1", "57600,n,8,1",
          "9600", "9600,n,8,1,", " 9600,n,8,1", "", "abc"}) {
        EXPECT_THROW(comm.SetSettings(QString::fromLatin1(invalid)), CControlException)
            << '"' << invalid << '"';
        EXPECT_EQ(comm.GetSettings(), QStringLiteral("115200,n,8,1")) << invalid;
    }
}

// --- Data -------------------------------------------------------------------------------

TEST_F(CommTest, BytesWaitingBeforeTheOpenAreDiscarded) {
    m_pty.Write(Bytes({0x68, 0x0D, 0x00, 0x84, 0x0A, 0x11}));
    Open(QStringLiteral("9600,n,8,1"));
    // A marker sent after the open: stale bytes, if kept, would be read before it.
    ASSERT_TRUE(DeviceSends(Bytes({0x5A})));
    EXPECT_EQ(dlg().received, ToByteArray(Bytes({0x5A})));
}

TEST_F(CommTest, EveryByteValueArrivesUnchangedAndOnce) {
    Open(QStringLiteral("115200,n,8,1"));
    const auto all = AllByteValues();
    ASSERT_TRUE(DeviceSends(all));
    ServeEvents();
    EXPECT_EQ(dlg().received, ToByteArray(all));
    ASSERT_FALSE(dlg().codes.empty());
    for (short code : dlg().codes)
        EXPECT_EQ(code, comEvReceive);
    // A notification is only given while bytes are waiting.
    for (const QByteArray& read : dlg().reads)
        EXPECT_FALSE(read.isEmpty());
}

TEST_F(CommTest, EveryByteValueIsWrittenUnchanged) {
    Open(QStringLiteral("115200,n,8,1"));
    const auto all = AllByteValues();
    comm().SetOutput(all);
    EXPECT_EQ(ReadFromDevice(m_pty, all.size()), all);
}

TEST_F(CommTest, AFrameIsWrittenExactly) {
    Open(QStringLiteral("9600,n,8,1"));
    const auto frame = Bytes({0x68, 0x05, 0x00, 0x0C, 0x00, 0x11});
    comm().SetOutput(frame);
    comm().SetOutput(Bytes({0xA5}));  // a marker: anything extra would come before it
    auto expected = frame;
    expected.push_back(0xA5);
    EXPECT_EQ(Hex(ReadFromDevice(m_pty, expected.size())), Hex(expected));
}

TEST_F(CommTest, AReadTakesAtMostTheInputBuffer) {
    Open(QStringLiteral("115200,n,8,1"));
    std::vector<std::uint8_t> burst(3000);
    for (std::size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(DeviceSends(burst));
    EXPECT_EQ(dlg().received, ToByteArray(burst));
    for (const QByteArray& read : dlg().reads)
        EXPECT_LE(read.size(), 1024);
}

TEST_F(CommTest, ReadingAClosedPortGivesNothing) {
    EXPECT_TRUE(comm().GetInput().isEmpty());
    Open();
    m_pty.Write(Bytes({1, 2, 3}));
    comm().SetPortOpen(false);
    ServeEvents();
    EXPECT_TRUE(comm().GetInput().isEmpty());
    EXPECT_TRUE(dlg().codes.empty());
}

// --- Failures ---------------------------------------------------------------------------

struct OpenFailureCase {
    const char* device;
    const char* reason;  // expected in the description; "" when the system's own text is used
};

class OpenFailureTest : public CommTest, public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailureTest, ThrowsNamingPortDeviceAndReasonAndStaysClosed) {
    qputenv("TORVA_COM3", GetParam().device);
    comm().SetCommPort(3);
    const std::string text = Describe([this] { comm().SetPortOpen(true); });
    EXPECT_NE(text.find("Com3"), std::string::npos) << text;
    EXPECT_NE(text.find(GetParam().device), std::string::npos) << text;
    EXPECT_NE(text.find(GetParam().reason), std::string::npos) << text;
    EXPECT_FALSE(comm().GetPortOpen());
    EXPECT_NO_THROW(comm().SetPortOpen(false));
}

INSTANTIATE_TEST_SUITE_P(Serial, OpenFailureTest,
                         ::testing::Values(OpenFailureCase{"/dev/does-not-exist", "no such device"},
                                           OpenFailureCase{"/dev/null", ""}));

TEST_F(CommTest, DeviceWithoutAccessRightsNamesTheDialoutGroup) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may open any device";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("ttyLocked"));
    const int fd = ::open(path.toLocal8Bit().constData(), O_CREAT | O_WRONLY, 0);
    ASSERT_GE(fd, 0);
    ::close(fd);
    qputenv("TORVA_COM3", path.toLocal8Bit());
    comm().SetCommPort(3);
    const std::string text = Describe([this] { comm().SetPortOpen(true); });
    EXPECT_NE(text.find(path.toStdString()), std::string::npos) << text;
    EXPECT_NE(text.find("dialout"), std::string::npos) << text;
    EXPECT_FALSE(comm().GetPortOpen());
}

TEST_F(CommTest, APortHeldByAnotherAdapterIsInUse) {
    Open();
    CMSComm second;
    second.SetCommPort(3);
    const std::string text = Describe([&] { second.SetPortOpen(true); });
    EXPECT_NE(text.find("in use"), std::string::npos) << text;
    EXPECT_NE(text.find(m_pty.SlavePath()), std::string::npos) << text;
    EXPECT_FALSE(second.GetPortOpen());

    // The holder keeps working both ways.
    ASSERT_TRUE(comm().GetPortOpen());
    ASSERT_TRUE(DeviceSends(Bytes({0x42})));
    EXPECT_EQ(dlg().received, ToByteArray(Bytes({0x42})));
    comm().SetOutput(Bytes({0x24}));
    EXPECT_EQ(ReadFromDevice(m_pty, 1), Bytes({0x24}));

    // Once released, the port can be taken.
    comm().SetPortOpen(false);
    EXPECT_NO_THROW(second.SetPortOpen(true));
    EXPECT_TRUE(second.GetPortOpen());
}

TEST_F(CommTest, WritingWhileClosedThrowsNamingTheDevice) {
    comm().SetCommPort(3);
    const auto frame = Bytes({0x68, 0x04, 0x00, 0x04, 0x08});
    const std::string never = Describe([&] { comm().SetOutput(frame); });
    EXPECT_NE(never.find("Com3 (" + m_pty.SlavePath() + ") is not open"), std::string::npos)
        << never;

    Open();
    comm().SetPortOpen(false);
    const std::string closed = Describe([&] { comm().SetOutput(frame); });
    EXPECT_NE(closed.find("is not open"), std::string::npos) << closed;
}

TEST_F(CommTest, ClosingAClosedPortIsAccepted) {
    EXPECT_NO_THROW(comm().SetPortOpen(false));
    comm().SetCommPort(3);
    EXPECT_NO_THROW(comm().SetPortOpen(false));
    Open();
    comm().SetPortOpen(false);
    EXPECT_NO_THROW(comm().SetPortOpen(false));
    EXPECT_FALSE(comm().GetPortOpen());
    // And a closed port opens again.
    Open();
    ASSERT_TRUE(DeviceSends(Bytes({0x0D})));
}

// --- A device that vanishes -------------------------------------------------------------

struct VanishCase {
    const char* name;
    bool writeAfterVanishing;  // a poll tick writing into the dead port before events run
};

class VanishTest : public CommTest, public ::testing::WithParamInterface<VanishCase> {};

TEST_P(VanishTest, ClosesReportsOnceAndReopensWhenBack) {
    Open(QStringLiteral("115200,n,8,1"));
    ASSERT_TRUE(DeviceSends(Bytes({0x01})));
    const QString device = QString::fromStdString(m_pty.SlavePath());

    m_pty.CloseMaster();
    if (GetParam().writeAfterVanishing)
        comm().SetOutput(Bytes({0x68, 0x04, 0x00, 0x04, 0x08}));
    ASSERT_TRUE(WaitFor([&] { return dlg().lost > 0; }));
    EXPECT_FALSE(comm().GetPortOpen());
    EXPECT_FALSE(dlg().openWhenLost);  // closed before the window hears of it
    EXPECT_EQ(dlg().deviceWhenLost, device);

    // Nothing more comes: not another report, not a receive notification.
    const std::size_t codesBefore = dlg().codes.size();
    WaitFor([&] { return dlg().lost > 1 || dlg().codes.size() > codesBefore; }, 200);
    EXPECT_EQ(dlg().lost, 1);
    EXPECT_EQ(dlg().codes.size(), codesBefore);
    EXPECT_TRUE(m_sink.boxes.empty());
    EXPECT_THROW(comm().SetOutput(Bytes({0x00})), CControlException);

    // The device comes back (under a new name, as a replugged adapter may).
    Pty back;
    qputenv("TORVA_COM3", QByteArray::fromStdString(back.SlavePath()));
    comm().SetCommPort(3);
    comm().SetPortOpen(true);
    ASSERT_TRUE(comm().GetPortOpen());
    ExpectLine(back, B115200);
    ASSERT_TRUE(DeviceSends(Bytes({0x02, 0x03}), &back));
    EXPECT_EQ(dlg().received, ToByteArray(Bytes({0x01, 0x02, 0x03})));
    comm().SetOutput(Bytes({0x7E}));
    EXPECT_EQ(ReadFromDevice(back, 1), Bytes({0x7E}));
}

INSTANTIATE_TEST_SUITE_P(Serial, VanishTest,
                         ::testing::Values(VanishCase{"Idle", false},
                                           VanishCase{"WrittenTo", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SerialLifetime, AdapterDestroyedWithAReportPendingIsSafe) {
    TestSink sink;
    Pty pty;
    qputenv("TORVA_COM3", QByteArray::fromStdString(pty.SlavePath()));
    auto comm = std::make_unique<CMSComm>();
    comm->SetCommPort(3);
    comm->SetPortOpen(true);
    pty.CloseMaster();
    // One event round at a time, stopping as soon as the adapter has closed the port: its
    // report to the window is then still queued.
    QElapsedTimer clock;
    clock.start();
    while (comm->GetPortOpen() && clock.elapsed() < 2000)
        QCoreApplication::processEvents();
    ASSERT_FALSE(comm->GetPortOpen());
    comm.reset();
    ServeEvents();  // under the sanitizers, a report reaching the dead adapter would show
}

// --- Notifications inside a nested event loop -------------------------------------------

TEST_F(CommTest, BytesArrivingDuringAModalLoopAreDeliveredInsideIt) {
    Open(QStringLiteral("9600,n,8,1"));
    const auto first = Bytes({0x68, 0x0D, 0x00});
    const auto second = Bytes({0x84, 0x00, 0x12, 0x34});
    const QByteArray both = ToByteArray(first) + ToByteArray(second);

    int depth = 0;
    bool nestedDelivery = false;
    std::optional<QByteArray> afterLoop;
    QEventLoop* modal = nullptr;
    dlg().afterRead = [&] {
        if (depth > 0) {
            if (dlg().received == both) {
                nestedDelivery = true;
                modal->quit();
            }
            return;
        }
        if (afterLoop)
            return;
        // The first notification shows a "box": a nested loop. The device answers meanwhile.
        ++depth;
        QEventLoop loop;
        modal = &loop;
        QTimer::singleShot(0, &loop, [&] { m_pty.Write(second); });
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        loop.exec();
        modal = nullptr;
        --depth;
        afterLoop = dlg().received;
    };

    m_pty.Write(first);
    ASSERT_TRUE(WaitFor([&] { return afterLoop.has_value(); }, 5000));
    EXPECT_TRUE(nestedDelivery);
    EXPECT_EQ(*afterLoop, both);
}

}  // namespace
