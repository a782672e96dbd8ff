// The window's start state, opening and closing the port, and the port's failures.
#include <termios.h>

#include <QSerialPort>
#include <QTest>

#include "WindowFixture.h"

namespace {

using PortState = WindowTest;

void ExpectClosedState(WindowTest& t, CCompassDlg& dlg, const char* openCaption) {
    EXPECT_EQ(dlg.m_bPortOpen, 0);
    EXPECT_EQ(t.Text(IDC_BTN_OPENCOM), openCaption);
    EXPECT_TRUE(t.Combo(IDC_COMBO_PORT)->isEnabled());
    EXPECT_TRUE(t.Combo(IDC_COMBO_BAUD)->isEnabled());
    EXPECT_FALSE(t.Button(IDC_BTN_GOSTOP)->isEnabled());
    EXPECT_EQ(t.Text(IDC_BTN_GOSTOP), "GO");
    ASSERT_NE(dlg.m_staticPortState.GetIcon(), nullptr);
    EXPECT_EQ(dlg.m_staticPortState.GetIcon()->resourceId, IDI_PORT_CLOSED);
    EXPECT_FALSE(dlg.m_ctrlComm.GetPortOpen());
}

TEST_F(PortState, StartState) {
    EXPECT_EQ(Combo(IDC_COMBO_PORT)->currentText(), "Com1");
    EXPECT_EQ(Combo(IDC_COMBO_BAUD)->currentText(), "9600");
    EXPECT_EQ(Combo(IDC_COMBO_MODULE_BAUD)->currentText(), "9600");
    EXPECT_EQ(Combo(IDC_COMBO_PORT)->count(), 20);
    EXPECT_EQ(Combo(IDC_COMBO_PORT)->itemText(19), "Com20");
    EXPECT_EQ(Text(IDC_EDIT_ADDRESS), "0");
    EXPECT_EQ(Text(IDC_EDIT_NEW_ADDRESS), "0");
    EXPECT_EQ(Text(IDC_EDIT_DECLINATION), "-0.1");
    EXPECT_EQ(Text(IDC_EDIT_RECEIVED), "");
    EXPECT_EQ(Text(IDC_EDIT_SEND), "");
    ExpectClosedState(*this, *dlg, "OpenCom");
    EXPECT_FALSE(Button(IDC_BTN_MANUAL)->isEnabled());
    for (int id : {IDC_BTN_SETZERO, IDC_BTN_SETMAG, IDC_BTN_CAL_START, IDC_BTN_RECORD, IDC_BTN_AMODE}) {
        EXPECT_TRUE(Button(id)->isEnabled()) << id;
    }
    EXPECT_EQ(dlg->windowTitle(), "MIRT QTX V1.8");
    // Each port entry shows its device.
    EXPECT_EQ(Combo(IDC_COMBO_PORT)->itemData(0, Qt::ToolTipRole).toString(),
              QString::fromStdString(pty->SlavePath()));
    EXPECT_EQ(Combo(IDC_COMBO_PORT)->itemData(8, Qt::ToolTipRole).toString(), "/dev/ttyACM0");
}

TEST_F(PortState, OpenAt115200ThenClose) {
    Pty com3;
    qputenv("TORVA_COM3", QByteArray::fromStdString(com3.SlavePath()));
    com3.Write(Bytes({0x68, 0x0D, 0x00}));  // waiting before the open: must be thrown away
    Combo(IDC_COMBO_PORT)->setCurrentIndex(2);
    Combo(IDC_COMBO_BAUD)->setCurrentIndex(5);
    Open();
    EXPECT_EQ(Text(IDC_BTN_OPENCOM), "Close");
    EXPECT_FALSE(Combo(IDC_COMBO_PORT)->isEnabled());
    EXPECT_FALSE(Combo(IDC_COMBO_BAUD)->isEnabled());
    EXPECT_TRUE(Button(IDC_BTN_GOSTOP)->isEnabled());
    EXPECT_EQ(Text(IDC_BTN_GOSTOP), "GO");
    EXPECT_EQ(dlg->m_staticPortState.GetIcon()->resourceId, IDI_PORT_OPEN);

    termios tio{};
    ASSERT_EQ(tcgetattr(com3.MasterFd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B115200);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(tio.c_cflag & PARENB);
    EXPECT_FALSE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL));

    ServeEvents();
    EXPECT_EQ(dlg->m_strFrameHex, "");  // the waiting bytes never reached the assembler
    EXPECT_EQ(Text(IDC_EDIT_RECEIVED), "");

    // Polling on, then Close: everything back to Closed, readings zeroed and shown unsigned.
    Click(IDC_BTN_GOSTOP);
    dlg->m_dRoll = 5;
    Click(IDC_BTN_OPENCOM);
    ExpectClosedState(*this, *dlg, "Open");
    EXPECT_EQ(dlg->m_bPolling, 0);
    EXPECT_EQ(Text(IDC_STATIC_ROLL), "0.00");
    EXPECT_EQ(Text(IDC_STATIC_PITCH), "0.00");
    EXPECT_EQ(Text(IDC_STATIC_HEADING), "0.0");
    // The buttons that GO disabled stay disabled until the next STOP.
    EXPECT_FALSE(Button(IDC_BTN_SETMAG)->isEnabled());
    Open();
    EXPECT_FALSE(Button(IDC_BTN_CAL_START)->isEnabled());
    Click(IDC_BTN_GOSTOP);
    Click(IDC_BTN_GOSTOP);
    EXPECT_TRUE(Button(IDC_BTN_CAL_START)->isEnabled());
    EXPECT_TRUE(sink.boxes.empty());
}

TEST_F(PortState, NoSpeedSelectedKeepsTheSettingsInForce) {
    Combo(IDC_COMBO_BAUD)->setCurrentIndex(-1);
    Open();
    termios tio{};
    ASSERT_EQ(tcgetattr(pty->MasterFd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
}

TEST_F(PortState, NoPortSelectedShowsTheAdaptersErrorAndStaysClosed) {
    Combo(IDC_COMBO_PORT)->setCurrentIndex(-1);
    Click(IDC_BTN_OPENCOM);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Stop);
    ExpectClosedState(*this, *dlg, "OpenCom");
}

TEST_F(PortState, MissingDeviceIsNamedInAStopBox) {
    qputenv("TORVA_COM1", "/dev/torva-no-such-device");
    Click(IDC_BTN_OPENCOM);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Stop);
    EXPECT_TRUE(sink.boxes[0].text.contains("/dev/torva-no-such-device")) << sink.boxes[0].text.toStdString();
    ExpectClosedState(*this, *dlg, "OpenCom");
}

TEST_F(PortState, PortHeldByAnotherProgramIsRefused) {
    QSerialPort other;
    other.setPortName(QString::fromStdString(pty->SlavePath()));
    ASSERT_TRUE(other.open(QIODevice::ReadWrite));
    Click(IDC_BTN_OPENCOM);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Stop);
    ExpectClosedState(*this, *dlg, "OpenCom");
    other.close();
    Open();
}

TEST_F(PortState, VanishedDeviceIsReportedOnceAndClosesThePort) {
    Open();
    Click(IDC_BTN_GOSTOP);
    pty->CloseMaster();
    ASSERT_TRUE(WaitFor([&] { return !sink.boxes.empty(); }));
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_TRUE(sink.boxes[0].text.contains(QString::fromStdString(pty->SlavePath())))
        << sink.boxes[0].text.toStdString();
    ExpectClosedState(*this, *dlg, "Open");
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
    EXPECT_FALSE(dlg->m_ctrlComm.GetPortOpen());
    QSerialPort other;
    other.setPortName(QString::fromStdString(pty->SlavePath()));
    EXPECT_TRUE(other.open(QIODevice::ReadWrite)) << other.errorString().toStdString();
}

}  // namespace
