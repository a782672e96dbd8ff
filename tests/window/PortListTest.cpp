// The ports the machine has: the port list's marks and tooltips following devices as they come
// and go, the Ports window mapping a device to a Com entry for the run, and the window following
// a replugged adapter when "Reopen when the adapter returns" is on.
#include <QAbstractItemView>
#include <QAction>
#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "PortsDialog.h"
#include "ScopedEnv.h"
#include "WindowFixture.h"

namespace {

// Generous for a busy machine: the watcher looks once a second.
constexpr int kWatchMs = 8000;

class PortList : public WindowTest {
public:
    QComboBox* Ports() const { return Combo(IDC_COMBO_PORT); }
    bool Marked(int index) const {
        return Ports()->itemData(index, Qt::FontRole).value<QFont>().bold();
    }
    QString Tip(int index) const { return Ports()->itemData(index, Qt::ToolTipRole).toString(); }
    // Points `link` at `target`, replacing it whole.
    static void Point(const QString& link, const std::string& target) {
        QFile::remove(link + ".new");
        ASSERT_TRUE(QFile::link(QString::fromStdString(target), link + ".new"));
        ASSERT_EQ(::rename(QFile::encodeName(link + ".new").constData(),
                           QFile::encodeName(link).constData()),
                  0);
    }
};

TEST_F(PortList, MarksFollowDevicesWithoutTouchingTheSelectionTheFieldOrTheOpenLine) {
    const QString slave = QString::fromStdString(pty->SlavePath());
    EXPECT_TRUE(Marked(0));
    EXPECT_TRUE(Tip(0).startsWith(slave + " (Com1)\n")) << Tip(0).toStdString();
    EXPECT_FALSE(Marked(4));
    EXPECT_TRUE(Tip(4).endsWith("(Com5)\nno device")) << Tip(4).toStdString();
    QSignalSpy presence(&dlg->portWatcher(), &PortWatcher::presentPortsChanged);

    // A device appears under Com5 (a link to it, as udev makes one: a pseudo-terminal's number
    // freed here may be taken at once by another test) while Com1 is open and polled.
    Open();
    Click(IDC_BTN_GOSTOP);
    QTemporaryDir dir;
    const QString com5Path = dir.filePath("com5");
    const ScopedEnv com5Env("TORVA_COM5", com5Path.toStdString());
    auto com5 = std::make_unique<Pty>();
    Point(com5Path, com5->SlavePath());
    ASSERT_TRUE(WaitFor([&] { return Marked(4); }, kWatchMs)) << "Com5 was not marked";
    ASSERT_FALSE(presence.isEmpty());
    EXPECT_TRUE(presence.last().at(0).value<QList<int>>().contains(5));
    EXPECT_TRUE(Marked(0));
    EXPECT_TRUE(dlg->session().isOpen());
    Tick();
    EXPECT_EQ(SentHex(), kReadRequest);

    // Closed: the drop-down opened by F4 describes the device that came.
    Click(IDC_BTN_OPENCOM);
    QTest::keyClick(Ports(), Qt::Key_F4);
    ASSERT_TRUE(WaitFor([&] { return Ports()->view()->isVisible(); }));
    EXPECT_TRUE(Tip(4).startsWith(QString::fromStdString(com5->SlavePath()) +
                                  " (Com5)\nlink: " + com5Path + "\n"))
        << Tip(4).toStdString();
    QTest::keyClick(Ports()->view(), Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return !Ports()->view()->isVisible(); }));

    // With Com5 chosen and the cursor moved in the field, the device goes: the mark goes, and
    // the field keeps its text and its cursor.
    Ports()->setCurrentIndex(4);
    Ports()->lineEdit()->setFocus();
    QTest::keyClick(Ports()->lineEdit(), Qt::Key_Home);
    QTest::keyClick(Ports()->lineEdit(), Qt::Key_Right);
    QFile::remove(com5Path);
    com5.reset();
    ASSERT_TRUE(WaitFor([&] { return !Marked(4); }, kWatchMs)) << "Com5 stayed marked";
    EXPECT_EQ(Ports()->currentIndex(), 4);
    EXPECT_EQ(Ports()->currentText(), "Com5");
    EXPECT_EQ(Ports()->lineEdit()->cursorPosition(), 1);
    QTest::keyClick(Ports(), Qt::Key_F4);
    ASSERT_TRUE(WaitFor([&] { return Ports()->view()->isVisible(); }));
    EXPECT_TRUE(Tip(4).endsWith("(Com5)\nno device")) << Tip(4).toStdString();
    QTest::keyClick(Ports()->view(), Qt::Key_Escape);
    EXPECT_TRUE(sink.boxes.empty());
}

TEST_F(PortList, ThePortsWindowMapsADeviceToAComEntryForTheRun) {
    const ScopedEnv com5Env("TORVA_COM5", "/dev/torva-no-such-device");
    const QString slave = QString::fromStdString(pty->SlavePath());
    ChooseFromMenu(*dlg, IDM_PORTS);
    PortsDialog* ports = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (ports = dlg->findChild<PortsDialog*>()) != nullptr; }));
    ASSERT_TRUE(WaitFor([&] { return ports->isVisible(); }));
    auto* table = ports->findChild<QTableWidget*>("devices");
    int row = -1;
    for (int r = 0; r < table->rowCount(); ++r) {
        if (table->item(r, PortsDialog::Device)->text() == slave)
            row = r;
    }
    ASSERT_GE(row, 0) << "the pseudo-terminal of Com1 is not listed";
    EXPECT_EQ(table->item(row, PortsDialog::Ports)->text(), "Com1");
    EXPECT_EQ(table->item(row, PortsDialog::State)->text(), "free");

    // The operator picks the row, Com5 and Map.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualItemRect(table->item(row, PortsDialog::Device)).center());
    auto* port = ports->findChild<QComboBox*>("port");
    port->setFocus();
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(port, Qt::Key_Down);
    ASSERT_EQ(port->currentText(), "Com5");
    QTest::mouseClick(ports->findChild<QPushButton*>("map"), Qt::LeftButton);
    EXPECT_EQ(ports->Message(), "Com5 is " + slave + " for this run.");
    EXPECT_EQ(dlg->session().portMap().DeviceFor(5), slave);
    ASSERT_TRUE(
        WaitFor([&] { return table->item(row, PortsDialog::Ports)->text() == "Com1, Com5"; }));
    EXPECT_TRUE(Ports()->itemData(4, Qt::FontRole).value<QFont>().bold());

    // Com5 typed into the window's port list and opened: the line is the pseudo-terminal.
    QApplication::setActiveWindow(dlg.get());
    QTest::mouseClick(Ports()->lineEdit(), Qt::LeftButton);
    QTest::keyClick(Ports()->lineEdit(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(Ports()->lineEdit(), "Com5");
    QTest::mouseClick(Button(IDC_BTN_OPENCOM), Qt::LeftButton);
    OpenRaisedBoxes();
    ASSERT_TRUE(dlg->session().isOpen())
        << (sink.boxes.empty() ? std::string() : sink.boxes[0].text.toStdString());
    EXPECT_EQ(dlg->session().portLabel(), "Com5 (" + slave + ")");
    Click(IDC_BTN_GOSTOP);
    Tick();
    EXPECT_EQ(SentHex(), kReadRequest);

    // Given back, Com5 names its variable's device again.
    QTest::mouseClick(ports->findChild<QPushButton*>("giveBack"), Qt::LeftButton);
    EXPECT_EQ(dlg->session().portMap().DeviceFor(5), "/dev/torva-no-such-device");
    EXPECT_EQ(ports->Message(), "Com5 is /dev/torva-no-such-device again.");
}

TEST_F(PortList, AReplugGivesOneMessageThatGoesWhenTheSameAdapterIsBack) {
    QTemporaryDir dir;
    const QString link = dir.filePath("module");
    Point(link, pty->SlavePath());
    ScopedEnv com1Env("TORVA_COM1", link.toStdString());
    dlg->session().portMap().Choose(1, QString());  // the variable is read at each look-up
    Open();
    Click(IDC_BTN_GOSTOP);
    ChooseFromMenu(*dlg, IDM_REOPEN);
    ASSERT_TRUE(WaitFor([&] { return dlg->session().reopenOnReturn(); }));

    pty->CloseMaster();
    QFile::remove(link);
    QMessageBox* message = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        message = dlg->findChild<QMessageBox*>("adapterMessage");
        return message && message->isVisible();
    }));
    EXPECT_TRUE(message->text().startsWith("Com1 (" + link + ") has gone away"))
        << message->text().toStdString();
    EXPECT_FALSE(message->isModal());
    EXPECT_EQ(dlg->m_staticPortState.GetIcon()->resourceId, IDI_PORT_CLOSED);
    EXPECT_EQ(dlg->m_bPortOpen, 1);
    EXPECT_EQ(dlg->m_bPolling, 1);
    EXPECT_EQ(Text(IDC_BTN_OPENCOM), "Close");

    Pty back;
    Point(link, back.SlavePath());
    ASSERT_TRUE(WaitFor([&] { return dlg->session().isOpen(); }, kWatchMs)) << "not reopened";
    EXPECT_TRUE(WaitFor([&] { return !dlg->findChild<QMessageBox*>("adapterMessage"); }));
    EXPECT_EQ(dlg->m_staticPortState.GetIcon()->resourceId, IDI_PORT_OPEN);
    Tick();
    std::vector<std::uint8_t> sent;
    ASSERT_TRUE(WaitFor([&] {
        const auto got = back.Read(std::chrono::milliseconds(5), std::chrono::milliseconds(2));
        sent.insert(sent.end(), got.begin(), got.end());
        return sent.size() >= 5;
    }));
    EXPECT_EQ(Hex(sent), kReadRequest);
    EXPECT_TRUE(sink.boxes.empty());
}

TEST_F(PortList, AnotherAdapterInItsPlaceIsSaidInTheSameMessageAndNotOpened) {
    const QString slave = QString::fromStdString(pty->SlavePath());
    QList<SerialDevice> devices;
    auto adapter = [](const QString& path, const char* serial) {
        SerialDevice device;
        device.path = path;
        device.serialNumber = QString::fromLatin1(serial);
        device.ports = {1};
        device.access = DeviceAccess::Free;
        return device;
    };
    dlg->session().setDeviceInventory([&] { return devices; });
    devices = {adapter(slave, "A1")};
    ChooseFromMenu(*dlg, IDM_REOPEN);
    ASSERT_TRUE(WaitFor([&] { return dlg->session().reopenOnReturn(); }));
    Open();
    pty->CloseMaster();
    devices.clear();
    QMessageBox* message = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        message = dlg->findChild<QMessageBox*>("adapterMessage");
        return message && message->isVisible();
    }));

    devices = {adapter(slave, "B2")};
    ASSERT_TRUE(WaitFor([&] { return message->text().contains("serial number B2"); }, kWatchMs));
    EXPECT_EQ(message->text(), "Com1 (" + slave + "): " + slave +
                                   " is an adapter with serial number B2, not the adapter with "
                                   "serial number A1. It was not opened: only the adapter that "
                                   "went away is opened again. Plug that one back in, or close "
                                   "the port to stop waiting.");
    EXPECT_EQ(dlg->findChildren<QMessageBox*>().size(), 1);
    EXPECT_FALSE(dlg->session().isOpen());

    // Close ends the wait and the message.
    QTest::mouseClick(Button(IDC_BTN_OPENCOM), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return !dlg->findChild<QMessageBox*>("adapterMessage"); }));
    EXPECT_FALSE(dlg->session().isWaitingForAdapter());
    EXPECT_EQ(Text(IDC_BTN_OPENCOM), "Open");
    EXPECT_TRUE(sink.boxes.empty());
}

}  // namespace
