#include "FieldParse.h"

#include <charconv>
#include <cmath>

namespace {

constexpr std::size_t kParsedChars = 31;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The part of the field that is parsed, with leading blanks and tabs skipped; nullopt when
// anything but blanks and tabs follows position `end` of the number.
struct Span {
    std::string text;  // first 31 characters
    std::size_t begin = 0;
};

Span Prepare(const std::string& field) {
    Span s{field.substr(0, kParsedChars), 0};
    while (s.begin < s.text.size() && IsBlank(s.text[s.begin]))
        ++s.begin;
    return s;
}

bool OnlyBlanksFrom(const std::string& text, std::size_t pos) {
    for (; pos < text.size(); ++pos) {
        if (!IsBlank(text[pos]))
            return false;
    }
    return true;
}

}  // namespace

std::optional<std::uint32_t> ParseUnsignedField(const std::string& field) {
    const Span s = Prepare(field);
    std::size_t pos = s.begin;
    if (pos < s.text.size() && s.text[pos] == '-')
        return std::nullopt;
    if (pos < s.text.size() && s.text[pos] == '+')
        ++pos;
    std::uint64_t value = 0;
    while (pos < s.text.size() && IsDigit(s.text[pos])) {
        value = value * 10 + static_cast<unsigned>(s.text[pos] - '0');
        if (value > 0xFFFFFFFFull)
            value = 0xFFFFFFFFull + 1;  // keep saturating, never overflow
        ++pos;
    }
    if (!OnlyBlanksFrom(s.text, pos))
        return std::nullopt;
    if (value == 0 && (s.begin >= s.text.size() || s.text[s.begin] != '0'))
        return std::nullopt;
    return static_cast<std::uint32_t>(value > 0xFFFFFFFFull ? 0xFFFFFFFFull : value);
}

std::optional<double> ParseDoubleField(const std::string& field) {
    const Span s = Prepare(field);
    const std::string& t = s.text;
    std::size_t pos = s.begin;
    bool negative = false;
    if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) {
        negative = t[pos] == '-';
        ++pos;
    }
    const std::size_t numberBegin = pos;
    std::size_t digits = 0;
    while (pos < t.size() && IsDigit(t[pos]))
        ++pos, ++digits;
    if (pos < t.size() && t[pos] == '.') {
        ++pos;
        while (pos < t.size() && IsDigit(t[pos]))
            ++pos, ++digits;
    }
    if (digits == 0)
        return std::nullopt;  // no number: reads as 0 without a leading '0'

    bool negativeExponent = false;
    if (pos < t.size() && (t[pos] == 'e' || t[pos] == 'E')) {
        std::size_t exp = pos + 1;
        if (exp < t.size() && (t[exp] == '+' || t[exp] == '-')) {
            negativeExponent = t[exp] == '-';
            ++exp;
        }
        if (exp < t.size() && IsDigit(t[exp])) {
            while (exp < t.size() && IsDigit(t[exp]))
                ++exp;
            pos = exp;
        }
    }
    if (!OnlyBlanksFrom(t, pos))
        return std::nullopt;

    double magnitude = 0.0;
    const auto [end, ec] = std::from_chars(t.data() + numberBegin, t.data() + pos, magnitude,
                                           std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Within 31 characters only an exponent leaves the range. Underflow reads as 0
        // (rejected below unless written with a leading '0'); overflow would be an infinite
        // value, which no field should hold.
        if (!negativeExponent)
            return std::nullopt;
        magnitude = 0.0;
    } else if (ec != std::errc() || end != t.data() + pos) {
        return std::nullopt;
    }
    if (!std::isfinite(magnitude))
        return std::nullopt;
    const double value = negative ? -magnitude : magnitude;
    if (value == 0.0 && t[s.begin] != '0')
        return std::nullopt;
    return value;
}

std::string FormatUnsignedField(std::uint32_t value) {
    return std::to_string(value);
}

std::string FormatDoubleField(double value) {
    // The text of "%.15g", made without printf: every refresh formats this field, and printf's
    // way through a 15-digit double cost a seventh of the work of a receive event.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    return std::string(buffer, result.ptr);
}
