#include "Replay.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

namespace modulesim {
namespace {

constexpr std::uint8_t kReadingCommand = 0x84;
constexpr std::size_t kReadingLength = 13;

std::optional<Bytes> HexBytes(const std::string& line) {
    Bytes bytes;
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        if (word.size() != 2)
            return std::nullopt;
        std::uint8_t value = 0;
        for (char c : word) {
            const char* digits = "0123456789abcdef";
            const char* at = std::strchr(digits, c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
            if (c == '\0' || at == nullptr)
                return std::nullopt;
            value = static_cast<std::uint8_t>(value << 4 | (at - digits));
        }
        bytes.push_back(value);
    }
    return bytes;
}

// Where the frame that ends the line begins: the first start byte whose length byte reaches
// exactly to the end of the line.
std::optional<std::size_t> FrameStart(const Bytes& bytes) {
    for (std::size_t p = 0; p + 1 < bytes.size(); ++p) {
        if (bytes[p] == kStartByte && p + bytes[p + 1] + 1 == bytes.size())
            return p;
    }
    return std::nullopt;
}

std::string Why(const Bytes& frame) {
    char text[64];
    if (frame[1] < kMinLength || frame[1] > kMaxLength) {
        std::snprintf(text, sizeof text, "length %u out of range", frame[1]);
    } else if (Checksum(frame) != frame.back()) {
        std::snprintf(text, sizeof text, "bad checksum");
    } else if (frame[3] != kReadingCommand) {
        std::snprintf(text, sizeof text, "not a reading (command %02X)", frame[3]);
    } else if (frame[1] != kReadingLength) {
        std::snprintf(text, sizeof text, "reading of length %u", frame[1]);
    } else {
        return {};
    }
    return text;
}

}  // namespace

ReplayScript ParseRecord(std::istream& in) {
    ReplayScript script;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("Date:", 0) == 0 || line.rfind("End Date:", 0) == 0)
            continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        const std::optional<Bytes> bytes = HexBytes(line);
        if (!bytes) {
            script.skipped.push_back(where + "not hex bytes");
            continue;
        }
        if (bytes->empty())
            continue;
        const std::optional<std::size_t> start = FrameStart(*bytes);
        const std::size_t pieces = start.value_or(bytes->size());
        if (pieces > 0) {
            script.skipped.push_back(where + std::to_string(pieces) + " rejected byte" +
                                     (pieces == 1 ? "" : "s") +
                                     (start ? " before the frame" : ", no frame"));
        }
        if (!start)
            continue;
        Bytes frame(bytes->begin() + static_cast<std::ptrdiff_t>(*start), bytes->end());
        const std::string why = Why(frame);
        if (why.empty()) {
            script.frames.push_back(std::move(frame));
        } else {
            script.skipped.push_back(where + why);
        }
    }
    return script;
}

bool LoadRecord(const std::string& path, ReplayScript& script, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    script = ParseRecord(in);
    if (in.bad()) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    if (script.frames.empty()) {
        error = path + " holds no reading frame";
        return false;
    }
    return true;
}

}  // namespace modulesim
