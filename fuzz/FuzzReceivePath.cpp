// Arbitrary bytes cut into arbitrary reads through the module session's whole receive path:
// assembler, Received log, frame count, the dispatch of answers and the reading history.
// Invariants: no access outside the frame buffer or the working array (the sanitizers), the
// Received text within the bound its limits allow, and the frame count equal to the frames that
// completed according to a plain model of the framing rules.
//
// Input: byte 0 gives how many of the following bytes are read lengths (0 to 7, cycled); the rest
// is the byte stream.
#include <QByteArray>
#include <QCoreApplication>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "ModuleSession.h"

namespace {

// The framing rules written out plainly: a frame starts with 0x68, its length byte L lies in
// 4..49, and it is complete after L + 1 bytes; a byte that breaks the rules drops the rest of
// its read.
struct FramingModel {
    int index = 0;
    int length = 0;
    long completed = 0;

    void Read(const std::uint8_t* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            const std::uint8_t b = data[i];
            if (index == 0 && b != 0x68)
                return;
            if (index == 1) {
                if (b < 4 || b > 49) {
                    index = 0;
                    return;
                }
                length = b;
            }
            ++index;
            if (index >= 5 && index == length + 1) {
                index = 0;
                ++completed;
            }
        }
    }
};

// At most 60 frame lines of 50 bytes ("XX " each, then CR LF) and 600 rejected pieces of at
// most 2 bytes with a CR LF after every tenth piece before a limit empties the log.
constexpr std::size_t kReceivedBound = 60 * (50 * 3 + 2) + 600 * 2 * 3 + 60 * 2;
constexpr std::size_t kFrameHexBound = 50 * 3;

struct Harness {
    int argc = 1;
    char name[16] = "fuzz_receive";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    ModuleSession session;
    FramingModel model;  // persists like the assembler: a frame may span inputs
};

[[noreturn]] void Broken(const char* what, long a, long b) {
    std::fprintf(stderr, "invariant broken: %s (%ld, %ld)\n", what, a, b);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness h;
    if (size == 0)
        return 0;
    const std::size_t cuts = data[0] % 8;
    if (size < 1 + cuts)
        return 0;
    const std::uint8_t* lengths = data + 1;
    const std::uint8_t* stream = data + 1 + cuts;
    const std::size_t streamSize = size - 1 - cuts;

    std::size_t offset = 0;
    for (std::size_t read = 0; offset < streamSize; ++read) {
        // Reads of 1 to 4096 bytes, so some cross the 2048-byte working array.
        std::size_t count = cuts == 0 ? streamSize : 1 + (lengths[read % cuts] * 17u) % 4096u;
        if (count > streamSize - offset)
            count = streamSize - offset;
        h.session.rateTick();  // the count starts from zero, as every second in the console
        const long modelBefore = h.model.completed;
        h.session.takeInput(reinterpret_cast<const char*>(stream + offset),
                            static_cast<qsizetype>(count));
        h.model.Read(stream + offset, count);
        offset += count;

        if (h.session.frameCount() != h.model.completed - modelBefore)
            Broken("frames counted differ from frames completed", h.session.frameCount(),
                   h.model.completed - modelBefore);
        const TrafficLog& log = h.session.log();
        if (log.receivedText().size() > kReceivedBound)
            Broken("Received text beyond its bound", static_cast<long>(log.receivedText().size()),
                   static_cast<long>(kReceivedBound));
        if (log.frameHex().size() > kFrameHexBound)
            Broken("pending frame text beyond one frame", static_cast<long>(log.frameHex().size()),
                   static_cast<long>(kFrameHexBound));
    }
    return 0;
}
