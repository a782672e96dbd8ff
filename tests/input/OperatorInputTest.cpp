// The window as an operator drives it: real clicks and keys, real timers, real modal boxes and
// the real folder dialog, with a pseudo-terminal playing the module.
#include <termios.h>

#include <QDirIterator>
#include <QFile>
#include <QPlainTextEdit>
#include <algorithm>
#include <functional>
#include <utility>

#include "OperatorFixture.h"

namespace {

using Operator = OperatorTest;

std::string Line(const std::vector<std::uint8_t>& frame) {
    return Hex(frame) + " ";
}

// The control an input event would reach: the focus widget or the list it belongs to.
int FocusedId() {
    for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget()) {
        const QVariant id = w->property("ctrlId");
        if (id.isValid())
            return id.toInt();
    }
    return 0;
}

std::vector<std::string> FileLines(const QString& path) {
    QFile file(path);
    std::vector<std::string> lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            lines.push_back(line.chopped(line.endsWith('\r') ? 1 : 0).toStdString());
    }
    return lines;
}

TEST_F(Operator, AnAcknowledgementStormKeepsEveryFrameOnceAndInOrder) {
    answerReads = false;
    OpenPort();
    Click(IDC_BTN_RECORD);
    ASSERT_EQ(Text(IDC_BTN_RECORD), "Stop");
    holdMs = 150;
    // Each read brings an acknowledgement and then a numbered reading; a box raised by the first
    // frame of a read must not let later reads overtake the rest of it.
    const auto ack = ModuleFrame(0x85, {0x00});
    constexpr int kReads = 300;
    std::vector<std::string> expected;
    for (int i = 0; i < kReads; ++i) {
        std::vector<std::uint8_t> read = ack;
        const auto numbered = NumberedReading(i);
        read.insert(read.end(), numbered.begin(), numbered.end());
        toSend.push_back(read);
        expected.push_back(Line(ack));
        expected.push_back(Line(numbered));
    }
    const std::string last = expected.back() + "\r\n";
    ASSERT_TRUE(Within(15000, [&] {
        const std::string& log = dlg->session().log().receivedText();
        return toSend.empty() && log.size() >= last.size() &&
               log.compare(log.size() - last.size(), last.size(), last) == 0;
    })) << "the last reading never reached the Received log";
    holdMs = 0;
    ASSERT_TRUE(Within(3000, [] { return QApplication::activeModalWidget() == nullptr; }));
    EXPECT_LE(mostOpenAtOnce, 1) << "boxes piled up";
    EXPECT_EQ(boxes.front().text, "Successful!");
    EXPECT_EQ(boxes.front().caption, "Success");
    Click(IDC_BTN_RECORD);

    const auto lines = FileLines(home.filePath("COMDATA/Rec00.txt"));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front().rfind("Date: ", 0), 0u);
    EXPECT_EQ(lines.back().rfind("End Date: ", 0), 0u);
    const std::vector<std::string> frames(lines.begin() + 1, lines.end() - 1);
    EXPECT_EQ(frames, expected);
}

TEST_F(Operator, EveryKindOfBoxLeavesTheTicksAndTheReceivePathRunning) {
    OpenPort();
    Click(IDC_BTN_MMODE);
    Click(IDC_BTN_MANUAL);  // no answer comes: the manual sample will time out
    Click(IDC_BTN_GOSTOP);
    struct Kind {
        const char* name;
        std::function<void()> raise;
        QString text;
    };
    const std::vector<Kind> kinds = {
        {"manual-sample time-out",
         [this] {
             // 99 of the 100 ticks at once; the window's own timer serves the last one.
             for (int i = 0; i < 99; ++i)
                 dlg->session().serviceTick();
         },
         "Time out ! Try again!"},
        {"acknowledgement", [this] { pty->Write(ModuleFrame(0x85, {0x00})); }, "Successful!"},
        {"calibration error", [this] { pty->Write(ModuleFrame(0x88, {0xFF})); },
         "Calibration Error!"},
        {"rejected field", [this] { TypeInto(Item(IDC_EDIT_ADDRESS), "x"); },
         QString::fromUtf8("“请填入一个正整数。”")},
    };
    int value = 100;
    // The checks run inside the box's modal loop, with the box up, and then close it.
    holdMs = 60000;
    whileBoxOpen = [&](const SeenBox&) {
        TakeReadRequests();
        reading = NumberedReading(++value);
        const QString shown = QStringLiteral("+%1.00").arg(value);
        EXPECT_TRUE(Within(1000, [&] { return Text(IDC_STATIC_PITCH) == shown; }))
            << "a reading answered under the box was not shown";
        RunFor(1000);
        EXPECT_GE(TakeReadRequests(), 6) << "the poll tick stopped under the box";
        EXPECT_NE(Text(IDC_EDIT_RATE).toStdString(), "   0Hz")
            << "the rate tick stopped under the box";
        QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape);
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const std::size_t seen = boxes.size();
        kind.raise();
        ASSERT_TRUE(Within(15000, [&] {
            return boxes.size() > seen && QApplication::activeModalWidget() == nullptr;
        })) << "no box came and went";
        EXPECT_EQ(boxes.back().text, kind.text);
        EXPECT_EQ(boxes.size(), seen + 1);
    }
}

TEST_F(Operator, TabAndShiftTabWalkTheTemplateOrder) {
    // Every enabled control that takes the focus, in template order; GO, Manual, the frame rate
    // and the Send pane start disabled.
    const std::vector<int> order = {
        IDC_COMBO_PORT,    IDC_COMBO_BAUD,        IDC_EDIT_NEW_ADDRESS, IDC_BTN_OPENCOM,
        IDC_BTN_SETZERO,   IDC_BTN_CANCELZERO,    IDC_BTN_SETADDR,      IDC_EDIT_RECEIVED,
        IDC_BTN_RECORD,    IDC_COMBO_MODULE_BAUD, IDC_BTN_SET_BAUD,     IDC_EDIT_ADDRESS,
        IDC_BTN_AUTOOUT,   IDC_BTN_CATECHISM,     IDC_BTN_CLEAR_SEND,   IDC_BTN_CLEAR_RECEIVED,
        IDC_BTN_CAL_START, IDC_BTN_MMODE,         IDC_BTN_CAL_SAVE,     IDC_BTN_BROWSE,
        IDC_BTN_HORIZON,   IDC_BTN_VERTICAL,      IDC_EDIT_DECLINATION, IDC_BTN_SETMAG,
        IDC_BTN_AMODE,     IDC_BTN_CAL_STOP};
    QTest::mouseClick(ComboField(IDC_COMBO_PORT), Qt::LeftButton);
    ASSERT_EQ(FocusedId(), IDC_COMBO_PORT);
    std::vector<int> forwards, backwards;
    for (std::size_t i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        forwards.push_back(FocusedId());
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        backwards.push_back(FocusedId());
    }
    std::vector<int> expectForwards(order.begin() + 1, order.end());
    expectForwards.push_back(order.front());
    std::vector<int> expectBackwards(order.rbegin(), order.rend());
    EXPECT_EQ(forwards, expectForwards);
    EXPECT_EQ(backwards, expectBackwards);
    EXPECT_EQ(Text(IDC_EDIT_RECEIVED).toStdString(), "") << "Tab typed into the Received pane";
}

TEST_F(Operator, ARejectedDeclinationSendsNothingAndItsCorrectionIsWhatSetMagSends) {
    auto* declination = qobject_cast<QLineEdit*>(Item(IDC_EDIT_DECLINATION));
    const QString message = QString::fromUtf8("请键入一个数。");
    OpenPort();
    // What the console wrote since the last look, once `expected` is among it.
    const auto sentUntil = [&](const std::vector<std::uint8_t>& expected) {
        Within(3000, [&] {
            return std::search(fromConsole.begin(), fromConsole.end(), expected.begin(),
                               expected.end()) != fromConsole.end();
        });
        return Hex(std::exchange(fromConsole, {}));
    };
    // The box came and went; the field has the focus back with its whole text selected.
    const auto expectRejected = [&](std::size_t count) {
        ASSERT_TRUE(Within(3000, [&] {
            return boxes.size() == count && QApplication::activeModalWidget() == nullptr;
        }));
        EXPECT_EQ(boxes.back().text, message);
        EXPECT_EQ(boxes.back().icon, QMessageBox::Warning);
        EXPECT_TRUE(Within(1000, [&] { return QApplication::focusWidget() == declination; }));
        EXPECT_EQ(declination->selectedText(), declination->text());
    };
    // Rejected when the focus moves on to another field; the box closes, the field comes back
    // with the focus and its text selected, and the next focus loss commits what was typed.
    TypeInto(declination, "q.5");
    QTest::mouseClick(Item(IDC_EDIT_NEW_ADDRESS), Qt::LeftButton);
    expectRejected(1);
    QTest::keyClicks(declination, "7");
    EXPECT_EQ(declination->text(), "7");
    fromConsole.clear();
    Click(IDC_BTN_SETMAG);
    EXPECT_EQ(sentUntil(ModuleFrame(0x06, {0x00, 0x70})), "68 06 00 06 00 70 7C");
    // Rejected by the click on Set Mag. itself: that click sends nothing.
    TypeInto(declination, "abc");
    Click(IDC_BTN_SETMAG);
    expectRejected(2);
    EXPECT_EQ(declination->text(), "abc");
    QTest::keyClicks(declination, "-2.5");
    Click(IDC_BTN_SETMAG);
    EXPECT_EQ(sentUntil(ModuleFrame(0x06, {0x10, 0x25})), "68 06 00 06 10 25 41")
        << "the rejected click sent a frame before the corrected one";
    EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(Operator, TypedTextInTheListsSelectsTheEntryItNames) {
    OpenPort();
    const struct {
        const char* typed;
        int payload;
    } speeds[] = {{"4800", 0x01}, {" 115200 ", 0x05}, {"5000", 0xFF}, {"96OO", 0xFF}};
    for (const auto& speed : speeds) {
        SCOPED_TRACE(speed.typed);
        TypeInto(ComboField(IDC_COMBO_MODULE_BAUD), QString::fromLatin1(speed.typed));
        fromConsole.clear();
        Click(IDC_BTN_SET_BAUD);
        const auto frame =
            ModuleFrame(0x0B, {static_cast<std::uint8_t>(speed.payload)});  // same layout
        ASSERT_TRUE(Within(1000,
                           [&] {
                               return std::search(fromConsole.begin(), fromConsole.end(),
                                                  frame.begin(), frame.end()) != fromConsole.end();
                           }))
            << "Set B.R. did not send " << Hex(frame);
    }
    Click(IDC_BTN_OPENCOM);  // close, then open another port at another speed, both typed
    Pty com3;
    qputenv("TORVA_COM3", QByteArray::fromStdString(com3.SlavePath()));
    TypeInto(ComboField(IDC_COMBO_PORT), " com3");
    TypeInto(ComboField(IDC_COMBO_BAUD), "19200 ");
    Click(IDC_BTN_OPENCOM);
    EXPECT_EQ(dlg->m_bPortOpen, 1) << boxes.back().text.toStdString();
    termios settings{};
    ASSERT_EQ(tcgetattr(com3.MasterFd(), &settings), 0);
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B19200));
    Click(IDC_BTN_GOSTOP);
    std::vector<std::uint8_t> request;
    EXPECT_TRUE(Within(2000, [&] {
        const auto got = com3.Read(std::chrono::milliseconds(0), std::chrono::milliseconds(0));
        request.insert(request.end(), got.begin(), got.end());
        return request.size() >= 5;
    }));
    EXPECT_EQ(Hex(request), "68 04 00 04 08");
    qunsetenv("TORVA_COM3");
}

TEST_F(Operator, OpeningAndCancellingTheFolderDialogWritesNothingUnderHome) {
    const auto contents = [this] {
        QStringList found;
        QDirIterator it(home.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    };
    const QStringList before = contents();
    Click(IDC_BTN_BROWSE);
    ASSERT_TRUE(Within(
        5000, [&] { return boxes.size() == 1 && QApplication::activeModalWidget() == nullptr; }));
    EXPECT_EQ(boxes[0].caption, QString::fromUtf8("请选择要保存接收数据的文件夹"));
    ServeEvents();
    EXPECT_EQ(contents().join(' ').toStdString(), before.join(' ').toStdString());
}

TEST_F(Operator, ErrorsBeforeTheFirstOpenNameTheSelectedPort) {
    qunsetenv("TORVA_COM2");
    Click(IDC_BTN_CAL_START);
    ASSERT_TRUE(Within(3000, [&] { return boxes.size() == 1; }));
    EXPECT_EQ(boxes[0].text.toStdString(), "Com1 (" + pty->SlavePath() + ") is not open.");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
    // Choosing another entry with the arrow key.
    QTest::mouseClick(ComboField(IDC_COMBO_PORT), Qt::LeftButton);
    QTest::keyClick(ComboField(IDC_COMBO_PORT), Qt::Key_Down);
    ASSERT_TRUE(Within(3000, [] { return QApplication::activeModalWidget() == nullptr; }));
    Click(IDC_BTN_CAL_START);
    ASSERT_TRUE(Within(3000, [&] { return boxes.size() == 2; }));
    EXPECT_EQ(boxes[1].text.toStdString(), "Com2 (/dev/ttyUSB1) is not open.");
}

TEST_F(Operator, AHeadingOfMinusZeroShowsAsZero) {
    reading = ModuleFrame(0x84, {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0x30});
    OpenPort();
    Click(IDC_BTN_GOSTOP);
    ASSERT_TRUE(Within(2000, [&] { return Text(IDC_STATIC_HEADING) == "12.3"; }));
    // Sign nibbles set, every digit zero.
    reading = ModuleFrame(0x84, {0x10, 0x00, 0x00, 0x10, 0x00, 0x00, 0x10, 0x00, 0x00});
    ASSERT_TRUE(Within(2000, [&] { return Text(IDC_STATIC_HEADING) != "12.3"; }));
    EXPECT_EQ(Text(IDC_STATIC_HEADING).toStdString(), "0.0");
    EXPECT_EQ(Text(IDC_STATIC_PITCH).toStdString(), "+0.00");
    EXPECT_EQ(Text(IDC_STATIC_ROLL).toStdString(), "+0.00");
}

}  // namespace
