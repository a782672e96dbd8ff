#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <utility>

#include "AboutDlg.h"
#include "ReadingCharts.h"
#include "Styling.h"
#include "WindowFixture.h"

namespace {

// The main window as the program shows it: the application's dialog colours set first.
class LookTest : public WindowTest {
public:
    void SetUp() override {
        SetDialogColours();
        WindowTest::SetUp();
        ServeEvents();
    }
    QRect Area(int id) const { return dlg->GetDlgItem(id)->geometry(); }
    QImage Shot() const { return dlg->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

bool Near(QColor a, QColor b, int tolerance = 12) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

int CountNear(const QImage& image, const QRect& area, QColor colour, int tolerance = 12) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            count += Near(image.pixelColor(x, y), colour, tolerance);
    }
    return count;
}

TEST_F(LookTest, RenderedWindowShowsItsColours) {
    dlg->SetDlgItemText(IDC_STATIC_ROLL, QStringLiteral("-3.25"));
    dlg->SetDlgItemText(IDC_STATIC_SAMPLES, QStringLiteral("18"));
    const QImage shot = Shot();
    // Grey dialog background below the bottom group box; black reading area left of the labels.
    const QRect grey = dlg->DialogUnitsToPixels(2, 426, 430, 8);
    EXPECT_EQ(CountNear(shot, grey, kDialogGrey, 0), grey.width() * grey.height());
    const QRect reading = dlg->DialogUnitsToPixels(154, 100, 4, 160);
    EXPECT_EQ(CountNear(shot, reading, Qt::black, 0), reading.width() * reading.height());

    struct Expect {
        int id;
        QColor text;
        QColor background;
        int minText;  // the small labels are drawn in thin, anti-aliased strokes
    };
    const Expect table[] = {
        {IDC_STATIC_HEADING, kHeadingColour, Qt::black, 200},
        {IDC_STATIC_HEAD_LABEL, kHeadingColour, Qt::black, 20},
        {IDC_STATIC_PITCH, kPitchColour, Qt::black, 200},
        {IDC_STATIC_PITCH_LABEL, kPitchColour, Qt::black, 20},
        {IDC_STATIC_ROLL, kRollColour, Qt::black, 200},  // "-3.25"
        {IDC_STATIC_ROLL_LABEL, kRollColour, Qt::black, 20},
        {IDC_STATIC_SAMPLES, kSampleYellow, kCalibrationRed, 200},
        {IDC_STATIC_SAMPLE_LABEL, Qt::white, kCalibrationRed, 1},
        {IDC_STATIC_RESULT, Qt::white, kCalibrationRed, 1},
        {IDC_STATIC_X, Qt::white, kCalibrationRed, 1},
    };
    for (const Expect& e : table) {
        const QRect area = Area(e.id);
        const int text = CountNear(shot, area, e.text, 40);
        const int background = CountNear(shot, area, e.background, 2);
        EXPECT_GT(text, e.minText) << e.id;
        EXPECT_GT(background, area.width() * area.height() / 3) << e.id;
        EXPECT_EQ(
            text + CountNear(shot, area, e.background, 80) > 0.8 * area.width() * area.height(),
            true)
            << e.id << ": other colours inside the control";
    }
    // The big fonts fill their displays: the roll text is tall, not template-sized.
    const QRect roll = Area(IDC_STATIC_ROLL);
    int top = roll.bottom(), bottom = roll.top();
    for (int y = roll.top(); y <= roll.bottom(); ++y) {
        for (int x = roll.left(); x <= roll.right(); ++x) {
            if (Near(shot.pixelColor(x, y), kRollColour, 40)) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    EXPECT_GT(bottom - top, 55) << "digits of a 100-pixel cell are about 63 pixels tall";
}

TEST_F(LookTest, FontsAreExtraBoldArialOfTheirCellHeight) {
    const std::pair<int, int> table[] = {
        {IDC_STATIC_ROLL, 100},      {IDC_STATIC_PITCH, 100},      {IDC_STATIC_HEADING, 100},
        {IDC_STATIC_SAMPLES, 105},   {IDC_STATIC_CALIBRATION, 25}, {IDC_BTN_GOSTOP, 25},
        {IDC_STATIC_HEAD_LABEL, 25}, {IDC_STATIC_PITCH_LABEL, 25}, {IDC_STATIC_ROLL_LABEL, 25},
    };
    for (const auto& [id, cell] : table) {
        const QFont font = dlg->GetDlgItem(id)->font();
        EXPECT_NEAR(QFontMetrics(font).height(), cell, 2) << id;
        EXPECT_EQ(font.weight(), QFont::ExtraBold) << id;
        EXPECT_FALSE(font.italic() || font.underline() || font.strikeOut()) << id;
        EXPECT_EQ(QFontInfo(font).family(), QFontInfo(QFont(QStringLiteral("Arial"))).family());
    }
    EXPECT_EQ(dlg->GetDlgItem(IDC_BTN_OPENCOM)->font(), dlg->font())
        << "others keep the template font";
}

// Colours and fonts are set once when the window is built; updates only change text.
TEST_F(LookTest, RepeatedUpdatesTouchNoPaletteOrFont) {
    int changes = 0;
    class Counter : public QObject {
    public:
        explicit Counter(int& n) : m_n(n) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::PaletteChange || e->type() == QEvent::FontChange ||
                e->type() == QEvent::StyleChange)
                ++m_n;
            return false;
        }
        int& m_n;
    } counter(changes);
    for (QWidget* child : dlg->findChildren<QWidget*>())
        child->installEventFilter(&counter);
    for (int i = 0; i < 2000; ++i) {
        dlg->SetDlgItemText(IDC_STATIC_SAMPLES, QString::number(i % 50));
        dlg->SetDlgItemText(IDC_STATIC_X, QStringLiteral("X:%1%").arg(i % 100));
        dlg->SetDlgItemText(IDC_STATIC_ROLL, QString::number(i * 0.01 - 10, 'f', 2));
        if (i % 100 == 0)
            dlg->repaint();
    }
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(dlg->GetDlgItem(IDC_STATIC_X)->palette().window(), dlg->m_brCalibration);
}

TEST_F(LookTest, PortIndicatorIsWhiteWhenClosedAndRedWhenOpen) {
    const QRect icon = Area(IDC_STATIC_PORT_STATE);
    const QPoint centre = icon.topLeft() + QPoint(16, 16);
    EXPECT_TRUE(Near(Shot().pixelColor(centre), Qt::white, 0));
    Open();
    EXPECT_TRUE(Near(Shot().pixelColor(centre), kRollColour, 0));
    Click(IDC_BTN_OPENCOM);
    EXPECT_TRUE(Near(Shot().pixelColor(centre), Qt::white, 0));
}

TEST_F(LookTest, EveryControlHasAnAccessibleName) {
    for (QWidget* child : dlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const int id = child->property("ctrlId").toInt();
        if (id > 0) {
            EXPECT_FALSE(child->accessibleName().isEmpty()) << id;
        }
    }
    const std::pair<int, const char*> table[] = {
        {IDC_EDIT_RECEIVED, "Received"}, {IDC_EDIT_SEND, "Send"},
        {IDC_EDIT_ADDRESS, "Address"},   {IDC_EDIT_NEW_ADDRESS, "New address"},
        {IDC_EDIT_RATE, "Frame rate"},   {IDC_EDIT_DECLINATION, "Declination"},
        {IDC_STATIC_HEADING, "Head:"},   {IDC_BTN_OPENCOM, "OpenCom"},
    };
    for (const auto& [id, name] : table)
        EXPECT_EQ(dlg->GetDlgItem(id)->accessibleName(), QString::fromUtf8(name)) << id;
}

TEST_F(LookTest, EnterReachesNoControlAndEscapeCloses) {
    auto* received = qobject_cast<QPlainTextEdit*>(dlg->GetDlgItem(IDC_EDIT_RECEIVED));
    ASSERT_NE(received, nullptr);
    const int keys[] = {Qt::Key_Return, Qt::Key_Enter};
    for (const int key : keys) {
        for (const int id : {IDC_EDIT_ADDRESS, IDC_EDIT_DECLINATION, IDC_EDIT_RECEIVED,
                             IDC_BTN_OPENCOM, IDC_BTN_SETZERO}) {
            QWidget* target = dlg->GetDlgItem(id);
            target->setFocus();
            const QString before = Text(id);
            QTest::keyClick(target, static_cast<Qt::Key>(key));
            ServeEvents();
            EXPECT_EQ(Text(id), before) << id;
            EXPECT_TRUE(dlg->isVisible()) << id;
        }
    }
    EXPECT_EQ(dlg->m_bPortOpen, 0) << "Enter pressed OpenCom";
    EXPECT_TRUE(Sent(20).empty());
    EXPECT_TRUE(sink.boxes.empty());
    EXPECT_EQ(received->toPlainText(), QString());

    QTest::keyClick(Edit(IDC_EDIT_ADDRESS), Qt::Key_Escape);
    EXPECT_TRUE(dlg->IsDestroyed());
    EXPECT_FALSE(dlg->isVisible());
}

// Runs `act` on the About box once it is the modal window, from the nested event loop.
void OnAboutBox(const std::function<void(QWidget*)>& act, bool& seen) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act, &seen] {
        if (QMenu* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions()) {
                if (action->data().toInt() == IDM_ABOUTBOX) {
                    menu->setActiveAction(action);
                    QTest::keyClick(menu, Qt::Key_Return);
                }
            }
            return;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && qobject_cast<CAboutDlg*>(modal) && modal->isVisible()) {
            seen = true;
            act(modal);
            poll->deleteLater();
        }
    });
    poll->start(5);
    QTimer::singleShot(5000, poll, [poll] { poll->deleteLater(); });  // deadline
}

TEST_F(LookTest, AboutBoxOpensFromTheContextMenuAndClosesWithItsButtonOrEscape) {
    ASSERT_NE(dlg->GetSystemMenu(), nullptr);
    const QList<QAction*> items = dlg->GetSystemMenu()->actions();
    // The live plot's, swing's, declination's, the search's and the ports' entries first.
    ASSERT_EQ(items.size(), 8);
    EXPECT_TRUE(items[0]->isSeparator());
    EXPECT_EQ(items[7]->text(), QStringLiteral("关于 TORVA(&A)..."));

    for (const bool byEscape : {false, true}) {
        bool seen = false;
        QString caption, text;
        bool okIsDefault = false;
        OnAboutBox(
            [&](QWidget* about) {
                caption = about->windowTitle();
                for (QLabel* label : about->findChildren<QLabel*>())
                    text += label->text();
                auto* ok =
                    qobject_cast<QPushButton*>(static_cast<CDialogBase*>(about)->GetDlgItem(IDOK));
                okIsDefault = ok && ok->isDefault() && ok->text() == QStringLiteral("确定");
                if (byEscape)
                    QTest::keyClick(about, Qt::Key_Escape);
                else if (ok)
                    ok->click();
            },
            seen);
        // A right click on the window background (here: beside the logo).
        const QPoint at = dlg->DialogUnitsToPixels(100, 48, 0, 0).topLeft();
        QContextMenuEvent click(QContextMenuEvent::Mouse, at, dlg->mapToGlobal(at));
        QApplication::sendEvent(dlg.get(), &click);

        EXPECT_TRUE(seen) << "no About box";
        EXPECT_EQ(caption, QStringLiteral("关于 TORVA"));
        EXPECT_EQ(text, QStringLiteral("TORVA 1.0 版"));
        EXPECT_TRUE(okIsDefault);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the box is still open";
        EXPECT_TRUE(dlg->isVisible() && !dlg->IsDestroyed());
    }
}

TEST_F(LookTest, ListsShowEveryEntryWholeInTheirFieldAndTheirDropDown) {
    for (const int id : {IDC_COMBO_PORT, IDC_COMBO_BAUD, IDC_COMBO_MODULE_BAUD}) {
        auto* list = qobject_cast<QComboBox*>(dlg->GetDlgItem(id));
        ASSERT_NE(list, nullptr);
        QLineEdit* field = list->lineEdit();
        // Where the field, once painted, draws the first and the end of its text: scrolled to
        // keep the end in view when the text does not fit ("Com20" showed as ":om20").
        const auto drawn = [&] {
            field->selectAll();
            field->grab();
            return std::pair{field->inputMethodQuery(Qt::ImAnchorRectangle).toRect().center().x(),
                             field->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x()};
        };
        field->setText(QStringLiteral("C"));
        const int start = drawn().first;
        for (int i = 0; i < list->count(); ++i) {
            list->setCurrentIndex(i);
            const auto [first, end] = drawn();
            EXPECT_EQ(first, start) << list->currentText().toStdString() << " is cut at the left";
            EXPECT_LT(end, field->width()) << list->currentText().toStdString();
        }
        // The drop-down list leaves every entry room for its whole text ("C…0" otherwise).
        list->showPopup();
        ServeEvents();
        QAbstractItemView* view = list->view();
        ASSERT_TRUE(view->isVisible());
        EXPECT_GE(view->viewport()->width(), view->sizeHintForColumn(0)) << id;
        list->hidePopup();
    }
}

TEST_F(LookTest, WindowIconIsTheWheel) {
    const QImage icon = dlg->windowIcon().pixmap(32, 32).toImage();
    ASSERT_FALSE(icon.isNull());
    EXPECT_GT(
        CountNear(icon.convertToFormat(QImage::Format_RGB32), icon.rect(), QColor(220, 20, 20), 30),
        100);
}

}  // namespace
