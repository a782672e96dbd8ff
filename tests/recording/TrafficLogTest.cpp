#include <gtest/gtest.h>

#include <string>

#include "TrafficLog.h"

namespace {

const std::string kReadLine = "68 04 00 04 08 ";
const std::string kZeroLine = "68 05 00 05 01 0b ";
const std::string kDeclinationLine = "68 06 00 06 10 01 1d ";

int CountLines(const std::string& text) {
    int lines = 0;
    for (std::size_t pos = text.find("\r\n"); pos != std::string::npos;
         pos = text.find("\r\n", pos + 2)) {
        ++lines;
    }
    return lines;
}

std::string Repeat(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

void SendReads(std::string& sendLog, int count) {
    for (int i = 0; i < count; ++i) {
        LogSentFrame(sendLog, kReadLine, SendLogVariant::ReadRequest);
    }
}

// Logs the bytes of one frame and completes it.
bool CompleteFrame(std::string& received, std::string& frameHex,
                   std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) {
        LogReceivedByte(frameHex, b);
    }
    return LogCompletedFrame(received, frameHex);
}

TEST(SendLog, EachSendAppendsItsTextAndCrLf) {
    std::string sendLog;
    LogSentFrame(sendLog, kReadLine, SendLogVariant::ReadRequest);
    LogSentFrame(sendLog, kZeroLine, SendLogVariant::Counted);
    LogSentFrame(sendLog, kDeclinationLine, SendLogVariant::Uncounted);
    EXPECT_EQ(sendLog, kReadLine + "\r\n" + kZeroLine + "\r\n" + kDeclinationLine + "\r\n");
    EXPECT_EQ(SendLineCount(), 2u);
}

TEST(SendLog, The61stReadRequestEmptiesTheLog) {
    std::string sendLog;
    SendReads(sendLog, 60);
    EXPECT_EQ(CountLines(sendLog), 60);
    EXPECT_EQ(SendLineCount(), 60u);
    SendReads(sendLog, 1);
    EXPECT_EQ(sendLog, kReadLine + "\r\n");
    EXPECT_EQ(SendLineCount(), 1u);
}

TEST(SendLog, CountedSendsPushPast60AndTheNextReadRequestEmpties) {
    std::string sendLog;
    SendReads(sendLog, 60);
    for (int i = 0; i < 10; ++i) {
        LogSentFrame(sendLog, kZeroLine, SendLogVariant::Counted);
    }
    EXPECT_EQ(SendLineCount(), 70u);
    EXPECT_EQ(CountLines(sendLog), 70);
    SendReads(sendLog, 1);
    EXPECT_EQ(sendLog, kReadLine + "\r\n");
    EXPECT_EQ(SendLineCount(), 1u);
}

TEST(SendLog, CountedSendReaching60MakesTheNextReadRequestEmpty) {
    std::string sendLog;
    SendReads(sendLog, 59);
    LogSentFrame(sendLog, kZeroLine, SendLogVariant::Counted);
    EXPECT_EQ(CountLines(sendLog), 60);
    SendReads(sendLog, 1);
    EXPECT_EQ(sendLog, kReadLine + "\r\n");
}

TEST(SendLog, ClearAt59KeepsTheCount) {
    std::string sendLog;
    SendReads(sendLog, 59);
    sendLog.clear();  // the Clear button empties only the text
    SendReads(sendLog, 1);
    EXPECT_EQ(SendLineCount(), 60u);
    EXPECT_EQ(sendLog, kReadLine + "\r\n");
    LogSentFrame(sendLog, kZeroLine, SendLogVariant::Counted);
    EXPECT_EQ(CountLines(sendLog), 2);
    SendReads(sendLog, 1);
    EXPECT_EQ(sendLog, kReadLine + "\r\n");
}

TEST(SendLog, DeclinationLineIsNotCountedAndNeverEmpties) {
    std::string sendLog;
    SendReads(sendLog, 60);
    LogSentFrame(sendLog, kDeclinationLine, SendLogVariant::Uncounted);
    EXPECT_EQ(SendLineCount(), 60u);
    EXPECT_EQ(CountLines(sendLog), 61);
    EXPECT_EQ(sendLog.substr(sendLog.size() - kDeclinationLine.size() - 2),
              kDeclinationLine + "\r\n");
    SendReads(sendLog, 1);
    EXPECT_EQ(sendLog, kReadLine + "\r\n");
}

TEST(SendLog, LineCountWrapsFrom255To0) {
    std::string sendLog;
    for (int i = 0; i < 255; ++i) {
        LogSentFrame(sendLog, kZeroLine, SendLogVariant::Counted);
    }
    EXPECT_EQ(SendLineCount(), 255u);
    LogSentFrame(sendLog, kZeroLine, SendLogVariant::Counted);
    EXPECT_EQ(SendLineCount(), 0u);
    // Below the limit again, so the read request does not empty the log.
    SendReads(sendLog, 1);
    EXPECT_EQ(CountLines(sendLog), 257);
    EXPECT_EQ(SendLineCount(), 1u);
}

TEST(ReceivedLog, EachByteIsTwoUpperCaseDigitsAndABlank) {
    std::string frameHex = "68 ";
    for (std::uint8_t b : {0x00, 0x0A, 0x9F, 0xAB, 0xFF}) {
        LogReceivedByte(frameHex, b);
    }
    EXPECT_EQ(frameHex, "68 00 0A 9F AB FF ");
}

TEST(ReceivedLog, CompletedFrameAddsOneLine) {
    std::string received = "earlier\r\n";
    std::string frameHex;
    EXPECT_TRUE(CompleteFrame(received, frameHex, {0x68, 0x04, 0x01, 0x84, 0x89}));
    EXPECT_EQ(received, "earlier\r\n68 04 01 84 89 \r\n");
    EXPECT_EQ(frameHex, "");
    EXPECT_EQ(FramesSinceFlush(), 1u);
}

TEST(ReceivedLog, RejectedPieceHasNoLineBreak) {
    std::string received;
    std::string frameHex;
    LogReceivedByte(frameHex, 0x00);
    LogRejectedBytes(received, frameHex);
    EXPECT_EQ(received, "00 ");
    EXPECT_EQ(frameHex, "");
    LogReceivedByte(frameHex, 0x68);
    LogReceivedByte(frameHex, 0x32);
    LogRejectedBytes(received, frameHex);
    EXPECT_EQ(received, "00 68 32 ");
}

TEST(ReceivedLog, CrLfAfterEveryTenthPiece) {
    std::string received;
    std::string frameHex;
    for (int i = 0; i < 9; ++i) {
        LogReceivedByte(frameHex, 0x00);
        LogRejectedBytes(received, frameHex);
    }
    EXPECT_EQ(received, Repeat("00 ", 9));
    LogReceivedByte(frameHex, 0x00);
    LogRejectedBytes(received, frameHex);
    EXPECT_EQ(received, Repeat("00 ", 10) + "\r\n");
    for (int i = 0; i < 10; ++i) {
        LogReceivedByte(frameHex, 0x11);
        LogRejectedBytes(received, frameHex);
    }
    EXPECT_EQ(received, Repeat("00 ", 10) + "\r\n" + Repeat("11 ", 10) + "\r\n");
}

TEST(ReceivedLog, FrameLinesBetweenPiecesDoNotResetThePieceCount) {
    std::string received;
    std::string frameHex;
    for (int i = 0; i < 5; ++i) {
        LogReceivedByte(frameHex, 0x00);
        LogRejectedBytes(received, frameHex);
    }
    EXPECT_TRUE(CompleteFrame(received, frameHex, {0x68, 0x04, 0x01, 0x84, 0x89}));
    for (int i = 0; i < 5; ++i) {
        LogReceivedByte(frameHex, 0x00);
        LogRejectedBytes(received, frameHex);
    }
    EXPECT_EQ(received, Repeat("00 ", 5) + "68 04 01 84 89 \r\n" + Repeat("00 ", 5) + "\r\n");
}

TEST(ReceivedLog, EmptiedAfter600PiecesWithoutTouchingTheFrameCount) {
    std::string received;
    std::string frameHex;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(CompleteFrame(received, frameHex, {0x68, 0x04, 0x01, 0x84, 0x89}));
    }
    for (int i = 0; i < 599; ++i) {
        LogReceivedByte(frameHex, 0x00);
        LogRejectedBytes(received, frameHex);
    }
    EXPECT_EQ(CountLines(received), 3 + 59);
    LogReceivedByte(frameHex, 0x00);
    LogRejectedBytes(received, frameHex);
    EXPECT_EQ(received, "");
    EXPECT_EQ(FramesSinceFlush(), 3u);
    // The count starts over: the next break comes after ten more pieces.
    for (int i = 0; i < 10; ++i) {
        LogReceivedByte(frameHex, 0x00);
        LogRejectedBytes(received, frameHex);
    }
    EXPECT_EQ(received, Repeat("00 ", 10) + "\r\n");
}

TEST(ReceivedLog, The61stFrameEmptiesTheLogWhenNotRecording) {
    std::string received;
    std::string frameHex;
    for (int i = 0; i < 60; ++i) {
        EXPECT_TRUE(CompleteFrame(received, frameHex, {0x68, 0x04, 0x01, 0x84, 0x89}));
    }
    EXPECT_EQ(CountLines(received), 60);
    EXPECT_EQ(FramesSinceFlush(), 60u);
    EXPECT_TRUE(CompleteFrame(received, frameHex, {0x68, 0x04, 0x02, 0x84, 0x8A}));
    EXPECT_EQ(received, "68 04 02 84 8A \r\n");
    EXPECT_EQ(FramesSinceFlush(), 1u);
}

TEST(ReceivedLog, ClearKeepsTheFrameCount) {
    std::string received;
    std::string frameHex;
    for (int i = 0; i < 30; ++i) {
        EXPECT_TRUE(CompleteFrame(received, frameHex, {0x68, 0x04, 0x01, 0x84, 0x89}));
    }
    received.clear();
    for (int i = 0; i < 30; ++i) {
        EXPECT_TRUE(CompleteFrame(received, frameHex, {0x68, 0x04, 0x01, 0x84, 0x89}));
    }
    EXPECT_EQ(CountLines(received), 30);
    EXPECT_TRUE(CompleteFrame(received, frameHex, {0x68, 0x04, 0x03, 0x84, 0x8B}));
    EXPECT_EQ(received, "68 04 03 84 8B \r\n");
}

}  // namespace
