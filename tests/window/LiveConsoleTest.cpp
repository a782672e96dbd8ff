// The live console: readings and answers as the window shows them, the boxes they raise, the
// poll and rate ticks on screen, GO/STOP and the configuration buttons.
#include <QEvent>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ReadingHistory.h"
#include "WindowFixture.h"

namespace {

using Assembly = LiveWindow;
using Answers = LiveWindow;
using Polling = LiveWindow;

const std::string kNothingShown = "+0.00 +0.00 0.0";

// Counts the paint events of one window's widgets.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* window) : m_window(window) { qApp->installEventFilter(this); }
    ~PaintCounter() override { qApp->removeEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Paint && widget != nullptr && widget->window() == m_window)
            ++paints;
        return false;
    }

private:
    QWidget* m_window;
};

// The receive path is the session's; the window shows a reading at the next tick only, and the
// Received pane what the session logged.
TEST_F(Assembly, AReadingIsShownOnlyAtTheNextTick) {
    auto bad = kReading;
    bad.back() = 0x43;
    Receive(Joined({Bytes({0x00}), kReading}));  // dropped whole
    Receive(bad);
    Tick();
    EXPECT_EQ(ShownReadings(), kNothingShown);
    Receive(kReading);
    EXPECT_EQ(Text(IDC_EDIT_RECEIVED).toStdString(),
              "00 " + Hex(bad) + " \n" + Hex(kReading) + " \n");
    EXPECT_EQ(ShownReadings(), kNothingShown);  // nothing is displayed by the answer itself
    Tick();
    EXPECT_EQ(ShownReadings(), kReadingShown);
    EXPECT_EQ(RateTick(), "   2Hz");
    EXPECT_TRUE(sink.boxes.empty());
}

TEST_F(Answers, AcknowledgementBoxesAndTheAcceptedAddress) {
    struct Case {
        std::uint8_t code, result;
        const char *text, *caption;
        std::uint32_t address;  // after the answer, the new-address field holding 5
    };
    Edit(IDC_EDIT_NEW_ADDRESS)->setText("5");
    const Case cases[] = {
        {0x85, 0x00, "Successful!", "Success", 0}, {0x85, 0x01, "Error!", "Error", 0},
        {0x85, 0xFF, "Error!", "Error", 0},        {0x8B, 0x00, "Successful!", "Success", 0},
        {0x8B, 0x07, "Error!", "Error", 0},        {0x8F, 0x01, "Error!", "Error", 0},
        {0x8F, 0x00, "Successful!", "Success", 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.code) << " " << int(c.result));
        sink.boxes.clear();
        Receive(ModuleFrame(c.code, {c.result}));
        ExpectOneBox(c.text, c.caption);
        EXPECT_EQ(dlg->m_nAddress, c.address);
    }
    EXPECT_EQ(Text(IDC_EDIT_ADDRESS), "5");
    EXPECT_EQ(sink.beeps, 0);
    // Later requests carry the new address; the declination frame keeps 00.
    Click(IDC_BTN_SETMAG);
    EXPECT_EQ(SentHex(), "68 06 00 06 10 01 1D");
    Click(IDC_BTN_GOSTOP);
    Tick();
    EXPECT_EQ(SentHex(), "68 04 05 04 0D");
}

TEST_F(Answers, CalibrationAnswersFillTheSampleAndCoverageDisplays) {
    struct Case {
        std::uint8_t code;
        std::vector<std::uint8_t> payload;
        const char* box;  // caption "Error"; nullptr: no box
        int beeps;
        const char *samples, *coverage;
    };
    const char* const kFull = "X:100% Y:100% Z:100%";
    const char* const kMixed = "X:200% Y:255% Z:0%";
    const Case cases[] = {
        {0x88, {0xFE}, nullptr, 1, "254", kFull},
        {0x88, {0x00}, nullptr, 1, "0", kFull},
        {0x88, {0xFF}, "Calibration Error!", 0, "0", kFull},
        {0x89, {0x00, 0x64, 0x5F, 0x03}, nullptr, 0, "0", "X:100% Y:95% Z:3%"},
        // Any status but FF is a result, and values are shown as they come, above 100 too.
        {0x89, {0x01, 0xC8, 0xFF, 0x00}, nullptr, 0, "0", kMixed},
        {0x89, {0xFF, 0x01, 0x02, 0x03}, "Calibration Stop Error!", 0, "0", kMixed},
        {0x88, {0x0C}, nullptr, 1, "12", kMixed},
        {0x8A, {0xFF}, "Calibration Save Error!", 0, "12", kMixed},
        {0x8A, {0x00}, nullptr, 1, "0", "X:0% Y:0% Z:0%"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex(ModuleFrame(c.code, c.payload)));
        sink.boxes.clear();
        const int beeps = sink.beeps;
        Receive(ModuleFrame(c.code, c.payload));
        if (c.box)
            ExpectOneBox(c.box, "Error");
        else
            EXPECT_TRUE(sink.boxes.empty());
        EXPECT_EQ(sink.beeps - beeps, c.beeps);
        EXPECT_EQ(Text(IDC_STATIC_SAMPLES), c.samples);
        EXPECT_EQ(Coverage(), c.coverage);
    }
}

TEST_F(Answers, AReadIsTakenWholeBeforeItsBoxAndAReadingArrivingUnderTheBoxIsTakenInsideIt) {
    const auto ack = ModuleFrame(0x8B, {0x00});
    const auto rest = ModuleFrame(0x84, {0x00, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x03, 0x00});
    bool takenInside = false;
    std::string loggedWhenOpened;
    sink.whileBoxOpen = [&](const MessageBoxRequest&) {
        if (!takenInside) {
            loggedWhenOpened = dlg->session().log().receivedText();
            pty->Write(kReading);
            takenInside = WaitFor([&] { return dlg->m_dPitch < 0.0; });
        }
    };
    // The box opens once the read that raised it has been taken whole; a reading that arrives
    // while it is open is taken inside it, with no further traffic.
    Receive(Joined({ack, rest}));
    ASSERT_TRUE(WaitFor([&] { return !sink.boxes.empty(); }));
    EXPECT_EQ(loggedWhenOpened, LogLine(ack) + LogLine(rest));
    EXPECT_TRUE(takenInside) << "the reading waited for more traffic";
    EXPECT_EQ(dlg->session().log().receivedText(),
              LogLine(ack) + LogLine(rest) + LogLine(kReading));
    Tick();
    EXPECT_EQ(ShownReadings(), kReadingShown);
}

TEST_F(Answers, EveryAnswerOfAReadShowsItsBoxAndAStormOfAnswersWaitsBounded) {
    const auto ok = ModuleFrame(0x85, {0x00}), error = ModuleFrame(0x8B, {0x01});
    const auto texts = [&] {
        std::vector<std::string> shown;
        for (const MessageBoxRequest& box : sink.boxes)
            shown.push_back(box.text.toStdString());
        return shown;
    };
    // A box already waiting with the same text does not swallow a later answer.
    Receive(Joined({ok, error, ok}));
    OpenRaisedBoxes();
    EXPECT_EQ(texts(), (std::vector<std::string>{"Successful!", "Error!", "Successful!"}));

    // Answers far faster than the operator closes boxes, all while the first box is open: runs
    // of one answer, a one-off calibration error, and alternating answers; a reading ends it.
    sink.boxes.clear();
    std::vector<std::uint8_t> storm;
    std::string last;
    const auto add = [&](const std::vector<std::uint8_t>& frame, int times) {
        for (int i = 0; i < times; ++i)
            storm.insert(storm.end(), frame.begin(), frame.end());
        last = frame == ok ? "Successful!" : frame == error ? "Error!" : "Calibration Error!";
    };
    add(ok, 20);
    add(ModuleFrame(0x88, {0xFF}), 1);
    for (int i = 0; i < 120; ++i)
        add(i % 2 ? ok : error, i % 40 == 7 ? 5 : 1);
    bool stormed = false;
    sink.whileBoxOpen = [&](const MessageBoxRequest&) {
        if (std::exchange(stormed, true))
            return;
        pty->Write(Joined({storm, kReading}));
        EXPECT_TRUE(WaitFor([&] { return dlg->m_dPitch < 0.0; }, 5000));
    };
    Receive(error);
    OpenRaisedBoxes();
    ASSERT_TRUE(stormed);
    const std::vector<std::string> shown = texts();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), "Error!");
    EXPECT_EQ(shown.back(), last) << "the last box is not the latest answer";
    EXPECT_LE(shown.size(), 1u + 8u) << "the boxes piled up";
    EXPECT_NE(std::find(shown.begin(), shown.end(), "Calibration Error!"), shown.end());
    EXPECT_EQ(std::adjacent_find(shown.begin(), shown.end()), shown.end())
        << "one text twice in a row";
    EXPECT_EQ(std::count(shown.begin(), shown.end(), "Calibration Error!"), 1);
}

TEST_F(Polling, ReadingDisplayFormats) {
    // Payloads: pitch, roll, heading.
    const std::pair<std::vector<std::uint8_t>, const char*> cases[] = {
        {{0x10, 0x12, 0x50, 0x10, 0x12, 0x50, 0x03, 0x59, 0x99}, "-12.50 -12.50 360.0"},
        {{0x00, 0x00, 0x01, 0x09, 0x99, 0x99, 0x00, 0x05, 0x00}, "+0.01 +999.99 5.0"},
        // Any non-zero sign nibble is negative; the heading keeps its sign too.
        {{0x20, 0x01, 0x00, 0xF0, 0x00, 0x10, 0x10, 0x00, 0x50}, "-1.00 -0.10 -0.5"},
        {{0x01, 0x80, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x04}, "+180.00 +0.05 0.0"},
    };
    for (const auto& [payload, shown] : cases) {
        Receive(ModuleFrame(0x84, payload));
        Tick();
        EXPECT_EQ(ShownReadings(), shown);
    }
}

TEST_F(Polling, EachConfigurationButtonsFrameGoesOutAtTheNextTick) {
    Combo(IDC_COMBO_MODULE_BAUD)->setCurrentIndex(5);
    const std::pair<int, const char*> cases[] = {
        {IDC_BTN_SETZERO, "68 05 00 05 01 0B"}, {IDC_BTN_CANCELZERO, "68 05 00 05 00 0A"},
        {IDC_BTN_SETADDR, "68 05 00 0F 00 14"}, {IDC_BTN_SET_BAUD, "68 05 00 0B 05 15"},
        {IDC_BTN_AUTOOUT, "68 05 00 0C 01 12"}, {IDC_BTN_CATECHISM, "68 05 00 0C 00 11"},
        {IDC_BTN_HORIZON, "68 05 00 2A 00 2F"}, {IDC_BTN_VERTICAL, "68 05 00 2A 01 30"},
    };
    for (const auto& [button, frame] : cases) {
        SCOPED_TRACE(frame);
        Click(button);
        EXPECT_EQ(SentHex(), "") << "a button never sends by itself";
        Tick();
        EXPECT_EQ(SentHex(), frame);
    }
    // Two clicks within one period: only the second goes out. No module speed selected: FF.
    Combo(IDC_COMBO_MODULE_BAUD)->setCurrentIndex(-1);
    Click(IDC_BTN_SETZERO);
    Click(IDC_BTN_SET_BAUD);
    Tick();
    EXPECT_EQ(SentHex(), "68 05 00 0B FF 0F");
    EXPECT_TRUE(sink.boxes.empty());
}

TEST_F(Polling, GoStopTogglesReadRequestsAndTheFiveButtons) {
    const int locked[] = {IDC_BTN_AMODE, IDC_BTN_CAL_START, IDC_BTN_MMODE, IDC_BTN_CAL_SAVE,
                          IDC_BTN_SETMAG};
    Tick();
    EXPECT_EQ(SentHex(), "");  // idle: no read requests
    Click(IDC_BTN_GOSTOP);
    EXPECT_EQ(Text(IDC_BTN_GOSTOP), "STOP");
    for (int id : locked)
        EXPECT_FALSE(Button(id)->isEnabled()) << id;
    for (int id :
         {IDC_BTN_CAL_STOP, IDC_BTN_SETZERO, IDC_BTN_CANCELZERO, IDC_BTN_SETADDR, IDC_BTN_SET_BAUD,
          IDC_BTN_AUTOOUT, IDC_BTN_CATECHISM, IDC_BTN_HORIZON, IDC_BTN_VERTICAL, IDC_BTN_GOSTOP})
        EXPECT_TRUE(Button(id)->isEnabled()) << id;
    EXPECT_FALSE(Button(IDC_BTN_MANUAL)->isEnabled());  // not touched: still as at start-up
    Tick(3);
    EXPECT_EQ(SentHex(), kReadRequest + " " + kReadRequest + " " + kReadRequest);
    Click(IDC_BTN_SETZERO);
    Tick();
    EXPECT_EQ(SentHex(), "68 05 00 05 01 0B");  // in place of the read request
    Tick();
    EXPECT_EQ(SentHex(), kReadRequest);
    Click(IDC_BTN_GOSTOP);
    EXPECT_EQ(Text(IDC_BTN_GOSTOP), "GO");
    for (int id : locked)
        EXPECT_TRUE(Button(id)->isEnabled()) << id;
    Tick();
    EXPECT_EQ(SentHex(), "");
}

TEST_F(Polling, AMinimisedWindowPaintsNothingAndWritesNoPaneWhilePollingGoesOn) {
    dlg->showMinimized();
    ASSERT_FALSE(dlg->IsOnScreen());
    Click(IDC_BTN_GOSTOP);
    int paneWrites = 0;
    for (const int id : {IDC_EDIT_SEND, IDC_EDIT_RECEIVED}) {
        auto* pane = qobject_cast<QPlainTextEdit*>(dlg->GetDlgItem(id));
        QObject::connect(pane->document(), &QTextDocument::contentsChanged, pane,
                         [&paneWrites] { ++paneWrites; });
    }
    PaintCounter counter(dlg.get());

    // Real ticks, and a module that answers every read request: six answers take six ticks,
    // time enough for the 100 ms pane writes and repaints to have come several times.
    dlg->session().start();
    std::size_t requestBytes = 0;
    int answered = 0;
    const auto answeredAll = [&] {
        requestBytes +=
            pty->Read(std::chrono::milliseconds(0), std::chrono::milliseconds(0)).size();
        for (; answered < static_cast<int>(requestBytes / 5); ++answered)
            pty->Write(kReading);
        return answered >= 6 &&
               dlg->session().log().receivedText().size() >= 6 * LogLine(kReading).size();
    };
    ASSERT_TRUE(WaitFor(answeredAll, 10000));
    EXPECT_EQ(counter.paints, 0);
    EXPECT_EQ(paneWrites, 0);
    // The wire, the logs and the displays' texts carried on as ever.
    EXPECT_GE(std::count(dlg->session().log().sendText().begin(),
                         dlg->session().log().sendText().end(), '\n'),
              6);
    EXPECT_EQ(Text(IDC_STATIC_ROLL) + ' ' + Text(IDC_STATIC_HEADING), "+5.60 360.0");

    // Shown again: the panes are written and the window repaints.
    dlg->showNormal();
    EXPECT_TRUE(dlg->IsOnScreen());
    EXPECT_GT(paneWrites, 0);
    EXPECT_TRUE(WaitFor([&] { return counter.paints > 0; }));
    dlg->session().stop();
}

}  // namespace
