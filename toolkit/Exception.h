#pragma once

#include <stdexcept>
#include <string>

// An error raised by a control (the serial adapter above all). It escapes the handler that
// made the call; the dialog's dispatch catches it and shows its description with a stop icon.
class CControlException : public std::runtime_error {
public:
    explicit CControlException(const std::string& description) : std::runtime_error(description) {}
    std::string Description() const { return what(); }
};
