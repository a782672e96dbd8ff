#pragma once

#include <optional>

// --help and --version, answered before any window system is touched so that they work without
// a display. Returns the exit status when one of them was given; otherwise nothing, and every
// argument is left for Qt.
std::optional<int> AnswerInfoOption(int argc, char** argv);
