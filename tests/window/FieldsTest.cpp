// The bound fields: what the operator types is committed on the documented triggers.
#include <QTest>

#include "WindowFixture.h"

namespace {

using Fields = WindowTest;

TEST_F(Fields, AddressCommitsOnEveryChange) {
    QLineEdit* address = Edit(IDC_EDIT_ADDRESS);
    address->setFocus();
    address->selectAll();
    QTest::keyClicks(address, "007");
    EXPECT_EQ(dlg->m_nAddress, 7u);
    EXPECT_TRUE(sink.boxes.empty());
    dlg->UpdateData(false);
    EXPECT_EQ(address->text(), "7");

    // Deleting the last character commits the empty field: rejected at once.
    QTest::keyClick(address, Qt::Key_Backspace);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, QStringLiteral("“请填入一个正整数。”"));
    EXPECT_EQ(dlg->m_nAddress, 7u);

    address->setText("99999999999");
    EXPECT_EQ(dlg->m_nAddress, 4294967295u);
    address->setText("-1");
    EXPECT_EQ(dlg->m_nAddress, 4294967295u);
    EXPECT_EQ(sink.boxes.size(), 2u);
}

TEST_F(Fields, NewAddressTakesDigitsOnly) {
    QLineEdit* edit = Edit(IDC_EDIT_NEW_ADDRESS);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, "1a2-");
    EXPECT_EQ(edit->text(), "12");
    EXPECT_EQ(dlg->m_nNewAddress, 12u);
}

TEST_F(Fields, DeclinationCommitsWhenItLosesTheFocus) {
    QLineEdit* edit = Edit(IDC_EDIT_DECLINATION);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, "-1");
    EXPECT_DOUBLE_EQ(dlg->m_dDeclination, -0.1);  // typing alone commits nothing
    Button(IDC_BTN_SETZERO)->setFocus();
    EXPECT_DOUBLE_EQ(dlg->m_dDeclination, -1.0);

    // Uncommitted text is replaced by the next refresh.
    edit->setFocus();
    edit->setText("5");
    dlg->UpdateData(false);
    EXPECT_EQ(edit->text(), "-1");
}

}  // namespace
