#pragma once
// The values the command-line tools take from their arguments: numbers, whole numbers in a
// range, and a port named as the console names it.

#include <QRegularExpression>
#include <QString>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "PortTable.h"

// The whole text as a finite number; nothing for "", "1x", "nan" or "inf".
inline std::optional<double> Number(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The whole text as a whole number from `low` to `high`.
inline std::optional<long long> Whole(const std::string& text, long long low, long long high) {
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high)
        return std::nullopt;
    return value;
}

// "ComN" (any case) through the console's port table, anything else as a device path.
inline std::optional<QString> Device(const std::string& text) {
    static const QRegularExpression com(QStringLiteral("^com(\\d+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(QString::fromStdString(text));
    if (!match.hasMatch())
        return text.empty() ? std::nullopt : std::optional(QString::fromStdString(text));
    const QString device = DeviceForPort(match.captured(1).toInt());
    return device.isEmpty() ? std::nullopt : std::optional(device);
}
