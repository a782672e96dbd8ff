// The compass swing window and the declination window: fed reading by reading as the console
// feeds them, driven by clicks and typed keys, and opened from the console itself.
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateEdit>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Angles.h"
#include "DeclinationDialog.h"
#include "DeviationFit.h"
#include "SwingWindow.h"
#include "WindowFixture.h"

namespace {

constexpr std::int64_t kTenth = 100'000'000;
const std::array<double, 5> kDeviation = {1.5, -3.0, 2.0, 0.8, -0.6};

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <class T>
T* Child(QWidget* parent, const char* name) {
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

void ClickOn(QWidget* widget) {
    ASSERT_TRUE(widget && widget->isEnabled() && widget->isVisible());
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
}

// Types into a field as the operator does: the old text selected and replaced, then Enter.
void Type(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

class SwingTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::path(testing::TempDir()) /
                 ("torva_swing_" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        exports = folder / "exports";
        window = std::make_unique<SwingWindow>(
            [this] { return QString::fromStdString(exports.string()); });
        window->show();
        QApplication::setActiveWindow(window.get());
        deviation.terms = kDeviation;
    }
    void TearDown() override {
        window.reset();
        std::filesystem::remove_all(folder);
    }
    // What the compass reads at a magnetic heading.
    double Compass(double magnetic) const {
        double compass = magnetic;
        for (int i = 0; i < 100; ++i)
            compass = WrapHeading(magnetic - deviation.At(compass));
        return compass;
    }
    // Readings ten a second: the compass held at `heading` with a wobble of +-`wobble`.
    void Hold(double heading, double seconds, double wobble = 0.04) {
        for (int i = 0; i < static_cast<int>(seconds * 10); ++i)
            window->addReading(ns += kTenth, 0.5, -0.5,
                               WrapHeading(heading + (i % 2 ? wobble : -wobble)));
    }
    // Readings turning from one heading to another at 45 degrees a second.
    void Turn(double from, double to) {
        const double delta = WrapSigned(to - from);
        const int steps = std::max(1, static_cast<int>(std::fabs(delta) / 4.5));
        for (int i = 1; i <= steps; ++i)
            window->addReading(ns += kTenth, 0.0, 0.0, WrapHeading(from + delta * i / steps));
    }
    QTableWidget* Stops() { return Child<QTableWidget>(window.get(), "stops"); }
    QString Cell(int row, int column) {
        QTableWidgetItem* item = Stops()->item(row, column);
        return item ? item->text() : QString();
    }
    void SelectRow(int row) {
        QTableWidget* table = Stops();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualItemRect(table->item(row, 0)).center());
        ASSERT_EQ(window->SelectedSlot(), row);
    }

    std::filesystem::path folder, exports;
    std::unique_ptr<SwingWindow> window;
    DeviationCoefficients deviation;
    std::int64_t ns = 1'000'000'000'000;
};

TEST_F(SwingTest, EightStopsTakenByHandAndByThemselvesRecoverTheDeviationAndExport) {
    // Stop 1 (magnetic 000, where this compass reads 357.03): taken by hand while the heading
    // still swings, which is kept with a warning and marked; taken again once held.
    Turn(340.0, 10.0);
    Turn(10.0, Compass(0.0));
    ASSERT_EQ(window->SelectedSlot(), 0);
    ClickOn(Child<QPushButton>(window.get(), "take"));
    ASSERT_EQ(window->Taken().size(), 1u);
    EXPECT_FALSE(window->Taken()[0].steady);
    EXPECT_NE(window->Message().indexOf(QStringLiteral("taken while the heading was not steady")),
              -1)
        << window->Message().toStdString();
    EXPECT_EQ(Cell(0, 6), QStringLiteral("NO"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("TORVA - Compass swing (1 of 8 stops)"));
    // Held, not yet for the whole dwell: the automatic take leaves a stop that is taken alone.
    Hold(Compass(0.0), 5.5);
    EXPECT_TRUE(window->Dwell().steady);
    EXPECT_EQ(window->Taken().size(), 1u);
    SelectRow(0);
    ClickOn(Child<QPushButton>(window.get(), "take"));
    ASSERT_EQ(window->Taken().size(), 1u);
    EXPECT_TRUE(window->Taken()[0].steady);
    EXPECT_EQ(Cell(0, 6), QStringLiteral("yes"));
    EXPECT_NEAR(window->Taken()[0].compass, 357.03, 0.01);
    EXPECT_TRUE(window->Message().startsWith(QStringLiteral("Retook stop 1 at 000.0°")))
        << window->Message().toStdString();
    EXPECT_EQ(window->Fit()->terms, 1);

    // The rest by themselves, from stop 4 round across north: each after a turn and 6 s held.
    double at = Compass(0.0);
    for (const int stop : {3, 4, 5, 6, 7, 1, 2}) {
        const double compass = Compass(45.0 * stop);
        Turn(at, compass);
        at = compass;
        if (stop == 3) {
            // Held reading by reading until the stop is taken: a Take at once has no dwell of
            // its own, and does not take the next stop from this one's readings.
            for (int i = 0; i < 100 && !window->Slots()[3].taken; ++i)
                window->addReading(ns += kTenth, 0.5, -0.5, compass);
            ASSERT_TRUE(window->Slots()[3].taken);
            ClickOn(Child<QPushButton>(window.get(), "take"));
            EXPECT_EQ(window->Taken().size(), 2u);
            EXPECT_TRUE(window->Message().startsWith(QStringLiteral("No reading since the last")));
        }
        Hold(compass, 6.0);
        ASSERT_TRUE(window->Slots()[static_cast<std::size_t>(stop)].taken) << "stop " << stop + 1;
        if (window->Taken().size() == 3) {
            EXPECT_EQ(window->Fit()->terms, 3);
            EXPECT_TRUE(window->FitText().startsWith(QStringLiteral("Fitted A-C over 3 stops")));
        }
    }
    EXPECT_EQ(window->windowTitle(), QStringLiteral("TORVA - Compass swing (8 of 8 stops)"));
    ASSERT_TRUE(window->Fit());
    EXPECT_EQ(window->Fit()->terms, 5);
    for (std::size_t t = 0; t < 5; ++t)
        EXPECT_NEAR(window->Fit()->coefficients.terms[t], kDeviation[t], 0.01) << "ABCDE"[t];
    EXPECT_TRUE(
        window->VerdictText().startsWith(QStringLiteral("FAIL: the deviation reaches +5.1")))
        << window->VerdictText().toStdString();
    const QTableWidget* card = Child<QTableWidget>(window.get(), "card");
    EXPECT_EQ(card->item(0, 1)->text(), QStringLiteral("+2.9 E"));  // A + C + E at 000
    EXPECT_FALSE(Child<QComboBox>(window.get(), "schedule")->isEnabled());

    // Exports by their buttons: the CSV twice (a new name each time), the card as PDF and PNG.
    ClickOn(Child<QPushButton>(window.get(), "exportCsv"));
    ClickOn(Child<QPushButton>(window.get(), "exportCsv"));
    ClickOn(Child<QPushButton>(window.get(), "exportCard"));
    std::vector<std::filesystem::path> csvs, pdfs, pngs;
    for (const auto& entry : std::filesystem::directory_iterator(exports)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.rfind("Swing-", 0), 0u) << name;
        (entry.path().extension() == ".csv"   ? csvs
         : entry.path().extension() == ".pdf" ? pdfs
                                              : pngs)
            .push_back(entry.path());
    }
    ASSERT_EQ(csvs.size(), 2u) << window->Message().toStdString();
    ASSERT_EQ(pdfs.size(), 1u);
    ASSERT_EQ(pngs.size(), 1u);
    const std::string csv = ReadFile(csvs[0]);
    const std::string again = ReadFile(csvs[1]);  // the same but for the time in its first line
    EXPECT_EQ(csv.substr(csv.find('\n')), again.substr(again.find('\n')));
    std::istringstream lines(csv);
    int stopRows = 0;
    for (std::string line; std::getline(lines, line);) {
        stopRows += line.size() > 2 && line[0] >= '1' && line[0] <= '8' && line[1] == ',';
        if (line.rfind("B,", 0) == 0)
            EXPECT_EQ(line.substr(0, 5), "B,-3.") << line;
    }
    EXPECT_EQ(stopRows, 8);
    EXPECT_NE(csv.find("\n1,0.00,0,357.0"), std::string::npos);
    const std::string pdf = ReadFile(pdfs[0]);
    EXPECT_EQ(pdfs[0].stem().string().substr(pdfs[0].stem().string().size() - 5), "-card");
    EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
    EXPECT_NE(pdf.find("/Type /Page"), std::string::npos);
    QImage png;
    ASSERT_TRUE(png.load(QString::fromStdString(pngs[0].string()), "PNG"));
    EXPECT_EQ(png.size(), QSize(1260, 1782));
    EXPECT_NE(window->Message().indexOf(QStringLiteral("Saved the card to ")), -1);

    // A folder that cannot be made: nothing is written, and the window says why.
    std::ofstream(folder / "plain") << "x";
    exports = folder / "plain" / "sub";
    ClickOn(Child<QPushButton>(window.get(), "exportCsv"));
    EXPECT_TRUE(
        window->Message().startsWith(QStringLiteral("Nothing was exported: cannot create "
                                                    "the folder")))
        << window->Message().toStdString();
    ClickOn(Child<QPushButton>(window.get(), "exportCard"));
    EXPECT_TRUE(window->Message().startsWith(QStringLiteral("Nothing was exported")));

    // A new swing asks once more before letting go of stops exported nowhere since a change.
    SelectRow(4);
    ClickOn(Child<QPushButton>(window.get(), "discard"));
    EXPECT_EQ(window->Taken().size(), 7u);
    ClickOn(Child<QPushButton>(window.get(), "newSwing"));
    EXPECT_EQ(window->Taken().size(), 7u);
    EXPECT_NE(window->Message().indexOf(QStringLiteral("click New swing again")), -1);
    ClickOn(Child<QPushButton>(window.get(), "newSwing"));
    EXPECT_TRUE(window->Taken().empty());
    EXPECT_FALSE(window->Fit());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("TORVA - Compass swing (0 of 8 stops)"));
}

TEST_F(SwingTest, TypedReferencesAndSchedulesAndWhatIsRefused) {
    QLineEdit* reference = Child<QLineEdit>(window.get(), "reference");
    struct Case {
        int row;
        QString typed;
        QString shown;    // the field afterwards
        double expected;  // the stop's reference afterwards
        bool typedMark;
        QString message;  // the message starts with or holds this
    };
    const std::vector<Case> cases = {
        {0, QStringLiteral("360"), QStringLiteral("000.0"), 0.0, false,
         QStringLiteral("360 is north: stop 1 takes 000.0°.")},
        {0, QStringLiteral("-0"), QStringLiteral("000.0"), 0.0, false,
         QStringLiteral("-0 is north: stop 1 takes 000.0°.")},
        {1, QStringLiteral("46.2"), QStringLiteral("046.2"), 46.2, true,
         QStringLiteral("Stop 2: reference 046.2° (typed).")},
        {1, QStringLiteral("abc"), QStringLiteral("abc"), 46.2, true,
         QStringLiteral("“abc” is not a reference heading")},
        {1, QStringLiteral("400"), QStringLiteral("400"), 46.2, true,
         QStringLiteral("“400” is not a reference heading")},
        {1, QStringLiteral("-3"), QStringLiteral("-3"), 46.2, true,
         QStringLiteral("“-3” is not a reference heading")},
        {1, QStringLiteral("%2"), QStringLiteral("%2"), 46.2, true,
         QStringLiteral("“%2” is not a reference heading: type the magnetic heading of stop 2")},
        {2, QStringLiteral("45.5°"), QStringLiteral("045.5"), 45.5, true,
         QStringLiteral("Stops 2 and 3 are both at 045.5°: two stops at one heading")},
        {1, QString(), QStringLiteral("045.0"), 45.0, false, QStringLiteral("Stops 2 and 3 are")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        SelectRow(c.row);
        Type(reference, c.typed);
        const SwingWindow::Slot& slot = window->Slots()[static_cast<std::size_t>(c.row)];
        EXPECT_EQ(reference->text(), c.shown);
        EXPECT_NEAR(slot.reference, c.expected, 1e-9);
        EXPECT_EQ(slot.typed, c.typedMark);
        EXPECT_NE(window->Message().indexOf(c.message), -1) << window->Message().toStdString();
        if (c.shown == c.typed)  // refused: the text stays, selected whole, for correcting
            EXPECT_EQ(reference->selectedText(), c.typed);
    }

    // Nothing taken yet: nothing to take from, nothing to export.
    ClickOn(Child<QPushButton>(window.get(), "take"));
    EXPECT_TRUE(window->Message().startsWith(QStringLiteral("No reading has arrived")));
    EXPECT_FALSE(Child<QPushButton>(window.get(), "exportCsv")->isEnabled());
    EXPECT_EQ(window->ExportCsv(), QString());
    EXPECT_EQ(window->Message(),
              QStringLiteral("Take at least one stop first; nothing was exported."));
    EXPECT_FALSE(std::filesystem::exists(exports));

    // A typed schedule, chosen from the list by keys.
    QComboBox* schedule = Child<QComboBox>(window.get(), "schedule");
    schedule->setFocus();
    QTest::keyClick(schedule, Qt::Key_End);
    EXPECT_EQ(schedule->currentText(), QStringLiteral("typed list"));
    QLineEdit* list = Child<QLineEdit>(window.get(), "typedList");
    ASSERT_TRUE(list->isEnabled());
    Type(list, QStringLiteral("0, 90, 90.5"));
    EXPECT_NE(window->Message().indexOf(QStringLiteral("are two stops at one heading")), -1);
    EXPECT_EQ(window->Slots().size(), 8u);
    Type(list, QStringLiteral("0 90 x"));
    EXPECT_NE(window->Message().indexOf(QStringLiteral("“x” is not a heading")), -1);
    Type(list, QStringLiteral("10; 130, 250"));
    ASSERT_EQ(window->Slots().size(), 3u);
    EXPECT_DOUBLE_EQ(window->Slots()[1].reference, 130.0);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("TORVA - Compass swing (0 of 3 stops)"));
    // With three stops 120 degrees apart, a heading 11 degrees off a reference is not its stop
    // (automatic takes look within 10 degrees, and within 0.4 of the spacing).
    Hold(141.0, 6.0);
    EXPECT_TRUE(window->Taken().empty());
    Hold(136.0, 6.0);
    ASSERT_EQ(window->Taken().size(), 1u);
    EXPECT_EQ(window->Taken()[0].number, 2);
}

TEST_F(SwingTest, TiltCheckBandsTheHeadingChangeFromTheLevelReadings) {
    window->Tabs()->setCurrentIndex(1);
    QPushButton* start = Child<QPushButton>(window.get(), "tiltStart");
    ClickOn(start);
    ASSERT_TRUE(window->TiltRunning());
    EXPECT_EQ(start->text(), QStringLiteral("&Stop tilt check"));
    // Tilted first: no level reading, no reference.
    for (int i = 1; i <= 10; ++i)
        window->addReading(ns += kTenth, 20.0, 0.0, 201.0);
    ClickOn(start);
    EXPECT_FALSE(window->TiltRunning());
    EXPECT_FALSE(window->TiltReference());
    EXPECT_NE(window->TiltText().indexOf(QStringLiteral("none level yet")), -1);

    // Level at 200 across a tilt through pitch and then roll, 0.05 degrees a degree of tilt.
    ClickOn(start);
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i <= 350; ++i) {
            const double angle = i / 10.0;
            const double pitch = round == 0 ? angle : 0.0, roll = round == 0 ? 0.0 : -angle;
            window->addReading(ns += kTenth, pitch, roll,
                               WrapHeading(200.0 + 0.05 * TiltAngle(pitch, roll)));
        }
    }
    ClickOn(start);
    ASSERT_TRUE(window->TiltReference());
    EXPECT_NEAR(*window->TiltReference(), 200.05, 0.001);  // the mean of readings within 2 degrees
    ASSERT_TRUE(window->Tilt());
    EXPECT_FALSE(window->Tilt()->pass);
    EXPECT_DOUBLE_EQ(window->Tilt()->passesUpTo, 20.0);
    EXPECT_NE(window->TiltText().indexOf(QStringLiteral("FAIL: beyond ±1.0° from 20° of tilt on")),
              -1)
        << window->TiltText().toStdString();
    const QTableWidget* bands = Child<QTableWidget>(window.get(), "tiltBands");
    ASSERT_EQ(bands->rowCount(), 4);
    EXPECT_EQ(bands->item(2, 0)->text(), QStringLiteral("20–30°"));
    EXPECT_EQ(bands->item(2, 3)->text(), QStringLiteral("NO"));
    EXPECT_EQ(bands->item(0, 3)->text(), QStringLiteral("yes"));
}

// ---- From the console ----------------------------------------------------------------------

using ConsoleSwing = LiveWindow;

TEST_F(ConsoleSwing, CtrlKOpensTheSwingFedByTheReceivePath) {
    QApplication::setActiveWindow(dlg.get());
    QTest::keyClick(dlg.get(), Qt::Key_K, Qt::ControlModifier);
    auto* swing = dlg->findChild<SwingWindow*>();
    ASSERT_NE(swing, nullptr) << "Ctrl+K opened no swing window";
    EXPECT_TRUE(swing->isVisible() && swing->isWindow());
    EXPECT_EQ(swing->Dwell().count, 0u);

    Receive(kReading);  // heading 359.99 through the real receive path
    EXPECT_EQ(swing->Dwell().count, 1u);
    EXPECT_NEAR(swing->Dwell().mean, 359.99, 1e-6);
    EXPECT_EQ(Child<QLabel>(swing, "liveHeading")->text(), QStringLiteral("359.99°"));
    // A frame with a bad checksum reaches neither the displays nor the swing.
    auto bad = kReading;
    bad.back() ^= 1;
    Receive(bad);
    EXPECT_EQ(swing->Dwell().count, 1u);
    // Opened again from the menu: the same window, fed once per reading, not twice.
    ChooseFromMenu(*dlg, IDM_SWING);
    EXPECT_EQ(dlg->findChildren<SwingWindow*>().size(), 1);
    swing->StartTilt();
    Receive(kReading);
    swing->StopTilt();
    EXPECT_EQ(swing->Message(), QStringLiteral("Tilt check stopped after 1 reading."));
    QTest::keyClick(swing, Qt::Key_Escape);
    EXPECT_FALSE(swing->isVisible());
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(ConsoleSwing, DeclinationFromPositionGoesIntoTheFieldAsTypedAndOutWithSetMag) {
    ChooseFromMenu(*dlg, IDM_DECLINATION);
    auto* dialog = dlg->findChild<DeclinationDialog*>();
    ASSERT_NE(dialog, nullptr) << "the menu opened no declination window";
    QPushButton* use = Child<QPushButton>(dialog, "use");
    QLineEdit* latitude = Child<QLineEdit>(dialog, "latitude");
    QLineEdit* longitude = Child<QLineEdit>(dialog, "longitude");
    Child<QDateEdit>(dialog, "date")->setDate(QDate(2025, 1, 1));
    EXPECT_FALSE(use->isEnabled());

    struct Case {
        QString latitude, longitude;
        QString declination;  // empty: none
        QString message;      // held by the message line
    };
    const std::vector<Case> cases = {
        {QStringLiteral("80"), QStringLiteral("abc"), QString(),
         QStringLiteral("Longitude: “abc” is not a longitude")},
        {QStringLiteral("91"), QStringLiteral("0"), QString(),
         QStringLiteral("Latitude: “91” is not a latitude")},
        {QStringLiteral("90"), QStringLiteral("0"), QString(),
         QStringLiteral("the declination is undefined there")},
        {QStringLiteral("80S"), QStringLiteral("120W"), QStringLiteral("68.78"), QString()},
        {QStringLiteral("80"), QStringLiteral("0"), QStringLiteral("1.28"), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.latitude.toStdString() + " " + c.longitude.toStdString());
        Type(latitude, c.latitude);
        Type(longitude, c.longitude);
        EXPECT_EQ(dialog->DeclinationText(), c.declination);
        EXPECT_EQ(use->isEnabled(), !c.declination.isEmpty());
        if (!c.message.isEmpty())
            EXPECT_NE(dialog->Message().indexOf(c.message), -1) << dialog->Message().toStdString();
    }
    EXPECT_EQ(
        dialog->FrameText(),
        QStringLiteral("Set Mag. sends 68 06 00 06 00 12 1e (the module takes tenths: 1.2°)."));
    EXPECT_NE(dialog->ResultText().indexOf(QStringLiteral("Declination +1.28° east")), -1);

    ClickOn(use);
    EXPECT_EQ(Text(IDC_EDIT_DECLINATION), QStringLiteral("1.28"));
    EXPECT_DOUBLE_EQ(dlg->m_dDeclination, 1.28);
    Click(IDC_BTN_SETMAG);
    EXPECT_EQ(SentHex(), "68 06 00 06 00 12 1E");

    // After the model's years it warns; the value can still be used.
    Child<QDateEdit>(dialog, "date")->setDate(QDate(2030, 6, 1));
    EXPECT_NE(dialog->Message().indexOf(QStringLiteral("The model has expired")), -1);
    EXPECT_TRUE(use->isEnabled());
}

}  // namespace
