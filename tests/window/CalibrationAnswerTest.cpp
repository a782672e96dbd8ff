// What the calibration answers do to the Sample display, the coverage labels and Manual.
#include "LiveWindowFixture.h"

namespace {

using CalibrationAnswers = LiveWindow;

TEST_F(CalibrationAnswers, SampleCountEndsTheManualWait) {
    Click(IDC_BTN_MMODE);
    Click(IDC_BTN_MANUAL);
    EXPECT_EQ(SentHex(), "68 04 00 43 47 68 04 00 45 49");
    EXPECT_FALSE(Button(IDC_BTN_MANUAL)->isEnabled());
    EXPECT_EQ(Text(IDC_BTN_MANUAL), "Sampling");

    Receive(ModuleFrame(0x88, {0xFE}));
    EXPECT_EQ(sink.beeps, 1);
    EXPECT_EQ(Text(IDC_STATIC_SAMPLES), "254");
    EXPECT_TRUE(Button(IDC_BTN_MANUAL)->isEnabled());
    EXPECT_EQ(Text(IDC_BTN_MANUAL), "Manual");
    // The wait is over: no time-out follows.
    for (int i = 0; i < 120; ++i)
        Tick();
    EXPECT_TRUE(sink.boxes.empty());

    Click(IDC_BTN_MANUAL);
    Receive(ModuleFrame(0x88, {0x00}));
    EXPECT_EQ(sink.beeps, 2);
    EXPECT_EQ(Text(IDC_STATIC_SAMPLES), "0");
    EXPECT_TRUE(Button(IDC_BTN_MANUAL)->isEnabled());
    EXPECT_EQ(Text(IDC_BTN_MANUAL), "Manual");
    EXPECT_TRUE(sink.boxes.empty());
}

TEST_F(CalibrationAnswers, SampleCountErrorChangesNothingAndLeavesTheWaitToTheTimeOut) {
    Click(IDC_BTN_MMODE);
    Click(IDC_BTN_MANUAL);
    Receive(ModuleFrame(0x88, {0x07}));
    Click(IDC_BTN_MANUAL);
    Receive(ModuleFrame(0x88, {0xFF}));
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Calibration Error!");
    EXPECT_EQ(sink.boxes[0].caption, "Error");
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::None);
    EXPECT_EQ(sink.beeps, 1);
    EXPECT_EQ(Text(IDC_STATIC_SAMPLES), "7");
    EXPECT_FALSE(Button(IDC_BTN_MANUAL)->isEnabled());
    EXPECT_EQ(Text(IDC_BTN_MANUAL), "Sampling");
    for (int i = 0; i < 100; ++i)
        Tick();
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_EQ(sink.boxes[1].text, "Time out ! Try again!");
}

TEST_F(CalibrationAnswers, SampleCountAfterAModeStillEnablesManual) {
    Click(IDC_BTN_MMODE);
    Click(IDC_BTN_MANUAL);
    Click(IDC_BTN_AMODE);
    EXPECT_FALSE(Button(IDC_BTN_MANUAL)->isEnabled());
    Receive(ModuleFrame(0x88, {0x05}));
    EXPECT_TRUE(Button(IDC_BTN_MANUAL)->isEnabled());
    EXPECT_EQ(Text(IDC_BTN_MANUAL), "Manual");
    EXPECT_EQ(Text(IDC_STATIC_SAMPLES), "5");
}

TEST_F(CalibrationAnswers, StopResultFillsTheCoverageLabels) {
    Receive(ModuleFrame(0x89, {0x00, 0x64, 0x32, 0x0A}));
    EXPECT_EQ(Coverage(), "X:100% Y:50% Z:10%");
    // Values are shown as they come, above 100 too; any status but FF is a result.
    Receive(ModuleFrame(0x89, {0x01, 0xC8, 0xFF, 0x00}));
    EXPECT_EQ(Coverage(), "X:200% Y:255% Z:0%");
    EXPECT_TRUE(sink.boxes.empty());

    Receive(ModuleFrame(0x89, {0xFF, 0x01, 0x02, 0x03}));
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Calibration Stop Error!");
    EXPECT_EQ(sink.boxes[0].caption, "Error");
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::None);
    EXPECT_EQ(Coverage(), "X:200% Y:255% Z:0%");
    EXPECT_EQ(sink.beeps, 0);
}

TEST_F(CalibrationAnswers, SaveResultResetsTheDisplays) {
    Receive(ModuleFrame(0x88, {0x0C}));
    Receive(ModuleFrame(0x89, {0x00, 0x64, 0x32, 0x0A}));
    const int beeps = sink.beeps;

    Receive(ModuleFrame(0x8A, {0xFF}));
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Calibration Save Error!");
    EXPECT_EQ(sink.boxes[0].caption, "Error");
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::None);
    EXPECT_EQ(Coverage(), "X:100% Y:50% Z:10%");
    EXPECT_EQ(Text(IDC_STATIC_SAMPLES), "12");
    EXPECT_EQ(sink.beeps, beeps);

    Receive(ModuleFrame(0x8A, {0x00}));
    EXPECT_EQ(sink.beeps, beeps + 1);
    EXPECT_EQ(Coverage(), "X:0% Y:0% Z:0%");
    EXPECT_EQ(Text(IDC_STATIC_SAMPLES), "0");
    EXPECT_EQ(sink.boxes.size(), 1u);
}

}  // namespace
