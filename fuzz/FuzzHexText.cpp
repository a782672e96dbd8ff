// Any text through the hex parser: never more bytes than pairs, and what it parsed formats back
// into text that parses to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "CommandTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::uint8_t> bytes;
    const std::size_t n = HexTextToBytes(text, bytes);
    if (n != bytes.size() || n > size / 2)
        std::abort();
    std::vector<std::uint8_t> again;
    HexTextToBytes(FrameToHexText(bytes.data(), bytes.size()), again);
    if (again != bytes)
        std::abort();
    return 0;
}
