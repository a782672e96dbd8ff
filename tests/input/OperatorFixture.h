#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CompassDlg.h"
#include "ModuleFrame.h"
#include "Pty.h"
#include "WaitFor.h"
#include "resource.h"

// A reading whose pitch carries `n` in packed BCD (0..999), so frames can be told apart.
inline std::vector<std::uint8_t> NumberedReading(int n) {
    const auto bcd = [](int v) { return static_cast<std::uint8_t>((v / 10) * 16 + v % 10); };
    return ModuleFrame(0x84,
                       {bcd(n / 100), bcd(n % 100), 0x00, 0x00, 0x12, 0x50, 0x02, 0x71, 0x40});
}

// What an operator saw of one message box.
struct SeenBox {
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// The real main window with its real timers, real modal boxes and the real folder dialog, on the
// offscreen platform, driven by input events. A pseudo-terminal plays the module: every read
// request is answered with `reading` while `answerReads` holds. A watcher closes each modal box
// with Escape once it has been open for `holdMs`, and counts how many were open at once.
class OperatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        qputenv("HOME", home.path().toUtf8());
        qunsetenv("XDG_CONFIG_HOME");
        pty = std::make_unique<Pty>();
        qputenv("TORVA_COM1", QByteArray::fromStdString(pty->SlavePath()));
        dlg = std::make_unique<CCompassDlg>();
        dlg->Create();
        QApplication::setActiveWindow(dlg.get());
        // Two timers: the module goes on answering while a box's own checks run in the other.
        module.setInterval(2);
        QObject::connect(&module, &QTimer::timeout, [this] { ServeModule(); });
        module.start();
        watcher.setInterval(5);
        QObject::connect(&watcher, &QTimer::timeout, [this] { WatchBoxes(); });
        watcher.start();
    }
    void TearDown() override {
        watcher.stop();
        module.stop();
        holdMs = 0;
        while (QWidget* modal = QApplication::activeModalWidget()) {
            if (modal == dlg.get())
                break;
            QTest::keyClick(modal, Qt::Key_Escape);
            ServeEvents();
        }
        dlg.reset();
    }

    QWidget* Item(int id) const { return dlg->GetDlgItem(id); }
    QString Text(int id) const { return dlg->GetDlgItemText(id); }
    void Click(int id) { QTest::mouseClick(Item(id), Qt::LeftButton); }
    // Clicks into a field, selects what it holds and types over it.
    void TypeInto(QWidget* field, const QString& text) {
        QTest::mouseClick(field, Qt::LeftButton);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, text);
    }
    QLineEdit* ComboField(int id) const { return qobject_cast<QComboBox*>(Item(id))->lineEdit(); }
    void OpenPort() {
        Click(IDC_BTN_OPENCOM);
        ASSERT_TRUE(WaitFor([this] { return dlg->m_bPortOpen == 1; }));
    }
    // Serves events (timers included) until the condition holds or `ms` pass.
    bool Within(int ms, const std::function<bool()>& condition) { return WaitFor(condition, ms); }
    // Lets the real timers run for `ms`.
    void RunFor(int ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    // Read requests the console has sent since the last call.
    int TakeReadRequests() {
        int count = 0;
        const std::vector<std::uint8_t> request = {0x68, 0x04, 0x00, 0x04, 0x08};
        for (std::size_t i = 0; i + request.size() <= fromConsole.size(); ++i) {
            if (std::equal(request.begin(), request.end(), fromConsole.begin() + i))
                ++count;
        }
        fromConsole.clear();
        return count;
    }

    QTemporaryDir home;
    std::unique_ptr<Pty> pty;
    std::unique_ptr<CCompassDlg> dlg;
    std::vector<std::uint8_t> reading = NumberedReading(1);
    bool answerReads = true;
    // Reads the module sends by itself, one every few milliseconds, whatever else runs.
    std::deque<std::vector<std::uint8_t>> toSend;
    std::vector<std::uint8_t> fromConsole;
    int holdMs = 100;
    // Runs inside a box's modal loop when the box is first seen (the test's own code further up
    // the stack waits until the box has closed).
    std::function<void(const SeenBox&)> whileBoxOpen;
    std::vector<SeenBox> boxes;
    int mostOpenAtOnce = 0;

private:
    void ServeModule() {
        if (!toSend.empty()) {
            pty->Write(toSend.front());
            toSend.pop_front();
        }
        pollfd fd{pty->MasterFd(), POLLIN, 0};
        while (::poll(&fd, 1, 0) == 1 && (fd.revents & POLLIN)) {
            std::uint8_t buffer[512];
            const ssize_t n = ::read(pty->MasterFd(), buffer, sizeof buffer);
            if (n <= 0)
                return;
            for (ssize_t i = 0; i < n; ++i) {
                fromConsole.push_back(buffer[i]);
                pending.push_back(buffer[i]);
            }
        }
        // Answer each complete read request.
        const std::vector<std::uint8_t> request = {0x68, 0x04, 0x00, 0x04, 0x08};
        while (pending.size() >= request.size()) {
            if (std::equal(request.begin(), request.end(), pending.begin())) {
                pending.erase(pending.begin(), pending.begin() + 5);
                if (answerReads)
                    pty->Write(reading);
            } else {
                pending.erase(pending.begin());
            }
        }
    }
    void WatchBoxes() {
        int open = 0;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox*>(top) && top->isVisible())
                ++open;
        }
        mostOpenAtOnce = std::max(mostOpenAtOnce, open);
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == dlg.get())
            return;
        if (modal != current) {
            current = modal;
            shownAt.start();
            SeenBox seen;
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                seen = {box->text(), box->windowTitle(), box->icon()};
            } else {
                seen.caption = modal->windowTitle();
            }
            boxes.push_back(seen);
            if (whileBoxOpen)
                whileBoxOpen(seen);
        }
        if (shownAt.elapsed() >= holdMs)
            QTest::keyClick(modal, Qt::Key_Escape);
    }

    QTimer module;
    QTimer watcher;
    std::vector<std::uint8_t> pending;
    QPointer<QWidget> current;
    QElapsedTimer shownAt;
};
