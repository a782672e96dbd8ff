#pragma once

#include <string>
#include <string_view>

// Writes an export file that did not exist before: created with O_CREAT | O_EXCL | O_NOFOLLOW
// (never through a link, never over another file), written whole from memory with every write
// and the close checked. A taken name gets the next free one ("Name-2.csv", "Name-3.csv" ...). A
// file that could not be written whole is removed again.
struct NewFileResult {
    std::string path;   // the file written, empty when none was
    std::string error;  // why nothing was written
};

// `folder` is made when it is missing; the file is `stem` + `suffix` in it.
NewFileResult WriteNewFile(const std::string& folder, const std::string& stem,
                           const std::string& suffix, std::string_view contents);
