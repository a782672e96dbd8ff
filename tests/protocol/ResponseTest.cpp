#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "Response.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kReadingFrame = {0x68, 0x0D, 0x01, 0x84, 0x10, 0x12, 0x34,
                             0x00, 0x05, 0x60, 0x03, 0x59, 0x99, 0x42};

// Feeds the bytes one by one and returns the outcome of each.
std::vector<FeedOutcome> FeedAll(const Bytes& bytes) {
    std::vector<FeedOutcome> outcomes;
    for (std::uint8_t b : bytes) {
        outcomes.push_back(FeedByte(b));
    }
    return outcomes;
}

// A frame of length byte L with the given fill byte and a correct checksum.
Bytes MakeFrame(std::uint8_t length, std::uint8_t code, std::uint8_t fill) {
    Bytes frame(static_cast<std::size_t>(length) + 1, fill);
    frame[0] = 0x68;
    frame[1] = length;
    frame[2] = 0x01;
    frame[3] = code;
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i < length; ++i) {
        sum = static_cast<std::uint8_t>(sum + frame[i]);
    }
    frame[length] = sum;
    return frame;
}

std::vector<FeedOutcome> StoredThenComplete(std::size_t size) {
    std::vector<FeedOutcome> expected(size, FeedOutcome::Stored);
    expected.back() = FeedOutcome::Complete;
    return expected;
}

Bytes FramePrefix(std::size_t count) {
    const std::uint8_t* frame = AssembledFrame();
    return Bytes(frame, frame + count);
}

TEST(FeedByte, AssemblesTheReadingFrameByteByByte) {
    EXPECT_EQ(FeedAll(kReadingFrame), StoredThenComplete(kReadingFrame.size()));
    EXPECT_EQ(FramePrefix(kReadingFrame.size()), kReadingFrame);
    EXPECT_TRUE(AssembledFrameChecksumHolds());

    const std::uint8_t* f = AssembledFrame();
    EXPECT_DOUBLE_EQ(DecodeBcdReading(f[4], f[5], f[6]), -12.34);
    EXPECT_DOUBLE_EQ(DecodeBcdReading(f[7], f[8], f[9]), 5.6);
    EXPECT_DOUBLE_EQ(DecodeBcdReading(f[10], f[11], f[12]), 359.99);
}

TEST(FeedByte, CompletesAFrameWithABadChecksumButTheChecksumFails) {
    Bytes bad = kReadingFrame;
    bad.back() = 0x43;
    EXPECT_EQ(FeedAll(bad), StoredThenComplete(bad.size()));
    EXPECT_FALSE(AssembledFrameChecksumHolds());
}

TEST(FeedByte, NoChecksumHoldsBeforeTheFirstFrame) {
    EXPECT_FALSE(AssembledFrameChecksumHolds());
}

TEST(FeedByte, ALoneStartByteAtProgramStartIsNotAFrame) {
    EXPECT_EQ(FeedByte(0x68), FeedOutcome::Stored);
    EXPECT_EQ(FeedByte(0x04), FeedOutcome::Stored);
    EXPECT_EQ(FeedByte(0x01), FeedOutcome::Stored);
    EXPECT_EQ(FeedByte(0x84), FeedOutcome::Stored);
    EXPECT_EQ(FeedByte(0x89), FeedOutcome::Complete);
    EXPECT_TRUE(AssembledFrameChecksumHolds());
}

TEST(FeedByte, LengthByteOutside4To49IsRejected) {
    for (std::uint8_t length : {0x00, 0x01, 0x03, 0x32, 0x33, 0x80, 0xFF}) {
        SCOPED_TRACE(static_cast<int>(length));
        EXPECT_EQ(FeedByte(0x68), FeedOutcome::Stored);
        EXPECT_EQ(FeedByte(length), FeedOutcome::Rejected);
        // The rejected length byte was stored before the test.
        EXPECT_EQ(AssembledFrame()[1], length);
        // Back to waiting for a start byte: anything else is rejected at once.
        EXPECT_EQ(FeedByte(0x04), FeedOutcome::Rejected);
    }
}

TEST(FeedByte, LengthBytesFrom4To49AreAccepted) {
    for (std::uint8_t length : {0x04, 0x05, 0x0D, 0x31}) {
        SCOPED_TRACE(static_cast<int>(length));
        const Bytes frame = MakeFrame(length, 0x84, 0x5A);
        EXPECT_EQ(FeedAll(frame), StoredThenComplete(frame.size()));
        EXPECT_EQ(FramePrefix(frame.size()), frame);
        EXPECT_TRUE(AssembledFrameChecksumHolds());
    }
}

TEST(FeedByte, NonStartByteIsRejectedAndTheNextStartByteBeginsAFrame) {
    for (std::uint8_t noise : {0x00, 0x67, 0x69, 0xFF}) {
        SCOPED_TRACE(static_cast<int>(noise));
        EXPECT_EQ(FeedByte(noise), FeedOutcome::Rejected);
        EXPECT_EQ(AssembledFrame()[0], noise);
    }
    EXPECT_EQ(FeedAll(kReadingFrame), StoredThenComplete(kReadingFrame.size()));
    EXPECT_TRUE(AssembledFrameChecksumHolds());
}

TEST(FeedByte, TwoFramesBackToBack) {
    const Bytes second = MakeFrame(0x05, 0x8F, 0x00);
    Bytes both = kReadingFrame;
    both.insert(both.end(), second.begin(), second.end());

    std::vector<Bytes> completed;
    for (std::uint8_t b : both) {
        if (FeedByte(b) == FeedOutcome::Complete) {
            EXPECT_TRUE(AssembledFrameChecksumHolds());
            completed.push_back(FramePrefix(static_cast<std::size_t>(AssembledFrame()[1]) + 1));
        }
    }
    ASSERT_EQ(completed.size(), 2u);
    EXPECT_EQ(completed[0], kReadingFrame);
    EXPECT_EQ(completed[1], second);
}

TEST(FeedByte, ShortFrameLeavesLaterPositionsOfEarlierFrames) {
    FeedAll(kReadingFrame);
    const Bytes shortFrame = {0x68, 0x05, 0x01, 0x84, 0x00, 0x8A};
    EXPECT_EQ(FeedAll(shortFrame), StoredThenComplete(shortFrame.size()));
    EXPECT_TRUE(AssembledFrameChecksumHolds());

    Bytes expected = kReadingFrame;
    std::copy(shortFrame.begin(), shortFrame.end(), expected.begin());
    EXPECT_EQ(FramePrefix(expected.size()), expected);
    // Positions 7 to 12 still decode as the earlier frame's Roll and Heading.
    const std::uint8_t* f = AssembledFrame();
    EXPECT_DOUBLE_EQ(DecodeBcdReading(f[7], f[8], f[9]), 5.6);
    EXPECT_DOUBLE_EQ(DecodeBcdReading(f[10], f[11], f[12]), 359.99);
}

TEST(FeedByte, AFrameMayStraddleARejectedFrameOnlyFromItsStart) {
    // 68 then a bad length: the next 68 starts again, and the frame after it completes.
    EXPECT_EQ(FeedByte(0x68), FeedOutcome::Stored);
    EXPECT_EQ(FeedByte(0x03), FeedOutcome::Rejected);
    const Bytes frame = MakeFrame(0x07, 0x89, 0x64);
    EXPECT_EQ(FeedAll(frame), StoredThenComplete(frame.size()));
    EXPECT_TRUE(AssembledFrameChecksumHolds());
}

TEST(DecodeBcdReading, KnownAnswers) {
    const struct {
        std::uint8_t a, b, c;
        double value;
    } cases[] = {
        {0x10, 0x12, 0x34, -12.34},
        {0x00, 0x05, 0x60, 5.6},
        {0x03, 0x59, 0x99, 359.99},
        {0x00, 0x00, 0x00, 0.0},
        {0x09, 0x99, 0x99, 999.99},
        {0x19, 0x99, 0x99, -999.99},
        {0x00, 0x00, 0x01, 0.01},
        // Any non-zero sign nibble is negative.
        {0x20, 0x12, 0x34, -12.34},
        {0xF0, 0x00, 0x10, -0.1},
        // Nibbles above 9 count with their digit's weight.
        {0x0A, 0x00, 0x00, 1000.0},
        {0x00, 0xAB, 0xCD, 112.33},
        {0x0F, 0xFF, 0xFF, 1666.65},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_DOUBLE_EQ(DecodeBcdReading(c.a, c.b, c.c), c.value);
    }
}

TEST(FrameCount, CountsAndResets) {
    EXPECT_EQ(FrameCount(), 0);
    CountCompletedFrame();
    CountCompletedFrame();
    CountCompletedFrame();
    EXPECT_EQ(FrameCount(), 3);
    ResetFrameCount();
    EXPECT_EQ(FrameCount(), 0);
    CountCompletedFrame();
    EXPECT_EQ(FrameCount(), 1);
}

}  // namespace
