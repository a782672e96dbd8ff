#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "DataExchange.h"
#include "Dialog.h"
#include "TestSink.h"
#include "WaitFor.h"

namespace {

constexpr int kButton = 10, kUnsigned = 11, kDouble = 12, kText = 13, kPane = 14, kCombo = 15,
              kFailing = 16;

DialogTemplate SmallTemplate() {
    DialogTemplate t;
    t.caption = QStringLiteral("Probe");
    t.cx = 200;
    t.cy = 120;
    t.fontFace = QStringLiteral("宋体");
    t.pointSize = 10;
    for (int id = kButton; id <= kFailing; ++id) {
        ControlSpec spec;
        spec.id = id;
        spec.kind = id == kButton || id == kFailing ? ControlKind::Button
                    : id == kCombo                  ? ControlKind::ComboBox
                                                    : ControlKind::Edit;
        spec.style = id == kPane ? Style::Multiline | Style::VScroll : 0u;
        spec.items = {QStringLiteral("a"), QStringLiteral("b")};
        spec.x = 4 + 48 * ((id - kButton) % 4);
        spec.y = 4 + 40 * ((id - kButton) / 4);
        spec.cx = 44;
        spec.cy = 14;
        t.controls.push_back(spec);
    }
    return t;
}

class ProbeDialog : public CDialogBase {
public:
    ProbeDialog() : CDialogBase(SmallTemplate()) {
        Bind(kButton, Notification::Clicked, [this] { ++clicks; });
        Bind(kUnsigned, Notification::Changed, [this] { ++changes; });
        Bind(kFailing, Notification::Clicked, [this] { ErrorBox("Com9 (/dev/x): gone"); });
    }
    ~ProbeDialog() override { DestroyWindow(); }

    std::uint32_t first = 1;
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
    }
    void OnDestroy() override { ++destroyed; }
};

// A probe dialog, created, with message boxes recorded.
class Dialog : public ::testing::Test {
protected:
    void SetUp() override {
        dlg.SetUiSink(&sink);
        dlg.Create();
    }
    QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(dlg.GetDlgItem(id)); }
    TestSink sink;
    ProbeDialog dlg;
};

TEST_F(Dialog, RefreshRewritesOnlyChangedTextsAndHandlersDoNotHearIt) {
    EXPECT_EQ(Edit(kUnsigned)->text(), "1");
    QLineEdit* text = Edit(kText);
    text->setCursorPosition(2);
    int rewrites = 0;
    QObject::connect(text, &QLineEdit::textChanged, [&rewrites] { ++rewrites; });
    dlg.first = 77;
    dlg.UpdateData(false);
    EXPECT_EQ(Edit(kUnsigned)->text(), "77");
    EXPECT_EQ(rewrites, 0);  // unchanged text: not rewritten, the cursor stays
    EXPECT_EQ(text->cursorPosition(), 2);
    dlg.text = "other";
    dlg.UpdateData(false);
    EXPECT_EQ(rewrites, 1);
    // Neither refresh reached the change handler; a key the operator types does.
    EXPECT_EQ(dlg.changes, 0);
    Edit(kUnsigned)->setFocus();
    QTest::keyClick(Edit(kUnsigned), Qt::Key_5);
    EXPECT_EQ(dlg.changes, 1);
}

TEST_F(Dialog, CommitStopsAtARejectedFieldAndSelectsIt) {
    Edit(kText)->setText("typed");
    Edit(kUnsigned)->setText("-1");
    Edit(kDouble)->setText("2.5");
    EXPECT_FALSE(dlg.UpdateData(true));
    ServeEvents();  // the box opens once the exchange is over
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, QStringLiteral("“请填入一个正整数。”"));
    EXPECT_EQ(sink.boxes[0].caption, "TORVA");
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Exclamation);
    EXPECT_EQ(dlg.text, "typed");       // before the rejected field: committed
    EXPECT_EQ(dlg.first, 1u);           // rejected: unchanged
    EXPECT_DOUBLE_EQ(dlg.value, -0.1);  // after it: untouched
    EXPECT_EQ(Edit(kUnsigned)->selectedText(), "-1");
    EXPECT_EQ(dlg.focusWidget(), Edit(kUnsigned));

    // A rejected number has its own message.
    Edit(kUnsigned)->setText("5");
    Edit(kDouble)->setText(".0");
    EXPECT_FALSE(dlg.UpdateData(true));
    ServeEvents();
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_EQ(sink.boxes[1].text, QStringLiteral("请键入一个数。"));
    Edit(kDouble)->setText("-1");
    EXPECT_TRUE(dlg.UpdateData(true));
    EXPECT_DOUBLE_EQ(dlg.value, -1.0);
}

TEST_F(Dialog, PanesAreWrittenLazilyButReadBackExactly) {
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

TEST_F(Dialog, ComboTypingLeavesNoSelectionAndAddsNoEntry) {
    dlg.combo.SetCurSel(1);
    EXPECT_EQ(dlg.combo.GetCurSel(), 1);
    auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItem(kCombo));
    combo->lineEdit()->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "zz");
    EXPECT_EQ(dlg.combo.GetCurSel(), -1);
    EXPECT_EQ(combo->currentText(), "zz");
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(combo->count(), 2);
}

TEST_F(Dialog, ButtonsAreNeverDefault) {
    auto* button = qobject_cast<QPushButton*>(dlg.GetDlgItem(kButton));
    EXPECT_FALSE(button->autoDefault());
    EXPECT_FALSE(button->isDefault());
    button->click();
    EXPECT_EQ(dlg.clicks, 1);
}

TEST_F(Dialog, BoxesFollowTheCaptionAndIconConventions) {
    qobject_cast<QPushButton*>(dlg.GetDlgItem(kFailing))->click();  // what the line could not do
    dlg.MessageBox("NO FOUND THE PORT");
    dlg.MessageBox("Successful!", "Success");
    ServeEvents();  // boxes open from the event loop, in the order they were raised
    ASSERT_EQ(sink.boxes.size(), 3u);
    EXPECT_EQ(sink.boxes[0].text, "Com9 (/dev/x): gone");
    EXPECT_EQ(sink.boxes[0].caption, "TORVA");
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Stop);
    EXPECT_EQ(sink.boxes[1].caption, "TORVA");
    EXPECT_EQ(sink.boxes[1].icon, BoxIcon::Exclamation);
    EXPECT_EQ(sink.boxes[2].caption, "Success");
    EXPECT_EQ(sink.boxes[2].icon, BoxIcon::None);
}

TEST_F(Dialog, EscapeClosesAndDestroysOnce) {
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(dlg.IsDestroyed());
    EXPECT_EQ(dlg.destroyed, 1);
    dlg.DestroyWindow();
    EXPECT_EQ(dlg.destroyed, 1);
}

TEST_F(Dialog, DialogUnitsFollowTheTemplateFont) {
    // 441 x 436 units of the 10-point template font make a window of about 772 x 763 pixels.
    const QRect r = dlg.DialogUnitsToPixels(0, 0, 441, 436);
    EXPECT_NEAR(r.width(), 772, 8);
    EXPECT_NEAR(r.height(), 763, 8);
}

}  // namespace
