#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Parsers behind the data exchange of numeric fields. Both look only at the first 31
// characters, skip leading blanks and tabs, allow trailing blanks and tabs, and reject
// anything else after the number. A result of 0 counts only when the number's first
// character is '0', so an empty field, "+", "-0" and ".0" are rejected.

// Unsigned decimal; a leading '-' rejects; values beyond 4294967295 saturate.
std::optional<std::uint32_t> ParseUnsignedField(const std::string& text);

// Decimal floating point (sign, digits, point, exponent); no hex, inf or nan; a value
// that overflows a double is rejected.
std::optional<double> ParseDoubleField(const std::string& text);

// Texts the refresh writes: "%u" and "%.15g".
std::string FormatUnsignedField(std::uint32_t value);
std::string FormatDoubleField(double value);
