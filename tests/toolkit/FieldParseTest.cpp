#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "FieldParse.h"

namespace {

struct UnsignedCase {
    const char* text;
    std::optional<std::uint32_t> expected;
};

class UnsignedFieldTest : public ::testing::TestWithParam<UnsignedCase> {};

TEST_P(UnsignedFieldTest, Parses) {
    const UnsignedCase& c = GetParam();
    EXPECT_EQ(ParseUnsignedField(c.text), c.expected) << "text: \"" << c.text << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnsignedFieldTest,
    ::testing::Values(UnsignedCase{"0", 0u}, UnsignedCase{"007", 7u}, UnsignedCase{"7", 7u},
                      UnsignedCase{"", std::nullopt}, UnsignedCase{"   ", std::nullopt},
                      UnsignedCase{"-1", std::nullopt}, UnsignedCase{"-0", std::nullopt},
                      UnsignedCase{"+5", 5u}, UnsignedCase{"+", std::nullopt},
                      UnsignedCase{"+0", std::nullopt}, UnsignedCase{" \t12 \t", 12u},
                      UnsignedCase{"12a", std::nullopt}, UnsignedCase{"1 2", std::nullopt},
                      UnsignedCase{"0x10", std::nullopt}, UnsignedCase{"4294967295", 4294967295u},
                      UnsignedCase{"4294967296", 4294967295u},
                      UnsignedCase{"99999999999999999999999", 4294967295u},
                      UnsignedCase{"abc", std::nullopt},
                      UnsignedCase{"3.5", std::nullopt}));

// Only the first 31 characters count: what follows them is not seen.
TEST(UnsignedField, OnlyTheFirst31CharactersAreParsed) {
    EXPECT_EQ(ParseUnsignedField(std::string(29, ' ') + "42xyz"), 42u);
    EXPECT_EQ(ParseUnsignedField(std::string(29, ' ') + "4x"), std::nullopt);
    EXPECT_EQ(ParseUnsignedField(std::string(31, ' ') + "9"), std::nullopt);
    EXPECT_EQ(ParseUnsignedField(std::string(30, '0') + "12"), 1u);
}

struct DoubleCase {
    const char* text;
    std::optional<double> expected;
};

class DoubleFieldTest : public ::testing::TestWithParam<DoubleCase> {};

TEST_P(DoubleFieldTest, Parses) {
    const DoubleCase& c = GetParam();
    const auto parsed = ParseDoubleField(c.text);
    ASSERT_EQ(parsed.has_value(), c.expected.has_value()) << "text: \"" << c.text << "\"";
    if (parsed) {
        EXPECT_DOUBLE_EQ(*parsed, *c.expected) << "text: \"" << c.text << "\"";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DoubleFieldTest,
    ::testing::Values(DoubleCase{"-0.1", -0.1}, DoubleCase{"-1", -1.0}, DoubleCase{"0", 0.0},
                      DoubleCase{"0.0", 0.0}, DoubleCase{"-0", std::nullopt},
                      DoubleCase{".0", std::nullopt}, DoubleCase{"+0", std::nullopt},
                      DoubleCase{"", std::nullopt}, DoubleCase{"-", std::nullopt},
                      DoubleCase{".", std::nullopt}, DoubleCase{"+2.5", 2.5},
                      DoubleCase{" \t-12.37\t ", -12.37}, DoubleCase{"1e2", 100.0},
                      DoubleCase{"1.5E-1", 0.15}, DoubleCase{".5", 0.5}, DoubleCase{"5.", 5.0},
                      DoubleCase{"1e", std::nullopt}, DoubleCase{"12,5", std::nullopt},
                      DoubleCase{"2.8x", std::nullopt}, DoubleCase{"inf", std::nullopt},
                      DoubleCase{"nan", std::nullopt}, DoubleCase{"0x10", std::nullopt},
                      DoubleCase{"1e999", std::nullopt}, DoubleCase{"1e-999", std::nullopt},
                      DoubleCase{"0e-999", 0.0}));

TEST(DoubleField, OnlyTheFirst31CharactersAreParsed) {
    EXPECT_EQ(ParseDoubleField(std::string(28, ' ') + "-3.5junk"), -3.0);
    EXPECT_EQ(ParseDoubleField(std::string(28, ' ') + "-3x"), std::nullopt);
}

TEST(FieldFormat, RefreshTextsAreCanonical) {
    EXPECT_EQ(FormatUnsignedField(7), "7");
    EXPECT_EQ(FormatUnsignedField(4294967295u), "4294967295");
    EXPECT_EQ(FormatDoubleField(-0.1), "-0.1");
    EXPECT_EQ(FormatDoubleField(10.1), "10.1");
    EXPECT_EQ(FormatDoubleField(-12.37), "-12.37");
    EXPECT_EQ(FormatDoubleField(1e20), "1e+20");
}

}  // namespace
