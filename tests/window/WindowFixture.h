#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>
#include <string>

#include "CompassDlg.h"
#include "Pty.h"
#include "TestSink.h"
#include "WaitFor.h"
#include "resource.h"

// The main window on the offscreen platform with Com1 mapped to a pseudo-terminal whose master
// side plays the module. Message boxes are recorded; timers are driven by calling the handlers.
class WindowTest : public ::testing::Test {
public:
    void SetUp() override {
        pty = std::make_unique<Pty>();
        qputenv("TORVA_COM1", QByteArray::fromStdString(pty->SlavePath()));
        dlg = std::make_unique<CCompassDlg>();
        dlg->Create();
        // Focus changes (the declination commits when it loses the focus) need an active window.
        QApplication::setActiveWindow(dlg.get());
        // The tests drive the ticks themselves.
        dlg->KillTimer(IDT_POLL);
        dlg->KillTimer(IDT_RATE);
    }
    void TearDown() override { dlg.reset(); }

    QPushButton* Button(int id) const { return qobject_cast<QPushButton*>(dlg->GetDlgItem(id)); }
    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(dlg->GetDlgItem(id)); }
    QComboBox* Combo(int id) const { return qobject_cast<QComboBox*>(dlg->GetDlgItem(id)); }
    QString Text(int id) const { return dlg->GetDlgItemText(id); }
    void Click(int id) { Button(id)->click(); }

    void Open() {
        Click(IDC_BTN_OPENCOM);
        ASSERT_EQ(dlg->m_bPortOpen, 1) << "port did not open";
    }
    void Tick() { dlg->DispatchTimer(IDT_POLL); }

    // Writes bytes as the module and serves events until the window has taken them all.
    void Receive(const std::vector<std::uint8_t>& bytes) {
        const std::string received = dlg->m_strReceived;
        const std::string pending = dlg->m_strFrameHex;
        pty->Write(bytes);
        EXPECT_TRUE(WaitFor([&] {
            return dlg->m_strReceived != received || dlg->m_strFrameHex != pending;
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

    TestSink sink;
    std::unique_ptr<Pty> pty;
    std::unique_ptr<CCompassDlg> dlg;
};
