// Any field text through the unsigned and double parsers: an accepted value, written back the
// way a refresh writes it, is accepted again (a double to the 15 digits the refresh keeps).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FieldParse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (const auto value = ParseUnsignedField(text)) {
        if (ParseUnsignedField(FormatUnsignedField(*value)) != value)
            std::abort();
    }
    if (const auto value = ParseDoubleField(text)) {
        const auto again = ParseDoubleField(FormatDoubleField(*value));
        if (!again || std::fabs(*again - *value) > 1e-14 * std::fabs(*value) + 1e-300)
            std::abort();
    }
    return 0;
}
