#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <numeric>
#include <optional>

#include "CMSComm.h"
#include "Dialog.h"
#include "Exception.h"
#include "PortTable.h"
#include "Pty.h"
#include "TestSink.h"
#include "WaitFor.h"

namespace {

constexpr int kCommId = 1004;

// Owns the adapter as the console's window does: attached by the first data exchange, its
// notifications arriving through the handler table.
class CommDialog : public CDialogBase {
public:
    CommDialog() : CDialogBase(Template()) {
        Bind(kCommId, Notification::CommEvent, [this] {
            codes.push_back(comm.GetCommEvent());
            const QByteArray input = comm.GetInput();
            EXPECT_FALSE(input.isEmpty());  // notified only while bytes are waiting
            EXPECT_LE(input.size(), 1024);  // a read takes at most the input buffer
            received += input;
            if (afterRead)
                afterRead();
        });
        Bind(kCommId, Notification::DeviceLost, [this] {
            ++lost;
            openWhenLost = comm.GetPortOpen();
        });
    }
    ~CommDialog() override { DestroyWindow(); }
    static DialogTemplate Template() {
        DialogTemplate t;
        t.controls.resize(1);
        t.controls[0].id = kCommId;
        t.controls[0].kind = ControlKind::Hidden;
        return t;
    }

    CMSComm comm;
    std::vector<short> codes;
    QByteArray received;
    std::function<void()> afterRead;  // runs inside the handler after its read
    int lost = 0;
    bool openWhenLost = true;

protected:
    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, kCommId, comm); }
};

QByteArray ToQt(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

// The state a device has before anyone configured it: line editing, echo, signals, flow
// control, line-end translation, 2 stop bits at 1200 bit/s. The adapter must undo all of it.
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

// Reads at least n bytes at the device while serving Qt events, for the adapter writes from them.
std::vector<std::uint8_t> ReadFromDevice(Pty& pty, std::size_t n) {
    std::vector<std::uint8_t> out;
    WaitFor([&] {
        const auto got = pty.Read(std::chrono::milliseconds(0), std::chrono::milliseconds(0));
        out.insert(out.end(), got.begin(), got.end());
        return out.size() >= n;
    });
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
        m_dlg->Create();
        comm().SetCommPort(3);
    }
    CMSComm& comm() { return m_dlg->comm; }
    void Open(const char* settings = "115200,n,8,1") {
        comm().SetSettings(QString::fromLatin1(settings));
        comm().SetPortOpen(true);
        ASSERT_TRUE(comm().GetPortOpen());
    }
    // Sends bytes from the device and waits until the window has read that many in total.
    bool DeviceSends(const std::vector<std::uint8_t>& bytes, Pty* pty = nullptr) {
        const qsizetype want = m_dlg->received.size() + static_cast<qsizetype>(bytes.size());
        (pty ? *pty : m_pty).Write(bytes);
        return WaitFor([&] { return m_dlg->received.size() >= want; });
    }

    TestSink m_sink;  // adapter errors escaping a handler are recorded, never shown
    Pty m_pty;
    std::unique_ptr<CommDialog> m_dlg = std::make_unique<CommDialog>();
};

TEST(CommSetup, PortNumbersAndSettingsAreChecked) {
    for (int n = 0; n <= 21; ++n)  // 0 and 21 are no ports; an empty variable counts as unset
        qputenv("TORVA_COM" + QByteArray::number(n), n % 21 == 0 || n == 5 ? "/dev/pts/77" : "");
    // clang-format off
    const std::pair<int, const char*> ports[] = {{1, "/dev/ttyUSB0"}, {8, "/dev/ttyUSB7"},
        {9, "/dev/ttyACM0"}, {12, "/dev/ttyACM3"}, {13, "/dev/ttyS0"}, {20, "/dev/ttyS7"},
        {5, "/dev/pts/77"}, {0, ""}, {21, ""}, {-1, ""}};
    // clang-format on
    for (const auto& [port, device] : ports)
        EXPECT_EQ(DeviceForPort(port), QString::fromLatin1(device)) << port;

    CMSComm comm;
    EXPECT_THROW(comm.SetPortOpen(true), CControlException);  // no port selected yet
    comm.SetCommPort(7);
    for (short bad : {0, 21}) {
        const std::string text = Describe([&] { comm.SetCommPort(bad); });
        EXPECT_NE(text.find("Port number " + std::to_string(bad) + " "), std::string::npos);
        EXPECT_NE(text.find("Com1 to Com20"), std::string::npos) << text;
        EXPECT_EQ(comm.GetCommPort(), 7);
    }
    for (const char* valid :
         {"2400,n,8,1", "4800,n,8,1", "9600,n,8,1", "19200,n,8,1", "38400,n,8,1", "115200,n,8,1"}) {
        EXPECT_NO_THROW(comm.SetSettings(QString::fromLatin1(valid))) << valid;
        EXPECT_EQ(comm.GetSettings(), QString::fromLatin1(valid));
    }
    for (const char* invalid : {"9600,N,8,1", "9600,n,8,2", "9600,e,8,1", "9600,n,7,1",
                                "57600,n,8,1", "9600", "9600,n,8,1,", " 9600,n,8,1", ""}) {
        EXPECT_THROW(comm.SetSettings(QString::fromLatin1(invalid)), CControlException) << invalid;
        EXPECT_EQ(comm.GetSettings(), QStringLiteral("115200,n,8,1")) << invalid;
    }
}

TEST_F(CommTest, DeviceRunsRaw8N1AtTheSelectedSpeed) {
    comm().SetPortOpen(true);
    ExpectRaw8N1(m_pty, B9600);  // the default
    comm().SetSettings(QStringLiteral("38400,n,8,1"));
    ExpectRaw8N1(m_pty, B38400);  // applied at once while open
    comm().SetPortOpen(false);
    comm().SetSettings(QStringLiteral("115200,n,8,1"));
    MakeCooked(m_pty.MasterFd());  // as another program may leave it while the port is closed
    comm().SetPortOpen(true);
    ExpectRaw8N1(m_pty, B115200);
    comm().SetPortOpen(false);
    comm().SetPortOpen(true);  // settings survive the close
    ExpectRaw8N1(m_pty, B115200);
}

TEST_F(CommTest, EveryByteValueCrossesUnchangedBothWays) {
    Open();
    std::vector<std::uint8_t> burst(3000);
    for (std::size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(DeviceSends(burst));
    ServeEvents();
    EXPECT_EQ(m_dlg->received, ToQt(burst));
    EXPECT_EQ(m_dlg->codes, std::vector<short>(m_dlg->codes.size(), comEvReceive));

    std::vector<std::uint8_t> out(256);
    std::iota(out.begin(), out.end(), 0);
    comm().SetOutput(out);
    const auto frame = Bytes({0x68, 0x05, 0x00, 0x0C, 0x00, 0x11, 0xA5});
    comm().SetOutput(std::span(frame).first(6));
    comm().SetOutput(std::span(frame).last(1));  // a marker: anything extra would come before it
    out.insert(out.end(), frame.begin(), frame.end());
    EXPECT_EQ(Hex(ReadFromDevice(m_pty, out.size())), Hex(out));
}

TEST_F(CommTest, AClosedPortRefusesWritesReadsNothingAndNamesWhyItWontOpen) {
    const auto frame = Bytes({0x68, 0x04, 0x00, 0x04, 0x08});
    const std::string never = Describe([&] { comm().SetOutput(frame); });
    EXPECT_NE(never.find("Com3 (" + m_pty.SlavePath() + ") is not open"), std::string::npos)
        << never;
    Open();
    m_pty.Write(Bytes({1, 2, 3}));
    comm().SetPortOpen(false);
    EXPECT_NO_THROW(comm().SetPortOpen(false));
    ServeEvents();
    EXPECT_TRUE(comm().GetInput().isEmpty());
    EXPECT_TRUE(m_dlg->codes.empty());
    EXPECT_THROW(comm().SetOutput(frame), CControlException);

    for (const auto& [device, reason] :
         {std::pair{"/dev/does-not-exist", "no such device"}, std::pair{"/dev/null", ""}}) {
        qputenv("TORVA_COM3", device);
        const std::string text = Describe([this] { comm().SetPortOpen(true); });
        EXPECT_NE(text.find(std::string("Cannot open Com3 (") + device), std::string::npos);
        EXPECT_NE(text.find(reason), std::string::npos) << text;
        EXPECT_FALSE(comm().GetPortOpen());
    }
}

TEST_F(CommTest, DeviceWithoutAccessRightsNamesTheDialoutGroup) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may open any device";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ttyLocked"));
    ::close(::open(path.toLocal8Bit().constData(), O_CREAT | O_WRONLY, 0));
    qputenv("TORVA_COM3", path.toLocal8Bit());
    const std::string text = Describe([this] { comm().SetPortOpen(true); });
    EXPECT_NE(text.find(path.toStdString() + "): permission denied"), std::string::npos) << text;
    EXPECT_NE(text.find("dialout"), std::string::npos) << text;
}

TEST_F(CommTest, APortHeldByAnotherAdapterIsInUseAndTheHolderKeepsWorking) {
    Open();
    CMSComm second;
    second.SetCommPort(3);
    const std::string text = Describe([&] { second.SetPortOpen(true); });
    EXPECT_NE(text.find(m_pty.SlavePath() + "): the device is in use"), std::string::npos) << text;
    EXPECT_FALSE(second.GetPortOpen());
    ASSERT_TRUE(DeviceSends(Bytes({0x42})));
    comm().SetOutput(Bytes({0x24}));
    EXPECT_EQ(ReadFromDevice(m_pty, 1), Bytes({0x24}));
    comm().SetPortOpen(false);
    EXPECT_NO_THROW(second.SetPortOpen(true));
}

// The device vanishes while idle, or while a poll tick writes into the dead port.
class VanishTest : public CommTest, public ::testing::WithParamInterface<bool> {};

TEST_P(VanishTest, ClosesReportsOnceAndReopensWhenBack) {
    Open();
    ASSERT_TRUE(DeviceSends(Bytes({0x01})));
    m_pty.CloseMaster();
    if (GetParam())
        comm().SetOutput(Bytes({0x68, 0x04, 0x00, 0x04, 0x08}));
    ASSERT_TRUE(WaitFor([&] { return m_dlg->lost > 0; }));
    EXPECT_FALSE(m_dlg->openWhenLost);  // closed before the window hears of it
    // Nothing more comes: not another report, not a receive notification.
    const std::size_t codes = m_dlg->codes.size();
    WaitFor([&] { return m_dlg->lost > 1 || m_dlg->codes.size() > codes; }, 200);
    EXPECT_EQ(m_dlg->lost, 1);
    EXPECT_EQ(m_dlg->codes.size(), codes);
    EXPECT_TRUE(m_sink.boxes.empty());

    Pty back;  // replugged, perhaps under a new name
    qputenv("TORVA_COM3", QByteArray::fromStdString(back.SlavePath()));
    comm().SetPortOpen(true);
    ExpectRaw8N1(back, B115200);
    ASSERT_TRUE(DeviceSends(Bytes({0x02}), &back));
    comm().SetOutput(Bytes({0x7E}));
    EXPECT_EQ(ReadFromDevice(back, 1), Bytes({0x7E}));
}

INSTANTIATE_TEST_SUITE_P(Serial, VanishTest, ::testing::Bool());

TEST_F(CommTest, AdapterDestroyedWithAReportPendingIsSafe) {
    auto other = std::make_unique<CMSComm>();
    other->SetCommPort(3);
    other->SetPortOpen(true);
    m_pty.CloseMaster();
    // Stop as soon as the port has closed: the report to the window is then still queued.
    ASSERT_TRUE(WaitFor([&] { return !other->GetPortOpen(); }));
    other.reset();
    ServeEvents();  // under the sanitizers, a report reaching the dead adapter would show
}

TEST_F(CommTest, BytesArrivingDuringAModalLoopAreDeliveredInsideIt) {
    m_pty.Write(Bytes({0x11, 0x22}));  // waiting before the open: not an answer, discarded
    Open("9600,n,8,1");
    const QByteArray both = ToQt(Bytes({0x68, 0x0D, 0x00, 0x84, 0x00, 0x12}));
    bool nested = false;
    std::optional<QByteArray> afterLoop;
    QEventLoop* modal = nullptr;
    m_dlg->afterRead = [&] {
        if (modal) {
            nested = nested || m_dlg->received == both;
            if (nested)
                modal->quit();
        } else if (!afterLoop) {
            // The first notification shows a "box"; the device answers meanwhile.
            QEventLoop loop;
            modal = &loop;
            QTimer::singleShot(0, &loop, [&] { m_pty.Write(Bytes({0x84, 0x00, 0x12})); });
            QTimer::singleShot(3000, &loop, &QEventLoop::quit);
            loop.exec();
            modal = nullptr;
            afterLoop = m_dlg->received;
        }
    };
    m_pty.Write(Bytes({0x68, 0x0D, 0x00}));
    ASSERT_TRUE(WaitFor([&] { return afterLoop.has_value(); }, 5000));
    EXPECT_TRUE(nested);
    EXPECT_EQ(*afterLoop, both);
}

}  // namespace
