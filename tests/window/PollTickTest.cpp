// The 100 ms poll tick, the 1 s rate tick, GO/STOP and the configuration buttons.
#include <cstdint>
#include <string>
#include <vector>

#include "LiveWindowFixture.h"

namespace {

// Starts with the port closed.
class PollTick : public LiveWindow {
public:
    void SetUp() override { WindowTest::SetUp(); }
};
using Polling = LiveWindow;
using ConfigurationButtons = LiveWindow;
using ManualTimeOut = LiveWindow;

const std::vector<std::uint8_t> kReading =
    Bytes({0x68, 0x0D, 0x01, 0x84, 0x10, 0x12, 0x34, 0x00, 0x05, 0x60, 0x03, 0x59, 0x99, 0x42});
const char* const kReadRequest = "68 04 00 04 08";

TEST_F(PollTick, ClosedPortTickIsIdleAndKeepsThePendingCommand) {
    Open();
    Receive(kReading);
    Click(IDC_BTN_OPENCOM);  // Close: readings zeroed and shown without a sign
    ASSERT_EQ(dlg->m_bPortOpen, 0);
    Click(IDC_BTN_SETZERO);
    for (int i = 0; i < 3; ++i)
        Tick();
    EXPECT_EQ(ShownReadings(), "0.00 0.00 0.0");  // a refresh would have shown +0.00
    EXPECT_EQ(SentHex(), "");
    EXPECT_TRUE(sink.boxes.empty());  // nothing was written to the closed port

    Open();
    Tick();
    EXPECT_EQ(SentHex(), "68 05 00 05 01 0B");
    EXPECT_EQ(ShownReadings(), "+0.00 +0.00 0.0");
    Tick();
    EXPECT_EQ(SentHex(), "");
}

TEST_F(PollTick, RateBoxCountsCompleteFramesPerSecond) {
    EXPECT_EQ(RateTick(), "   0Hz");  // port closed: the rate tick runs all the same
    Open();
    Receive(kReading);
    auto bad = kReading;
    bad.back() = 0x43;
    Receive(bad);                        // counted although not acted on
    Receive(Bytes({0x68, 0x0D, 0x01}));  // incomplete: not yet
    EXPECT_EQ(RateTick(), "   2Hz");
    EXPECT_EQ(RateTick(), "   0Hz");
    Receive(std::vector<std::uint8_t>(kReading.begin() + 3, kReading.end()));  // completes it
    Receive(Bytes({0x68, 0x03}));  // rejected: never counted
    EXPECT_EQ(RateTick(), "   1Hz");
    std::vector<std::uint8_t> many;
    for (int i = 0; i < 12; ++i)
        many.insert(many.end(), kReading.begin(), kReading.end());
    Receive(many);
    EXPECT_EQ(RateTick(), "  12Hz");
}

TEST_F(PollTick, ReadingDisplayFormats) {
    struct Case {
        std::vector<std::uint8_t> frame;
        const char* shown;  // pitch roll heading
    };
    const Case cases[] = {
        {ReadingFrame({0x00, 0x00, 0x00}, {0x00, 0x00, 0x00}, {0x00, 0x00, 0x00}),
         "+0.00 +0.00 0.0"},
        {ReadingFrame({0x10, 0x12, 0x50}, {0x10, 0x12, 0x50}, {0x03, 0x59, 0x99}),
         "-12.50 -12.50 360.0"},
        {ReadingFrame({0x00, 0x00, 0x01}, {0x09, 0x99, 0x99}, {0x00, 0x05, 0x00}),
         "+0.01 +999.99 5.0"},
        // Any non-zero sign nibble is negative; the heading keeps its sign too.
        {ReadingFrame({0x20, 0x01, 0x00}, {0xF0, 0x00, 0x10}, {0x10, 0x00, 0x50}),
         "-1.00 -0.10 -0.5"},
        {ReadingFrame({0x01, 0x80, 0x00}, {0x00, 0x00, 0x05}, {0x00, 0x00, 0x04}),
         "+180.00 +0.05 0.0"},
    };
    Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        Receive(c.frame);
        Tick();
        EXPECT_EQ(ShownReadings(), c.shown);
    }
}

TEST_F(ConfigurationButtons, EachButtonsFrameGoesOutAtTheNextTick) {
    struct Case {
        int button;
        const char* frame;
    };
    const Case cases[] = {
        {IDC_BTN_SETZERO, "68 05 00 05 01 0B"}, {IDC_BTN_CANCELZERO, "68 05 00 05 00 0A"},
        {IDC_BTN_SETADDR, "68 05 00 0F 00 14"}, {IDC_BTN_SET_BAUD, "68 05 00 0B 02 12"},
        {IDC_BTN_AUTOOUT, "68 05 00 0C 01 12"}, {IDC_BTN_CATECHISM, "68 05 00 0C 00 11"},
        {IDC_BTN_HORIZON, "68 05 00 2A 00 2F"}, {IDC_BTN_VERTICAL, "68 05 00 2A 01 30"},
    };
    std::string log;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        Click(c.button);
        EXPECT_EQ(SentHex(), "") << "a button never sends by itself";
        Tick();
        EXPECT_EQ(SentHex(), c.frame);
        Tick();
        EXPECT_EQ(SentHex(), "") << "the slot is emptied once served";
        // The Send log writes requests in lower case.
        log += QString(c.frame).toLower().toStdString() + " \r\n";
    }
    EXPECT_EQ(dlg->m_strSend, log);
    EXPECT_TRUE(sink.boxes.empty());
}

TEST_F(ConfigurationButtons, SecondClickWithinOnePeriodReplacesTheFirst) {
    Click(IDC_BTN_SETZERO);
    Click(IDC_BTN_CANCELZERO);
    Tick();
    EXPECT_EQ(SentHex(), "68 05 00 05 00 0A");
    Tick();
    EXPECT_EQ(SentHex(), "");
}

TEST_F(ConfigurationButtons, SetBaudSendsTheSelectedEntrysIndex) {
    Combo(IDC_COMBO_MODULE_BAUD)->setCurrentIndex(5);
    Click(IDC_BTN_SET_BAUD);
    Tick();
    EXPECT_EQ(SentHex(), "68 05 00 0B 05 15");
    Combo(IDC_COMBO_MODULE_BAUD)->setCurrentIndex(-1);
    Click(IDC_BTN_SET_BAUD);
    Tick();
    EXPECT_EQ(SentHex(), "68 05 00 0B FF 0F");
}

TEST_F(Polling, GoStopTogglesReadRequestsAndTheFiveButtons) {
    const int locked[] = {IDC_BTN_AMODE, IDC_BTN_CAL_START, IDC_BTN_MMODE, IDC_BTN_CAL_SAVE,
                          IDC_BTN_SETMAG};
    const int unlocked[] = {IDC_BTN_CAL_STOP, IDC_BTN_SETZERO, IDC_BTN_CANCELZERO, IDC_BTN_SETADDR,
                            IDC_BTN_SET_BAUD, IDC_BTN_AUTOOUT, IDC_BTN_CATECHISM,  IDC_BTN_HORIZON,
                            IDC_BTN_VERTICAL, IDC_BTN_GOSTOP};
    Tick();
    EXPECT_EQ(SentHex(), "");  // idle: no read requests

    Click(IDC_BTN_GOSTOP);
    EXPECT_EQ(dlg->m_bPolling, 1);
    EXPECT_EQ(Text(IDC_BTN_GOSTOP), "STOP");
    for (int id : locked)
        EXPECT_FALSE(Button(id)->isEnabled()) << id;
    for (int id : unlocked)
        EXPECT_TRUE(Button(id)->isEnabled()) << id;
    EXPECT_FALSE(Button(IDC_BTN_MANUAL)->isEnabled());  // not touched: still as at start-up

    for (int i = 0; i < 3; ++i) {
        Tick();
        EXPECT_EQ(SentHex(), kReadRequest);
    }
    Click(IDC_BTN_SETZERO);
    Tick();
    EXPECT_EQ(SentHex(), "68 05 00 05 01 0B");  // in place of the read request
    Tick();
    EXPECT_EQ(SentHex(), kReadRequest);

    Click(IDC_BTN_GOSTOP);
    EXPECT_EQ(dlg->m_bPolling, 0);
    EXPECT_EQ(Text(IDC_BTN_GOSTOP), "GO");
    for (int id : locked)
        EXPECT_TRUE(Button(id)->isEnabled()) << id;
    Tick();
    EXPECT_EQ(SentHex(), "");
}

TEST_F(Polling, AutoOutStopsReadRequestsUntilAnotherModeIsSet) {
    struct Case {
        int button;
        const char* frame;
    };
    const Case resume[] = {{IDC_BTN_CATECHISM, "68 05 00 0C 00 11"},
                           {IDC_BTN_HORIZON, "68 05 00 2A 00 2F"},
                           {IDC_BTN_VERTICAL, "68 05 00 2A 01 30"}};
    Click(IDC_BTN_GOSTOP);
    for (const Case& c : resume) {
        SCOPED_TRACE(c.frame);
        Tick();
        EXPECT_EQ(SentHex(), kReadRequest);
        Click(IDC_BTN_AUTOOUT);
        Tick();
        EXPECT_EQ(SentHex(), "68 05 00 0C 01 12");
        for (int i = 0; i < 3; ++i)
            Tick();
        EXPECT_EQ(SentHex(), "");
        EXPECT_EQ(Text(IDC_BTN_GOSTOP), "STOP");
        Click(c.button);
        Tick();
        EXPECT_EQ(SentHex(), c.frame);
        Tick();
        EXPECT_EQ(SentHex(), kReadRequest);
    }
}

TEST_F(Polling, AutomaticOutputIsShownAndOutlastsStopAndClose) {
    Click(IDC_BTN_AUTOOUT);
    Tick();
    EXPECT_EQ(SentHex(), "68 05 00 0C 01 12");
    // Readings the module streams by itself are shown by every tick, polling or not.
    Receive(kReading);
    Tick();
    EXPECT_EQ(ShownReadings(), "-12.34 +5.60 360.0");

    Click(IDC_BTN_OPENCOM);
    Open();
    Click(IDC_BTN_GOSTOP);
    Click(IDC_BTN_GOSTOP);
    Click(IDC_BTN_GOSTOP);
    for (int i = 0; i < 3; ++i)
        Tick();
    EXPECT_EQ(SentHex(), "");
    Click(IDC_BTN_CATECHISM);
    Tick();
    Tick();
    EXPECT_EQ(SentHex(), std::string("68 05 00 0C 00 11 ") + kReadRequest);
}

TEST_F(Polling, SendLogKeepsSixtyReadRequestLines) {
    Click(IDC_BTN_GOSTOP);
    for (int i = 0; i < 60; ++i)
        Tick();
    std::string sixty;
    for (int i = 0; i < 60; ++i)
        sixty += std::string(kReadRequest) + " \r\n";
    EXPECT_EQ(dlg->m_strSend, sixty);
    Tick();
    EXPECT_EQ(dlg->m_strSend, std::string(kReadRequest) + " \r\n");
    EXPECT_EQ(Text(IDC_EDIT_SEND).toStdString(), std::string(kReadRequest) + " \n");
    EXPECT_EQ(Sent().size(), 61u * 5u);
}

TEST_F(ManualTimeOut, HundredthTickWithThePortOpenGivesUp) {
    Click(IDC_BTN_MMODE);
    Click(IDC_BTN_MANUAL);
    EXPECT_EQ(SentHex(), "68 04 00 43 47 68 04 00 45 49");
    EXPECT_FALSE(Button(IDC_BTN_MANUAL)->isEnabled());
    EXPECT_EQ(Text(IDC_BTN_MANUAL), "Sampling");
    for (int i = 0; i < 99; ++i)
        Tick();
    EXPECT_TRUE(sink.boxes.empty());
    EXPECT_FALSE(Button(IDC_BTN_MANUAL)->isEnabled());

    Tick();
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Time out ! Try again!");
    EXPECT_EQ(sink.boxes[0].caption, "Try again");
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::None);
    EXPECT_TRUE(Button(IDC_BTN_MANUAL)->isEnabled());
    EXPECT_EQ(Text(IDC_BTN_MANUAL), "Sampling");
    EXPECT_EQ(SentHex(), "");  // the time-out sends nothing

    for (int i = 0; i < 150; ++i)
        Tick();
    EXPECT_EQ(sink.boxes.size(), 1u) << "raised once per wait";

    // Clicking again restarts the count.
    Click(IDC_BTN_MANUAL);
    for (int i = 0; i < 99; ++i)
        Tick();
    EXPECT_EQ(sink.boxes.size(), 1u);
    Tick();
    EXPECT_EQ(sink.boxes.size(), 2u);
}

TEST_F(ManualTimeOut, TicksWithThePortClosedAreNotCounted) {
    Click(IDC_BTN_MMODE);
    Click(IDC_BTN_MANUAL);
    for (int i = 0; i < 40; ++i)
        Tick();
    Click(IDC_BTN_OPENCOM);
    for (int i = 0; i < 50; ++i)
        Tick();
    Open();
    for (int i = 0; i < 59; ++i)
        Tick();
    EXPECT_TRUE(sink.boxes.empty());
    EXPECT_EQ(Text(IDC_BTN_MANUAL), "Sampling");
    EXPECT_FALSE(Button(IDC_BTN_MANUAL)->isEnabled());
    Tick();
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Time out ! Try again!");
    EXPECT_TRUE(Button(IDC_BTN_MANUAL)->isEnabled());
}

}  // namespace
