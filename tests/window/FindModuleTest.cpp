// "Find module..." from the window's menu, driven by clicks: the simulator found at its speed
// and address, which the window then takes; a search cancelled while the window was polling.
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <chrono>

#include "FindModuleDialog.h"
#include "SimulatorProcess.h"
#include "WindowFixture.h"

namespace {

using namespace std::chrono_literals;

template <class T>
T* Child(QWidget* parent, const char* name) {
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

class FindModule : public WindowTest {
protected:
    FindModuleDialog* OpenDialog() {
        ChooseFromMenu(*dlg, IDM_FINDMODULE);
        auto* dialog = dlg->findChild<FindModuleDialog*>();
        EXPECT_NE(dialog, nullptr) << "the menu opened no search";
        if (dialog)
            EXPECT_TRUE(dialog->isVisible() && dialog->isModal());
        return dialog;
    }
    QString Result(FindModuleDialog* dialog) { return Child<QLabel>(dialog, "result")->text(); }
    void Press(FindModuleDialog* dialog, const char* name) {
        QTest::mouseClick(Child<QPushButton>(dialog, name), Qt::LeftButton);
    }
};

TEST_F(FindModule, FindsTheSimulatorAndTheWindowTakesItsSpeedAndAddressThenPollsIt) {
    SimulatorProcess sim(MODULESIM_PATH, {"--speed", "4800", "--address", "37",
                                          "--garbage-on-mismatch", "--fixed", "12.5,-3.25,271.4"});
    const auto device = sim.ReadLine(10s);
    ASSERT_TRUE(device);
    qputenv("TORVA_COM2", QByteArray::fromStdString(*device));
    QComboBox* ports = Combo(IDC_COMBO_PORT);
    ports->setFocus();
    QTest::keyClick(ports, Qt::Key_Down);  // Com2
    ASSERT_EQ(dlg->m_cboPort.GetCurSel(), 1);
    // The operator believes in address 36 at 9600 bit/s, with the port open.
    QLineEdit* address = Edit(IDC_EDIT_ADDRESS);
    address->selectAll();
    QTest::keyClicks(address, QStringLiteral("36"));
    Open();
    dlg->session().start();

    FindModuleDialog* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    Press(dialog, "search");
    EXPECT_TRUE(dialog->searching());
    ASSERT_TRUE(WaitFor([&] { return !dialog->searching(); }, 120000))
        << Result(dialog).toStdString();
    EXPECT_TRUE(
        Result(dialog).startsWith(QStringLiteral("Found the module at 4800 bit/s, address 37")))
        << Result(dialog).toStdString();
    EXPECT_EQ(Child<QListWidget>(dialog, "found")->count(), 1);
    // The window took what answered, as if the operator had chosen and typed it.
    EXPECT_EQ(dlg->m_cboBaud.GetCurSel(), 1);
    EXPECT_EQ(Text(IDC_EDIT_ADDRESS), QStringLiteral("37"));
    EXPECT_EQ(dlg->m_nAddress, 37u);
    EXPECT_EQ(dlg->m_bPortOpen, 1);
    EXPECT_EQ(dlg->session().speedIndex(), 1);
    EXPECT_TRUE(sink.boxes.empty());

    Press(dialog, "cancel");  // now "Close"
    EXPECT_FALSE(dialog->isVisible());
    // GO: the module is polled at once, and its readings show.
    QTest::mouseClick(Button(IDC_BTN_GOSTOP), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return ShownReadings() == "+12.50 -3.25 271.4"; }, 10000))
        << ShownReadings();
    dlg->session().stop();
    qunsetenv("TORVA_COM2");
    sim.Stop();
}

TEST_F(FindModule, CancelWhilePollingLeavesTheWindowAsItWasAndPollingGoesOn) {
    Open();
    QTest::mouseClick(Button(IDC_BTN_GOSTOP), Qt::LeftButton);
    ASSERT_EQ(dlg->m_bPolling, 1);
    dlg->session().start();
    ASSERT_TRUE(WaitFor([&] { return !pty->Read(1ms, 0ms).empty(); }, 5000));  // polling

    FindModuleDialog* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    QTest::mouseClick(Child<QCheckBox>(dialog, "wholeBus"), Qt::LeftButton);
    Press(dialog, "search");
    // Only the search's requests go out: address 0 at 9600 is asked once, then 0 at the other
    // speeds, then 1, 2, ... at 9600; a poll would ask address 0 again.
    std::vector<std::uint8_t> seen;
    ASSERT_TRUE(WaitFor(
        [&] {
            const auto got = pty->Read(1ms, 0ms);
            seen.insert(seen.end(), got.begin(), got.end());
            return seen.size() >= 5 * 9;
        },
        20000));
    EXPECT_EQ(Child<QProgressBar>(dialog, "progress")->maximum(), 6 * 256);
    Press(dialog, "cancel");
    EXPECT_FALSE(dialog->searching());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(Result(dialog).startsWith(QStringLiteral("Cancelled after")))
        << Result(dialog).toStdString();
    const std::string requests = Hex(seen);
    EXPECT_EQ(requests.substr(0, 14 * 9 + 13),
              "68 04 00 04 08 68 04 00 04 08 68 04 00 04 08 68 04 00 04 08 68 04 00 04 08 "
              "68 04 00 04 08 68 04 01 04 09 68 04 02 04 0A 68 04 03 04 0B")
        << requests;
    // Nothing changed in the window; the line is back at 9600 and polling goes on.
    EXPECT_EQ(dlg->m_cboBaud.GetCurSel(), 2);
    EXPECT_EQ(dlg->m_nAddress, 0u);
    EXPECT_EQ(dlg->session().speedIndex(), 2);
    std::vector<std::uint8_t> after;
    EXPECT_TRUE(WaitFor(
        [&] {
            const auto got = pty->Read(1ms, 0ms);
            after.insert(after.end(), got.begin(), got.end());
            return Hex(after).find("68 04 00 04 08 68 04 00 04 08") != std::string::npos;
        },
        5000))
        << Hex(after);
    Press(dialog, "cancel");
    EXPECT_FALSE(dialog->isVisible());
    dlg->session().stop();
    EXPECT_TRUE(sink.boxes.empty());
}

}  // namespace
