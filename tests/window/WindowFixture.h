#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "CompassDlg.h"
#include "ModuleFrame.h"
#include "Pty.h"
#include "TestSink.h"
#include "WaitFor.h"
#include "resource.h"

// Address 01, pitch -12.34, roll +5.60, heading 359.99 (shown as 360.0).
// Right-clicks the window and picks the menu item with the command id by keyboard, as an
// operator does; the command runs after the menu has closed.
inline void ChooseFromMenu(CCompassDlg& dlg, int command) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, command] {
        if (QMenu* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions()) {
                if (action->data().toInt() == command) {
                    menu->setActiveAction(action);
                    QTest::keyClick(menu, Qt::Key_Return);
                    poll->deleteLater();
                }
            }
        }
    });
    poll->start(5);
    QTimer::singleShot(5000, poll, [poll] { poll->deleteLater(); });  // deadline
    const QPoint at = dlg.DialogUnitsToPixels(100, 48, 0, 0).topLeft();
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, dlg.mapToGlobal(at));
    QApplication::sendEvent(&dlg, &click);
}

inline const std::vector<std::uint8_t> kReading =
    Bytes({0x68, 0x0D, 0x01, 0x84, 0x10, 0x12, 0x34, 0x00, 0x05, 0x60, 0x03, 0x59, 0x99, 0x42});
inline const std::string kReadingShown = "-12.34 +5.60 360.0";
inline const std::string kReadRequest = "68 04 00 04 08";

// The Received log's line for a complete frame.
inline std::string LogLine(const std::vector<std::uint8_t>& frame) {
    return Hex(frame) + " \r\n";
}

// The main window on the offscreen platform with Com1 mapped to a pseudo-terminal whose master
// side plays the module. Message boxes are recorded; timers are driven by calling the handlers.
class WindowTest : public ::testing::Test {
public:
    void SetUp() override {
        pty = std::make_unique<Pty>();
        qputenv("TORVA_COM1", QByteArray::fromStdString(pty->SlavePath()));
        dlg = std::make_unique<CCompassDlg>();
        dlg->SetUiSink(&sink);
        dlg->Create();
        // Focus changes (the declination commits when it loses the focus) need an active window.
        QApplication::setActiveWindow(dlg.get());
        // The tests drive the ticks themselves.
        dlg->session().stop();
    }
    void TearDown() override {
        dlg.reset();
        qunsetenv("TORVA_COM1");
    }

    QPushButton* Button(int id) const { return qobject_cast<QPushButton*>(dlg->GetDlgItem(id)); }
    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(dlg->GetDlgItem(id)); }
    QComboBox* Combo(int id) const { return qobject_cast<QComboBox*>(dlg->GetDlgItem(id)); }
    QString Text(int id) const { return dlg->GetDlgItemText(id); }
    // A click handled whole; the boxes it raised then open, as the event loop would show them.
    void Click(int id) {
        Button(id)->click();
        OpenRaisedBoxes();
    }
    void OpenRaisedBoxes() { QCoreApplication::sendPostedEvents(dlg.get(), QEvent::MetaCall); }

    void Open() {
        Click(IDC_BTN_OPENCOM);
        ASSERT_EQ(dlg->m_bPortOpen, 1) << "port did not open";
    }
    void Tick(int times = 1) {
        for (int i = 0; i < times; ++i) {
            dlg->session().serviceTick();
            OpenRaisedBoxes();
        }
    }
    // Runs the 1 s tick and returns what the frame-rate box then shows.
    std::string RateTick() {
        dlg->session().rateTick();
        return Text(IDC_EDIT_RATE).toStdString();
    }
    // The three reading displays as "pitch roll heading".
    std::string ShownReadings() const {
        return (Text(IDC_STATIC_PITCH) + ' ' + Text(IDC_STATIC_ROLL) + ' ' +
                Text(IDC_STATIC_HEADING))
            .toStdString();
    }
    std::string Coverage() const {
        return (Text(IDC_STATIC_X) + ' ' + Text(IDC_STATIC_Y) + ' ' + Text(IDC_STATIC_Z))
            .toStdString();
    }

    // Writes bytes as the module and serves events until the window has taken them all.
    void Receive(const std::vector<std::uint8_t>& bytes) {
        const std::string received = dlg->session().log().receivedText();
        const std::string pending = dlg->session().log().frameHex();
        pty->Write(bytes);
        EXPECT_TRUE(WaitFor([&] {
            return dlg->session().log().receivedText() != received ||
                   dlg->session().log().frameHex() != pending;
        })) << "the window took none of the bytes";
        ServeEvents();
    }
    // What the module has been sent since the last call. The adapter writes from the event loop,
    // so events are served until the bytes have come and the line has been quiet for a moment.
    std::vector<std::uint8_t> Sent(int quietMs = 60) {
        std::vector<std::uint8_t> out;
        QElapsedTimer quiet;
        quiet.start();
        while (quiet.elapsed() < quietMs) {
            ServeEvents(1);
            const auto got = pty->Read(std::chrono::milliseconds(5), std::chrono::milliseconds(2));
            if (!got.empty()) {
                out.insert(out.end(), got.begin(), got.end());
                quiet.restart();
            }
        }
        return out;
    }
    std::string SentHex() { return Hex(Sent()); }

    // Expects exactly one recorded box (the last one) with this text, caption and icon.
    void ExpectOneBox(const QString& text, const QString& caption, BoxIcon icon = BoxIcon::None) {
        OpenRaisedBoxes();
        ASSERT_EQ(sink.boxes.size(), 1u);
        EXPECT_EQ(sink.boxes[0].text, text);
        EXPECT_EQ(sink.boxes[0].caption, caption);
        EXPECT_EQ(sink.boxes[0].icon, icon);
    }

    TestSink sink;
    std::unique_ptr<Pty> pty;
    std::unique_ptr<CCompassDlg> dlg;
};

// The window with the port open.
class LiveWindow : public WindowTest {
public:
    void SetUp() override {
        WindowTest::SetUp();
        Open();
    }
};
