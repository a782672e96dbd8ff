// The calibration buttons: each sends its frame at once from its click, with what it does to the
// Manual button, the coverage labels and the sample count before and after.
#include <string>
#include <vector>

#include "WindowFixture.h"

namespace {

using Calibration = LiveWindow;
using CalibrationClosed = WindowTest;  // starts with the port closed

TEST_F(Calibration, EachButtonSendsItsFrameAtOnceAndLeavesThePendingCommandAlone) {
    struct Case {
        int button;
        const char* frame;
        bool manualEnabled;  // the Manual button afterwards
        const char* manualCaption;
    };
    // Manual starts disabled; the rows run in order, so each sees the state the last one left.
    const Case cases[] = {
        {IDC_BTN_CAL_START, "68 04 00 08 0C", false, "Manual"},
        {IDC_BTN_MMODE, "68 04 00 43 47", true, "Manual"},
        {IDC_BTN_MANUAL, "68 04 00 45 49", false, "Sampling"},
        {IDC_BTN_MMODE, "68 04 00 43 47", true, "Sampling"},
        {IDC_BTN_AMODE, "68 04 00 44 48", false, "Sampling"},
        {IDC_BTN_CAL_STOP, "68 04 00 09 0D", false, "Sampling"},
        {IDC_BTN_CAL_SAVE, "68 04 00 0A 0E", false, "Sampling"},
    };
    Click(IDC_BTN_SETZERO);  // waits for the next tick
    std::string sendLog;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frame);
        Click(c.button);
        EXPECT_EQ(SentHex(), c.frame);
        EXPECT_EQ(Button(IDC_BTN_MANUAL)->isEnabled(), c.manualEnabled);
        EXPECT_EQ(Text(IDC_BTN_MANUAL), c.manualCaption);
        // The Send line is shown at once: the handler refreshes the controls.
        sendLog += QString(c.frame).toLower().toStdString() + " \n";
        EXPECT_EQ(Text(IDC_EDIT_SEND).toStdString(), sendLog);
    }
    EXPECT_TRUE(sink.boxes.empty());
    Tick();
    EXPECT_EQ(SentHex(), "68 05 00 05 01 0B") << "the pending SetZero still goes out";
}

TEST_F(Calibration, StartClearsTheCoverageButKeepsTheSampleCount) {
    Receive(ModuleFrame(0x88, {0x07}));
    Receive(ModuleFrame(0x89, {0x00, 0x50, 0x40, 0x30}));
    ASSERT_EQ(Coverage(), "X:80% Y:64% Z:48%");
    Click(IDC_BTN_CAL_START);
    EXPECT_EQ(Coverage(), "X:0% Y:0% Z:0%");
    EXPECT_EQ(Text(IDC_STATIC_SAMPLES), "7");
    // Stop and the mode buttons change neither.
    for (int id : {IDC_BTN_CAL_STOP, IDC_BTN_AMODE, IDC_BTN_MMODE})
        Click(id);
    EXPECT_EQ(Coverage(), "X:0% Y:0% Z:0%");
    EXPECT_EQ(Text(IDC_STATIC_SAMPLES), "7");
}

TEST_F(Calibration, AGoodCountEndsTheWaitAndAnErrorLeavesItToTheTimeOut) {
    Click(IDC_BTN_MMODE);
    Click(IDC_BTN_MANUAL);
    Sent();
    Receive(ModuleFrame(0x88, {0xFF}));
    ExpectOneBox("Calibration Error!", "Error");
    EXPECT_FALSE(Button(IDC_BTN_MANUAL)->isEnabled());
    EXPECT_EQ(Text(IDC_BTN_MANUAL), "Sampling");
    EXPECT_EQ(Text(IDC_STATIC_SAMPLES), "0");

    // After the time-out the button is enabled but still reads "Sampling"; a new click starts a
    // fresh count of 100 ticks.
    Tick(100);
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_EQ(sink.boxes[1].text, "Time out ! Try again!");
    EXPECT_TRUE(Button(IDC_BTN_MANUAL)->isEnabled());
    EXPECT_EQ(Text(IDC_BTN_MANUAL), "Sampling");
    Click(IDC_BTN_MANUAL);
    EXPECT_EQ(SentHex(), "68 04 00 45 49");
    Tick(99);
    EXPECT_EQ(sink.boxes.size(), 2u);
    Tick();
    EXPECT_EQ(sink.boxes.size(), 3u);

    // A good count re-enables Manual with its caption, also after A-mode.
    Click(IDC_BTN_MANUAL);
    Click(IDC_BTN_AMODE);
    const int beeps = sink.beeps;
    Receive(ModuleFrame(0x88, {0x03}));
    EXPECT_EQ(sink.beeps - beeps, 1);
    EXPECT_TRUE(Button(IDC_BTN_MANUAL)->isEnabled());
    EXPECT_EQ(Text(IDC_BTN_MANUAL), "Manual");
    EXPECT_EQ(Text(IDC_STATIC_SAMPLES), "3");
}

TEST_F(CalibrationClosed, ManualWithThePortClosedWaitsUntilItIsOpenedAndTicksPass) {
    Click(IDC_BTN_MMODE);  // the adapter refuses: a stop box, but Manual is enabled first
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Stop);
    EXPECT_TRUE(Button(IDC_BTN_MANUAL)->isEnabled());
    sink.boxes.clear();

    Click(IDC_BTN_MANUAL);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].caption, "TORVA");
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Stop);
    EXPECT_FALSE(Button(IDC_BTN_MANUAL)->isEnabled());
    EXPECT_EQ(Text(IDC_BTN_MANUAL), "Sampling");
    EXPECT_EQ(Text(IDC_EDIT_SEND), "") << "nothing went out, nothing is logged";
    sink.boxes.clear();

    Tick(150);  // closed ticks do not count
    EXPECT_TRUE(sink.boxes.empty());
    EXPECT_FALSE(Button(IDC_BTN_MANUAL)->isEnabled());
    Open();
    Tick(100);
    ExpectOneBox("Time out ! Try again!", "Try again");
    EXPECT_TRUE(Button(IDC_BTN_MANUAL)->isEnabled());
}

}  // namespace
