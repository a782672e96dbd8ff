#pragma once

#include <optional>
#include <string>

// --help and --version, answered before any window system is touched so that they work without
// a display. Returns the exit status when one of them was given; otherwise nothing, and every
// argument is left for Qt.
std::optional<int> AnswerInfoOption(int argc, char** argv);

// Why no window can be opened, found before Qt starts (which would abort): no platform named
// (-platform, QT_QPA_PLATFORM) and no display (-display, DISPLAY, WAYLAND_DISPLAY). Empty when
// there may be one.
std::string MissingDisplay(int argc, char** argv);
