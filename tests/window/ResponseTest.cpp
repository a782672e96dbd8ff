// Bytes from the module: frame assembly across reads, readings, acknowledgements and the boxes
// they raise, including answers that arrive while a box is open.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "LiveWindowFixture.h"

namespace {

using Assembly = LiveWindow;
using Answers = LiveWindow;

// The Received log's line for a complete frame.
std::string LogLine(const std::vector<std::uint8_t>& frame) {
    return Hex(frame) + " \r\n";
}

const std::vector<std::uint8_t> kReading =
    Bytes({0x68, 0x0D, 0x01, 0x84, 0x10, 0x12, 0x34, 0x00, 0x05, 0x60, 0x03, 0x59, 0x99, 0x42});

TEST_F(Assembly, ReadingFrameIsShownAtTheNextTick) {
    Receive(kReading);
    EXPECT_EQ(dlg->m_strReceived, LogLine(kReading));
    EXPECT_EQ(Text(IDC_EDIT_RECEIVED).toStdString(), Hex(kReading) + " \n");
    EXPECT_EQ(ShownReadings(), "+0.00 +0.00 0.0");  // nothing is displayed by the answer itself
    Tick();
    EXPECT_EQ(ShownReadings(), "-12.34 +5.60 360.0");
    EXPECT_EQ(RateTick(), "   1Hz");
    EXPECT_TRUE(sink.boxes.empty());
}

TEST_F(Assembly, BadChecksumIsLoggedAndCountedOnly) {
    auto bad = kReading;
    bad.back() = 0x43;
    Receive(bad);
    Tick();
    EXPECT_EQ(ShownReadings(), "+0.00 +0.00 0.0");
    EXPECT_EQ(dlg->m_strReceived, LogLine(bad));
    EXPECT_EQ(RateTick(), "   1Hz");
    EXPECT_TRUE(sink.boxes.empty());
    // The assembler is ready for the next frame.
    Receive(kReading);
    Tick();
    EXPECT_EQ(ShownReadings(), "-12.34 +5.60 360.0");
}

TEST_F(Assembly, FrameSplitIntoSingleByteReads) {
    for (std::size_t i = 0; i + 1 < kReading.size(); ++i) {
        Receive({kReading[i]});
        EXPECT_EQ(dlg->m_strReceived, "") << "after byte " << i;
    }
    EXPECT_EQ(dlg->m_dHeading, 0.0);
    Receive({kReading.back()});
    EXPECT_EQ(dlg->m_strReceived, LogLine(kReading));
    EXPECT_EQ(dlg->m_strFrameHex, "");
    Tick();
    EXPECT_EQ(ShownReadings(), "-12.34 +5.60 360.0");
    EXPECT_EQ(RateTick(), "   1Hz");
}

TEST_F(Assembly, ReadBoundariesDoNotMatter) {
    // A reading followed by an acknowledgement, cut differently each round; the second frame's
    // start often shares a read with the end of the first.
    const std::vector<std::vector<std::size_t>> cuts = {{20},       {1, 1, 1, 17}, {3, 11, 6},
                                                        {13, 2, 5}, {14, 6},       {2, 18}};
    int round = 0;
    for (const auto& sizes : cuts) {
        ++round;
        SCOPED_TRACE(round);
        const auto reading =
            ReadingFrame({0x00, 0x00, static_cast<std::uint8_t>(round)}, {0, 0, 0}, {0, 0, 0});
        const auto ack = ModuleFrame(0x85, {0x00});
        const auto stream = Joined({reading, ack});
        const std::size_t logged = dlg->m_strReceived.size();
        const std::size_t boxes = sink.boxes.size();
        std::size_t at = 0;
        for (std::size_t size : sizes) {
            Receive(
                std::vector<std::uint8_t>(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                          stream.begin() + static_cast<std::ptrdiff_t>(at + size)));
            at += size;
        }
        ASSERT_EQ(at, stream.size());
        EXPECT_EQ(dlg->m_strReceived.substr(logged), LogLine(reading) + LogLine(ack));
        EXPECT_EQ(sink.boxes.size(), boxes + 1);
        Tick();
        EXPECT_EQ(Text(IDC_STATIC_PITCH).toStdString(), "+0.0" + std::to_string(round));
        EXPECT_EQ(RateTick(), "   2Hz");
    }
}

TEST_F(Assembly, TwoAnswersInOneReadAreDispatchedInOrder) {
    Receive(Joined({ModuleFrame(0x85, {0x00}), ModuleFrame(0x85, {0x01})}));
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_EQ(sink.boxes[0].text, "Successful!");
    EXPECT_EQ(sink.boxes[1].text, "Error!");
    EXPECT_EQ(RateTick(), "   2Hz");
}

TEST_F(Assembly, TwoReadingsInOneReadTheSecondWins) {
    const auto first = ReadingFrame({0x00, 0x01, 0x00}, {0x00, 0x02, 0x00}, {0x00, 0x03, 0x00});
    Receive(Joined({first, kReading}));
    EXPECT_EQ(dlg->m_strReceived, LogLine(first) + LogLine(kReading));
    Tick();
    EXPECT_EQ(ShownReadings(), "-12.34 +5.60 360.0");
}

TEST_F(Assembly, ReadNotStartingWithAStartByteIsDroppedWhole) {
    Receive(Joined({Bytes({0x00}), kReading}));
    EXPECT_EQ(dlg->m_strReceived, "00 ");
    EXPECT_EQ(dlg->m_strFrameHex, "");
    Tick();
    EXPECT_EQ(ShownReadings(), "+0.00 +0.00 0.0");
    EXPECT_EQ(RateTick(), "   0Hz");
    // The next read that starts with a start byte is taken.
    Receive(kReading);
    EXPECT_EQ(dlg->m_strReceived, "00 " + LogLine(kReading));
    Tick();
    EXPECT_EQ(ShownReadings(), "-12.34 +5.60 360.0");
}

TEST_F(Assembly, LengthBytesOutsideFourToFortyNineAreRejected) {
    struct Case {
        std::uint8_t length;
        bool accepted;
    };
    for (const Case c : {Case{3, false}, Case{50, false}, Case{4, true}, Case{49, true}}) {
        SCOPED_TRACE(static_cast<int>(c.length));
        // A reading padded to the length (L=4 carries no payload at all).
        std::vector<std::uint8_t> payload;
        if (c.length >= 13) {
            payload = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, c.length, 0x00};
            payload.resize(c.length - 4u, 0x77);
        } else if (c.length == 4) {
            payload = {};
        } else {
            payload = {0x00};
        }
        auto frame = ModuleFrame(c.length >= 13 ? 0x84 : 0x86, payload);
        frame[1] = c.length;  // the rejected lengths do not match the frame on purpose
        const std::size_t logged = dlg->m_strReceived.size();
        Receive(frame);
        if (c.accepted) {
            ASSERT_EQ(frame.size(), c.length + 1u);
            EXPECT_EQ(dlg->m_strReceived.substr(logged), LogLine(frame));
            EXPECT_EQ(RateTick(), "   1Hz");
        } else {
            char piece[16];
            std::snprintf(piece, sizeof piece, "68 %02X ", c.length);
            EXPECT_EQ(dlg->m_strReceived.substr(logged), piece);
            EXPECT_EQ(RateTick(), "   0Hz");
        }
        EXPECT_EQ(dlg->m_strFrameHex, "");
    }
    // The 50-byte frame was a reading whose heading carried its length: 49 -> 31.0.
    Tick();
    EXPECT_EQ(ShownReadings(), "+0.00 +0.00 31.0");
}

TEST_F(Assembly, ShortReadingIsDecodedFromStalePositions) {
    Receive(kReading);
    // L=7: pitch 00 12 64 and the checksum 01 at position 7; 8 to 12 still hold 05 60 03 59 99.
    const auto shortReading = ModuleFrame(0x84, {0x00, 0x12, 0x64});
    ASSERT_EQ(Hex(shortReading), "68 07 00 84 00 12 64 01");
    Receive(shortReading);
    Tick();
    EXPECT_EQ(ShownReadings(), "+12.64 +105.60 360.0");
}

TEST_F(Answers, AcknowledgementBoxes) {
    struct Case {
        std::uint8_t code;
        std::uint8_t result;
        const char* text;
        const char* caption;
    };
    const Case cases[] = {
        {0x85, 0x00, "Successful!", "Success"}, {0x85, 0x01, "Error!", "Error"},
        {0x85, 0xFF, "Error!", "Error"},        {0x8B, 0x00, "Successful!", "Success"},
        {0x8B, 0x07, "Error!", "Error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.code) << " " << int(c.result));
        sink.boxes.clear();
        Receive(ModuleFrame(c.code, {c.result}));
        ASSERT_EQ(sink.boxes.size(), 1u);
        EXPECT_EQ(sink.boxes[0].text, c.text);
        EXPECT_EQ(sink.boxes[0].caption, c.caption);
        EXPECT_EQ(sink.boxes[0].icon, BoxIcon::None);
    }
    EXPECT_EQ(dlg->m_nAddress, 0u);
    EXPECT_EQ(sink.beeps, 0);
}

TEST_F(Answers, AddressChangeSucceeded) {
    Edit(IDC_EDIT_NEW_ADDRESS)->setText("5");
    Click(IDC_BTN_SETADDR);
    Tick();
    EXPECT_EQ(SentHex(), "68 05 00 0F 05 19");
    EXPECT_EQ(dlg->m_nAddress, 0u);  // not before the module agrees

    Receive(ModuleFrame(0x8F, {0x00}));
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Successful!");
    EXPECT_EQ(sink.boxes[0].caption, "Success");
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::None);
    EXPECT_EQ(dlg->m_nAddress, 5u);
    EXPECT_EQ(Text(IDC_EDIT_ADDRESS), "5");

    Click(IDC_BTN_SETMAG);
    EXPECT_EQ(SentHex(), "68 06 00 06 10 01 1D");  // the declination frame keeps address 00
    Click(IDC_BTN_GOSTOP);
    Tick();
    EXPECT_EQ(SentHex(), "68 04 05 04 0D");
    Click(IDC_BTN_SETZERO);
    Tick();
    EXPECT_EQ(SentHex(), "68 05 05 05 01 10");
}

TEST_F(Answers, AddressChangeRefused) {
    Edit(IDC_EDIT_NEW_ADDRESS)->setText("5");
    Receive(ModuleFrame(0x8F, {0x01}));
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Error!");
    EXPECT_EQ(sink.boxes[0].caption, "Error");
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::None);
    EXPECT_EQ(dlg->m_nAddress, 0u);
    EXPECT_EQ(Text(IDC_EDIT_ADDRESS), "0");
    Click(IDC_BTN_GOSTOP);
    Tick();
    EXPECT_EQ(SentHex(), "68 04 00 04 08");
}

TEST_F(Answers, OtherCodesAreOnlyLoggedAndCounted) {
    Receive(kReading);
    Tick();
    const std::string readings = ShownReadings();
    RateTick();
    const std::uint8_t codes[] = {0x86, 0x8C, 0x90, 0x87, 0x8D, 0x8E, 0x83, 0x04, 0x00};
    std::string expectedLog = dlg->m_strReceived;
    for (std::uint8_t code : codes) {
        // Payloads that would be visible if taken for a reading or an answer.
        const auto frame =
            ModuleFrame(code, {0x10, 0x01, 0x00, 0x10, 0x02, 0x00, 0x10, 0x03, 0x00}, 0x01);
        Receive(frame);
        expectedLog += LogLine(frame);
    }
    Receive(ModuleFrame(0x86, {0x00}));
    expectedLog += LogLine(ModuleFrame(0x86, {0x00}));
    Tick();
    EXPECT_EQ(ShownReadings(), readings);
    EXPECT_EQ(dlg->m_strReceived, expectedLog);
    EXPECT_EQ(RateTick(), "  10Hz");
    EXPECT_TRUE(sink.boxes.empty());
    EXPECT_EQ(sink.beeps, 0);
    EXPECT_EQ(dlg->m_nAddress, 0u);
    EXPECT_EQ(Text(IDC_STATIC_SAMPLES), "0");
    EXPECT_EQ(Coverage(), "X:100% Y:100% Z:100%");
    EXPECT_FALSE(Button(IDC_BTN_MANUAL)->isEnabled());
    EXPECT_EQ(Text(IDC_BTN_MANUAL), "Manual");
}

TEST_F(Answers, ReadingArrivingWhileABoxIsOpenIsTakenInsideTheBox) {
    bool takenInside = false;
    sink.whileBoxOpen = [&](const MessageBoxRequest&) {
        if (takenInside)
            return;
        pty->Write(kReading);
        takenInside = WaitFor([&] { return dlg->m_dHeading != 0.0; });
    };
    Receive(ModuleFrame(0x85, {0x00}));
    EXPECT_TRUE(takenInside) << "the reading waited for more traffic";
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(dlg->m_strReceived, LogLine(ModuleFrame(0x85, {0x00})) + LogLine(kReading));
    Tick();
    EXPECT_EQ(ShownReadings(), "-12.34 +5.60 360.0");
}

TEST_F(Answers, RestOfAnInterruptedReadIsFedAfterTheBoxCloses) {
    const auto ack = ModuleFrame(0x8B, {0x00});
    const auto later = ReadingFrame({0x00, 0x01, 0x00}, {0x00, 0x02, 0x00}, {0x00, 0x03, 0x00});
    bool taken = false;
    sink.whileBoxOpen = [&](const MessageBoxRequest&) {
        if (taken)
            return;
        pty->Write(kReading);
        taken = WaitFor([&] { return dlg->m_dHeading != 0.0; });
        EXPECT_EQ(dlg->m_dPitch, -12.34);
    };
    Receive(Joined({ack, later}));
    ASSERT_TRUE(taken);
    EXPECT_EQ(dlg->m_strReceived, LogLine(ack) + LogLine(kReading) + LogLine(later));
    Tick();
    EXPECT_EQ(ShownReadings(), "+1.00 +2.00 3.0");
}

}  // namespace
