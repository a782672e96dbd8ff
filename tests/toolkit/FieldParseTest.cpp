#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>

#include "FieldParse.h"

namespace {

template <typename T>
struct Case {
    std::string text;
    std::optional<T> expected;  // nullopt: rejected
};

class UnsignedField : public ::testing::TestWithParam<Case<std::uint32_t>> {};
class DoubleField : public ::testing::TestWithParam<Case<double>> {};

TEST_P(UnsignedField, Parses) {
    EXPECT_EQ(ParseUnsignedField(GetParam().text), GetParam().expected)
        << '"' << GetParam().text << '"';
}

TEST_P(DoubleField, Parses) {
    EXPECT_EQ(ParseDoubleField(GetParam().text), GetParam().expected)
        << '"' << GetParam().text << '"';
}

using U = Case<std::uint32_t>;
using D = Case<double>;
constexpr std::nullopt_t kRejected = std::nullopt;
// Only the first 31 characters are seen: blanks push the rest of the text past the cut.
std::string Blanks(std::size_t n) {
    return std::string(n, ' ');
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnsignedField,
    ::testing::Values(U{"0", 0u}, U{"007", 7u}, U{"", kRejected}, U{"   ", kRejected},
                      U{"-1", kRejected}, U{"-0", kRejected}, U{"+5", 5u}, U{"+", kRejected},
                      U{"+0", kRejected}, U{" \t12 \t", 12u}, U{"12a", kRejected},
                      U{"1 2", kRejected}, U{"0x10", kRejected}, U{"3.5", kRejected},
                      U{"abc", kRejected}, U{"4294967295", 4294967295u},
                      U{"4294967296", 4294967295u}, U{"99999999999999999999999", 4294967295u},
                      U{Blanks(29) + "42xyz", 42u}, U{Blanks(29) + "4x", kRejected},
                      U{Blanks(31) + "9", kRejected}, U{std::string(30, '0') + "12", 1u}));

INSTANTIATE_TEST_SUITE_P(
    Table, DoubleField,
    ::testing::Values(D{"-0.1", -0.1}, D{"-1", -1.0}, D{"0", 0.0}, D{"0.0", 0.0},
                      D{"-0", kRejected}, D{".0", kRejected}, D{"+0", kRejected}, D{"", kRejected},
                      D{"-", kRejected}, D{".", kRejected}, D{"+2.5", 2.5},
                      D{" \t-12.37\t ", -12.37}, D{"1e2", 100.0}, D{"1.5E-1", 0.15}, D{".5", 0.5},
                      D{"5.", 5.0}, D{"1e", kRejected}, D{"12,5", kRejected}, D{"2.8x", kRejected},
                      D{"inf", kRejected}, D{"nan", kRejected}, D{"0x10", kRejected},
                      D{"1e999", kRejected}, D{"1e-999", kRejected}, D{"0e-999", 0.0},
                      D{Blanks(28) + "-3.5junk", -3.0}, D{Blanks(28) + "-3x", kRejected}));

// The refresh writes a double as "%.15g" does, whatever the value: the field shows what a
// printf-formatted field would, and a commit reads back the value that was shown.
TEST(DoubleFieldText, IsWhatPrintfWrites) {
    const double values[] = {-0.1,
                             0.0,
                             -0.0,
                             1.0,
                             -12.37,
                             159.9,
                             0.1 + 0.2,
                             1.0 / 3.0,
                             123456789012345.0,
                             1234567890123456.0,
                             1e15,
                             1e16,
                             1e-4,
                             1e-5,
                             1e300,
                             -2.5e-300,
                             std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::denorm_min(),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::nan("")};
    for (const double value : values) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.*g", 15, value);
        EXPECT_EQ(FormatDoubleField(value), expected) << expected;
    }
}

}  // namespace
