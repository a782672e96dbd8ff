// The window's start state, opening and closing the port, and the port's failures.
#include <termios.h>

#include <QSerialPort>
#include <QTest>

#include "ScopedEnv.h"
#include "WindowFixture.h"

namespace {

class PortState : public WindowTest {
public:
    void ExpectClosed(const char* openCaption) {
        EXPECT_EQ(dlg->m_bPortOpen, 0);
        EXPECT_FALSE(dlg->session().isOpen());
        EXPECT_EQ(Text(IDC_BTN_OPENCOM), openCaption);
        EXPECT_TRUE(Combo(IDC_COMBO_PORT)->isEnabled());
        EXPECT_TRUE(Combo(IDC_COMBO_BAUD)->isEnabled());
        EXPECT_FALSE(Button(IDC_BTN_GOSTOP)->isEnabled());
        EXPECT_EQ(Text(IDC_BTN_GOSTOP), "GO");
        ASSERT_NE(dlg->m_staticPortState.GetIcon(), nullptr);
        EXPECT_EQ(dlg->m_staticPortState.GetIcon()->resourceId, IDI_PORT_CLOSED);
    }
};

TEST_F(PortState, StartState) {
    EXPECT_EQ(dlg->windowTitle(), "MIRT QTX V1.8");
    EXPECT_EQ(Combo(IDC_COMBO_PORT)->currentText(), "Com1");
    EXPECT_EQ(Combo(IDC_COMBO_PORT)->count(), 20);
    EXPECT_EQ(Combo(IDC_COMBO_BAUD)->currentText(), "9600");
    EXPECT_EQ(Combo(IDC_COMBO_MODULE_BAUD)->currentText(), "9600");
    EXPECT_EQ(Text(IDC_EDIT_ADDRESS) + ' ' + Text(IDC_EDIT_NEW_ADDRESS) + ' ' +
                  Text(IDC_EDIT_DECLINATION),
              "0 0 -0.1");
    EXPECT_EQ(Text(IDC_EDIT_RECEIVED) + Text(IDC_EDIT_SEND), "");
    ExpectClosed("OpenCom");
    EXPECT_FALSE(Button(IDC_BTN_MANUAL)->isEnabled());
    for (int id :
         {IDC_BTN_SETZERO, IDC_BTN_SETMAG, IDC_BTN_CAL_START, IDC_BTN_RECORD, IDC_BTN_AMODE})
        EXPECT_TRUE(Button(id)->isEnabled()) << id;
    // Each port entry shows its device first.
    EXPECT_TRUE(Combo(IDC_COMBO_PORT)
                    ->itemData(0, Qt::ToolTipRole)
                    .toString()
                    .startsWith(QString::fromStdString(pty->SlavePath()) + " (Com1"));
    EXPECT_EQ(Combo(IDC_COMBO_PORT)->itemData(8, Qt::ToolTipRole).toString().section('\n', 0, 0),
              "/dev/ttyACM0 (Com9)");
}

TEST_F(PortState, OpenAt115200ThenClose) {
    Pty com3;
    const ScopedEnv com3Env("TORVA_COM3", com3.SlavePath());
    com3.Write(Bytes({0x68, 0x0D, 0x00}));  // waiting before the open: must be thrown away
    Combo(IDC_COMBO_PORT)->setCurrentIndex(2);
    Combo(IDC_COMBO_BAUD)->setCurrentIndex(5);
    Open();
    EXPECT_EQ(Text(IDC_BTN_OPENCOM), "Close");
    EXPECT_FALSE(Combo(IDC_COMBO_PORT)->isEnabled());
    EXPECT_FALSE(Combo(IDC_COMBO_BAUD)->isEnabled());
    EXPECT_TRUE(Button(IDC_BTN_GOSTOP)->isEnabled());
    EXPECT_EQ(dlg->m_staticPortState.GetIcon()->resourceId, IDI_PORT_OPEN);
    termios tio{};
    ASSERT_EQ(tcgetattr(com3.MasterFd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B115200);
    ServeEvents();
    EXPECT_EQ(dlg->session().log().frameHex(),
              "");  // the waiting bytes never reached the assembler
    EXPECT_EQ(Text(IDC_EDIT_RECEIVED), "");

    // Polling on, then Close: everything back to Closed, readings zeroed and shown unsigned.
    Click(IDC_BTN_GOSTOP);
    dlg->m_dRoll = 5;
    Click(IDC_BTN_OPENCOM);
    ExpectClosed("Open");
    EXPECT_EQ(dlg->m_bPolling, 0);
    EXPECT_EQ(ShownReadings(), "0.00 0.00 0.0");
    Tick(3);  // with the port closed a tick shows nothing: a refresh would show +0.00
    EXPECT_EQ(ShownReadings(), "0.00 0.00 0.0");
    // The buttons that GO disabled stay disabled until the next STOP.
    EXPECT_FALSE(Button(IDC_BTN_SETMAG)->isEnabled());
    Open();
    EXPECT_FALSE(Button(IDC_BTN_CAL_START)->isEnabled());
    Click(IDC_BTN_GOSTOP);
    Click(IDC_BTN_GOSTOP);
    EXPECT_TRUE(Button(IDC_BTN_CAL_START)->isEnabled());
    EXPECT_TRUE(sink.boxes.empty());
}

TEST_F(PortState, FailedOpenShowsAStopBoxAndStaysClosed) {
    Combo(IDC_COMBO_PORT)->setCurrentIndex(-1);  // no port selected
    Click(IDC_BTN_OPENCOM);
    ExpectClosed("OpenCom");
    Combo(IDC_COMBO_PORT)->setCurrentIndex(0);
    qputenv("TORVA_COM1", "/dev/torva-no-such-device");
    Click(IDC_BTN_OPENCOM);
    ExpectClosed("OpenCom");
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_TRUE(sink.boxes[1].text.contains("/dev/torva-no-such-device"))
        << sink.boxes[1].text.toStdString();

    // A port another program holds is refused, and opens once released.
    qputenv("TORVA_COM1", QByteArray::fromStdString(pty->SlavePath()));
    QSerialPort other;
    other.setPortName(QString::fromStdString(pty->SlavePath()));
    ASSERT_TRUE(other.open(QIODevice::ReadWrite));
    Click(IDC_BTN_OPENCOM);
    ExpectClosed("OpenCom");
    ASSERT_EQ(sink.boxes.size(), 3u);
    for (const MessageBoxRequest& box : sink.boxes)
        EXPECT_EQ(box.icon, BoxIcon::Stop);
    other.close();
    Open();
}

TEST_F(PortState, VanishedDeviceIsReportedOnceAndClosesThePort) {
    Open();
    Click(IDC_BTN_GOSTOP);
    pty->CloseMaster();
    ASSERT_TRUE(WaitFor([&] { return !sink.boxes.empty(); }));
    EXPECT_TRUE(sink.boxes[0].text.contains(QString::fromStdString(pty->SlavePath())))
        << sink.boxes[0].text.toStdString();
    ExpectClosed("Open");
    EXPECT_EQ(Text(IDC_STATIC_HEADING), "0.0");
    // Nothing more arrives: no second message, and the poll tick writes nowhere.
    WaitFor([] { return false; }, 200);
    Tick();
    EXPECT_EQ(sink.boxes.size(), 1u);

    // The device comes back: opening works again.
    pty = std::make_unique<Pty>();
    qputenv("TORVA_COM1", QByteArray::fromStdString(pty->SlavePath()));
    Open();
    EXPECT_EQ(Text(IDC_BTN_OPENCOM), "Close");
}

TEST_F(PortState, EscapeClosesTheWindowAndReleasesThePort) {
    Open();
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_TRUE(dlg->IsDestroyed());
    EXPECT_FALSE(dlg->session().isOpen());
    QSerialPort other;
    other.setPortName(QString::fromStdString(pty->SlavePath()));
    EXPECT_TRUE(other.open(QIODevice::ReadWrite)) << other.errorString().toStdString();
}

}  // namespace
