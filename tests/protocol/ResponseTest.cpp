#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "Response.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kReadingFrame = {0x68, 0x0D, 0x01, 0x84, 0x10, 0x12, 0x34,
                             0x00, 0x05, 0x60, 0x03, 0x59, 0x99, 0x42};

// Feeds the bytes one by one and returns the outcome of each.
std::vector<FeedOutcome> FeedAll(ResponseAssembler& assembler, const Bytes& bytes) {
    std::vector<FeedOutcome> outcomes;
    for (std::uint8_t b : bytes) {
        outcomes.push_back(assembler.feed(b));
    }
    return outcomes;
}

std::vector<FeedOutcome> StoredThenComplete(std::size_t size) {
    std::vector<FeedOutcome> expected(size, FeedOutcome::Stored);
    expected.back() = FeedOutcome::Complete;
    return expected;
}

Bytes Assembled(const ResponseAssembler& assembler, std::size_t count) {
    return Bytes(assembler.frame(), assembler.frame() + count);
}

TEST(ResponseAssembler, AssemblesTheReadingFrameByteByByte) {
    ResponseAssembler assembler;
    EXPECT_EQ(FeedAll(assembler, kReadingFrame), StoredThenComplete(kReadingFrame.size()));
    EXPECT_EQ(Assembled(assembler, kReadingFrame.size()), kReadingFrame);
    EXPECT_EQ(assembler.frameSize(), kReadingFrame.size());
    EXPECT_TRUE(assembler.checksumHolds());
}

TEST(ResponseAssembler, CompletesAFrameWithABadChecksumButTheChecksumFails) {
    ResponseAssembler assembler;
    EXPECT_FALSE(assembler.checksumHolds());  // nothing assembled yet
    EXPECT_EQ(assembler.frameSize(), 0u);
    Bytes bad = kReadingFrame;
    bad.back() = 0x43;
    EXPECT_EQ(FeedAll(assembler, bad), StoredThenComplete(bad.size()));
    EXPECT_FALSE(assembler.checksumHolds());
}

TEST(ResponseAssembler, AcceptsLengths4To49AndRejectsTheRest) {
    ResponseAssembler assembler;
    for (int length : {0, 3, 4, 5, 13, 49, 50, 0xFF}) {
        SCOPED_TRACE(length);
        const bool accepted = length >= 4 && length <= 49;
        Bytes frame(static_cast<std::size_t>(std::max(length, 1)) + 1, 0x5A);
        frame[0] = 0x68;
        frame[1] = static_cast<std::uint8_t>(length);
        if (accepted) {
            frame.back() = 0;
            for (int i = 1; i < length; ++i) {
                frame.back() = static_cast<std::uint8_t>(frame.back() + frame[i]);
            }
            EXPECT_EQ(FeedAll(assembler, frame), StoredThenComplete(frame.size()));
            EXPECT_EQ(Assembled(assembler, frame.size()), frame);
            EXPECT_TRUE(assembler.checksumHolds());
            continue;
        }
        EXPECT_EQ(assembler.feed(0x68), FeedOutcome::Stored);
        EXPECT_EQ(assembler.feed(frame[1]), FeedOutcome::Rejected);
        EXPECT_EQ(assembler.frame()[1], frame[1]);  // stored before the test
        // Back to waiting for a start byte; the next frame assembles from its own start.
        EXPECT_EQ(assembler.feed(0x04), FeedOutcome::Rejected);
        EXPECT_EQ(FeedAll(assembler, kReadingFrame), StoredThenComplete(kReadingFrame.size()));
    }
}

TEST(ResponseAssembler, NonStartByteIsRejectedAndTheNextStartByteBeginsAFrame) {
    ResponseAssembler assembler;
    for (std::uint8_t noise : {0x00, 0x67, 0x69, 0xFF}) {
        EXPECT_EQ(assembler.feed(noise), FeedOutcome::Rejected) << int{noise};
    }
    EXPECT_EQ(FeedAll(assembler, kReadingFrame), StoredThenComplete(kReadingFrame.size()));
    EXPECT_TRUE(assembler.checksumHolds());
}

TEST(ResponseAssembler, ShortFrameLeavesLaterPositionsOfEarlierFrames) {
    ResponseAssembler assembler;
    FeedAll(assembler, kReadingFrame);
    const Bytes shortFrame = {0x68, 0x05, 0x01, 0x84, 0x00, 0x8A};
    EXPECT_EQ(FeedAll(assembler, shortFrame), StoredThenComplete(shortFrame.size()));
    EXPECT_TRUE(assembler.checksumHolds());
    Bytes expected = kReadingFrame;
    std::copy(shortFrame.begin(), shortFrame.end(), expected.begin());
    EXPECT_EQ(Assembled(assembler, expected.size()), expected);
}

// A frame begun and given up: the next start byte begins a frame of its own, and the bytes
// already stored stay where they were.
TEST(ResponseAssembler, ResetGivesUpAFrameBegunAndKeepsTheBuffer) {
    ResponseAssembler assembler;
    EXPECT_FALSE(assembler.inFrame());
    FeedAll(assembler, Bytes(kReadingFrame.begin(), kReadingFrame.begin() + 6));
    EXPECT_TRUE(assembler.inFrame());
    assembler.reset();
    EXPECT_FALSE(assembler.inFrame());
    EXPECT_EQ(Assembled(assembler, 6), Bytes(kReadingFrame.begin(), kReadingFrame.begin() + 6));
    EXPECT_EQ(assembler.feed(0x12), FeedOutcome::Rejected);
    EXPECT_EQ(FeedAll(assembler, kReadingFrame), StoredThenComplete(kReadingFrame.size()));
    EXPECT_FALSE(assembler.inFrame());
}

TEST(DecodeBcdReading, KnownAnswers) {
    const struct {
        std::uint8_t a, b, c;
        double value;
    } cases[] = {
        {0x10, 0x12, 0x34, -12.34},
        {0x00, 0x05, 0x60, 5.6},
        {0x03, 0x59, 0x99, 359.99},
        {0x00, 0x00, 0x01, 0.01},
        {0x19, 0x99, 0x99, -999.99},
        {0x20, 0x12, 0x34, -12.34},  // any non-zero sign nibble is negative
        {0xF0, 0x00, 0x10, -0.1},
        {0x0A, 0x00, 0x00, 1000.0},  // nibbles above 9 keep their digit's weight
        {0x00, 0xAB, 0xCD, 112.33},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(DecodeBcdReading(c.a, c.b, c.c), c.value) << c.value;
    }
}

TEST(ReadingOfFrame, OnlyAFrameLongEnoughAndInDecimalDigitsIsAReading) {
    const auto check = [](const Bytes& frame, std::size_t size, ReadingFault fault) {
        EXPECT_EQ(CheckReadingFrame(frame.data(), size), fault);
        EXPECT_EQ(ReadingOfFrame(frame.data(), size).has_value(), fault == ReadingFault::None);
    };
    const auto reading = ReadingOfFrame(kReadingFrame.data(), kReadingFrame.size());
    ASSERT_TRUE(reading.has_value());
    EXPECT_DOUBLE_EQ(reading->pitch, -12.34);
    EXPECT_DOUBLE_EQ(reading->roll, 5.6);
    EXPECT_DOUBLE_EQ(reading->heading, 359.99);
    // The size is the frame's, whatever the buffer behind it holds.
    for (std::size_t size : {std::size_t{0}, std::size_t{6}, std::size_t{13}})
        check(kReadingFrame, size, ReadingFault::TooShort);
    Bytes longer = kReadingFrame;  // L = 15: bytes 13 and 14 are not part of the reading
    longer[1] = 0x0F;
    longer.insert(longer.end() - 1, {0xAB, 0xCD});
    check(longer, longer.size(), ReadingFault::None);
    // A nibble above 9 anywhere in bytes 4 to 12 but a sign nibble (high nibble of 4, 7, 10).
    for (std::size_t at = 4; at <= 12; ++at) {
        for (const bool high : {true, false}) {
            SCOPED_TRACE(testing::Message() << "byte " << at << (high ? " high" : " low"));
            Bytes frame = kReadingFrame;
            frame[at] = static_cast<std::uint8_t>(high ? (frame[at] & 0x0F) | 0xA0
                                                       : (frame[at] & 0xF0) | 0x0A);
            const bool sign = high && (at - 4) % 3 == 0;
            check(frame, frame.size(), sign ? ReadingFault::None : ReadingFault::NotDecimal);
        }
    }
}

}  // namespace
