#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "Dialog.h"
#include "Exception.h"
#include "TestSink.h"
#include "WaitFor.h"

namespace {

constexpr int kButton = 10, kUnsigned = 11, kDouble = 12, kText = 13, kPane = 14, kCombo = 15,
              kFailing = 16, kSecondUnsigned = 17;

DialogTemplate SmallTemplate() {
    DialogTemplate t;
    t.caption = QStringLiteral("Probe");
    t.cx = 200;
    t.cy = 120;
    t.fontFace = QStringLiteral("宋体");
    t.pointSize = 10;
    auto add = [&t](int id, ControlKind kind, const char* caption, int x, int y, unsigned style = 0) {
        ControlSpec spec;
        spec.id = id;
        spec.kind = kind;
        spec.caption = QString::fromUtf8(caption);
        spec.x = x;
        spec.y = y;
        spec.cx = 40;
        spec.cy = 14;
        spec.style = style;
        if (kind == ControlKind::ComboBox) spec.items = {QStringLiteral("a"), QStringLiteral("b")};
        t.controls.push_back(spec);
    };
    add(kButton, ControlKind::Button, "Press", 4, 4);
    add(kUnsigned, ControlKind::Edit, "", 50, 4);
    add(kSecondUnsigned, ControlKind::Edit, "", 50, 20);
    add(kDouble, ControlKind::Edit, "", 100, 4);
    add(kText, ControlKind::Edit, "", 150, 4);
    add(kPane, ControlKind::Edit, "", 4, 40, Style::Multiline | Style::VScroll);
    add(kCombo, ControlKind::ComboBox, "", 100, 40);
    add(kFailing, ControlKind::Button, "Fail", 150, 40);
    return t;
}

class ProbeDialog : public CDialogBase {
public:
    ProbeDialog() : CDialogBase(SmallTemplate()) {
        Bind(kButton, Notification::Clicked, [this] { ++clicks; });
        Bind(kUnsigned, Notification::Changed, [this] { ++changes; });
        Bind(kFailing, Notification::Clicked, [] { throw CControlException("Com9 (/dev/x): gone"); });
    }
    ~ProbeDialog() override { DestroyWindow(); }

    std::uint32_t first = 1;
    std::uint32_t second = 2;
    double value = -0.1;
    std::string text = "hello";
    std::string pane;
    int clicks = 0;
    int changes = 0;
    int destroyed = 0;
    CComboBox combo;

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Control(pDX, kCombo, combo);
        DDX_Text(pDX, kText, text);
        DDX_Text(pDX, kPane, pane);
        DDX_Text(pDX, kUnsigned, first);
        DDX_Text(pDX, kDouble, value);
        DDX_Text(pDX, kSecondUnsigned, second);
    }
    void OnDestroy() override { ++destroyed; }
};

QLineEdit* Edit(CDialogBase& dlg, int id) { return qobject_cast<QLineEdit*>(dlg.GetDlgItem(id)); }

TEST(Dialog, RefreshWritesFieldsInCanonicalForm) {
    ProbeDialog dlg;
    dlg.Create();
    EXPECT_EQ(Edit(dlg, kUnsigned)->text(), "1");
    EXPECT_EQ(Edit(dlg, kDouble)->text(), "-0.1");
    EXPECT_EQ(Edit(dlg, kText)->text(), "hello");
    // The first refresh's own change notifications do not reach the handler.
    EXPECT_EQ(dlg.changes, 0);
    EXPECT_TRUE(dlg.combo.IsAttached());
}

TEST(Dialog, CommitRejectsFieldStopsAtItAndSelectsIt) {
    TestSink sink;
    ProbeDialog dlg;
    dlg.Create();
    Edit(dlg, kText)->setText("typed");
    Edit(dlg, kUnsigned)->setText("-1");
    Edit(dlg, kDouble)->setText("2.5");
    Edit(dlg, kSecondUnsigned)->setText("9");
    EXPECT_FALSE(dlg.UpdateData(true));
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, QStringLiteral("“请填入一个正整数。”"));
    EXPECT_EQ(sink.boxes[0].caption, "TORVA");
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Exclamation);
    EXPECT_EQ(dlg.text, "typed");  // before the rejected field: committed
    EXPECT_EQ(dlg.first, 1u);      // rejected: unchanged
    EXPECT_DOUBLE_EQ(dlg.value, -0.1);  // after it: unchanged
    EXPECT_EQ(dlg.second, 2u);
    EXPECT_EQ(Edit(dlg, kUnsigned)->selectedText(), "-1");
    EXPECT_EQ(dlg.focusWidget(), Edit(dlg, kUnsigned));
}

TEST(Dialog, CommitOfDoubleUsesItsOwnMessage) {
    TestSink sink;
    ProbeDialog dlg;
    dlg.Create();
    Edit(dlg, kDouble)->setText(".0");
    EXPECT_FALSE(dlg.UpdateData(true));
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, QStringLiteral("请键入一个数。"));
    Edit(dlg, kDouble)->setText("-1");
    EXPECT_TRUE(dlg.UpdateData(true));
    EXPECT_DOUBLE_EQ(dlg.value, -1.0);
}

TEST(Dialog, UnchangedTextsAreNotRewritten) {
    ProbeDialog dlg;
    dlg.Create();
    QLineEdit* edit = Edit(dlg, kText);
    edit->setCursorPosition(2);
    int rewrites = 0;
    QObject::connect(edit, &QLineEdit::textChanged, [&rewrites] { ++rewrites; });
    dlg.UpdateData(false);
    EXPECT_EQ(rewrites, 0);
    EXPECT_EQ(edit->cursorPosition(), 2);
    dlg.text = "other";
    dlg.UpdateData(false);
    EXPECT_EQ(rewrites, 1);
}

TEST(Dialog, OperatorChangesReachHandlersButRefreshesDoNot) {
    ProbeDialog dlg;
    dlg.Create();
    dlg.first = 77;
    dlg.UpdateData(false);
    EXPECT_EQ(dlg.changes, 0);
    Edit(dlg, kUnsigned)->setFocus();
    QTest::keyClick(Edit(dlg, kUnsigned), Qt::Key_5);
    EXPECT_EQ(dlg.changes, 1);
}

TEST(Dialog, PanesAreWrittenLazilyButReadBackExactly) {
    ProbeDialog dlg;
    dlg.Create();
    auto* pane = qobject_cast<QPlainTextEdit*>(dlg.GetDlgItem(kPane));
    dlg.pane = "68 04 \r\n";
    dlg.UpdateData(false);
    EXPECT_EQ(pane->toPlainText(), "");  // not yet: written within ~30 ms
    EXPECT_TRUE(WaitFor([&] { return pane->toPlainText() == "68 04 \n"; }));
    dlg.pane += "AA BB \r\n";
    dlg.UpdateData(false);
    // Anything that reads the pane sees the refreshed text at once.
    EXPECT_EQ(dlg.GetDlgItemText(kPane), "68 04 \nAA BB \n");
    // A commit gives the member back with its CR LF line ends.
    dlg.pane.clear();
    EXPECT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.pane, "68 04 \r\nAA BB \r\n");
    // A text the operator typed into the pane is committed, and a refresh replaces it.
    pane->setPlainText("typed");
    EXPECT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.pane, "typed");
    dlg.pane = "x\r\n";
    dlg.UpdateData(false);
    dlg.FlushPanes();
    EXPECT_EQ(pane->toPlainText(), "x\n");
}

TEST(Dialog, ComboTypingLeavesNoSelection) {
    ProbeDialog dlg;
    dlg.Create();
    dlg.combo.SetCurSel(1);
    EXPECT_EQ(dlg.combo.GetCurSel(), 1);
    auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItem(kCombo));
    combo->lineEdit()->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "zz");
    EXPECT_EQ(dlg.combo.GetCurSel(), -1);
    EXPECT_EQ(combo->currentText(), "zz");
    EXPECT_EQ(combo->count(), 2);  // typed text never becomes an entry
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(combo->count(), 2);
}

TEST(Dialog, ButtonsAreNeverDefault) {
    ProbeDialog dlg;
    dlg.Create();
    auto* button = qobject_cast<QPushButton*>(dlg.GetDlgItem(kButton));
    EXPECT_FALSE(button->autoDefault());
    EXPECT_FALSE(button->isDefault());
    button->click();
    EXPECT_EQ(dlg.clicks, 1);
}

TEST(Dialog, ControlErrorEscapingAHandlerIsShownWithStopIcon) {
    TestSink sink;
    ProbeDialog dlg;
    dlg.Create();
    qobject_cast<QPushButton*>(dlg.GetDlgItem(kFailing))->click();
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Com9 (/dev/x): gone");
    EXPECT_EQ(sink.boxes[0].caption, "TORVA");
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Stop);
}

TEST(Dialog, MessageBoxCaptionConventions) {
    TestSink sink;
    ProbeDialog dlg;
    dlg.Create();
    dlg.MessageBox("NO FOUND THE PORT");
    dlg.MessageBox("Successful!", "Success");
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_EQ(sink.boxes[0].caption, "TORVA");
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Exclamation);
    EXPECT_EQ(sink.boxes[1].caption, "Success");
    EXPECT_EQ(sink.boxes[1].icon, BoxIcon::None);
}

TEST(Dialog, EscapeClosesAndDestroysOnce) {
    ProbeDialog dlg;
    dlg.Create();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(dlg.IsDestroyed());
    EXPECT_EQ(dlg.destroyed, 1);
    dlg.DestroyWindow();
    EXPECT_EQ(dlg.destroyed, 1);
}

TEST(Dialog, DialogUnitsFollowTheTemplateFont) {
    ProbeDialog dlg;
    dlg.Create();
    // 441 x 436 units of the 10-point template font make a window of about 772 x 763 pixels.
    const QRect r = dlg.DialogUnitsToPixels(0, 0, 441, 436);
    EXPECT_NEAR(r.width(), 772, 8);
    EXPECT_NEAR(r.height(), 763, 8);
}

}  // namespace
