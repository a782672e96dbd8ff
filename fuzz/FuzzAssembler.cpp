// Random bytes through the receive path's assembler and logs: no out-of-bounds access, and
// every completed frame is as long as its length byte says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Response.h"
#include "TrafficLog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TrafficLog log;
    Recorder idle;  // not recording: full blocks only empty the log
    ResponseAssembler assembler;
    std::size_t bytesInFrame = 0;
    for (std::size_t i = 0; i < size; ++i) {
        log.logReceivedByte(data[i]);
        ++bytesInFrame;
        switch (assembler.feed(data[i])) {
            case FeedOutcome::Stored:
                break;
            case FeedOutcome::Rejected:
                log.logRejected();
                bytesInFrame = 0;
                break;
            case FeedOutcome::Complete: {
                const std::uint8_t* frame = assembler.frame();
                if (frame[0] != kFrameStart || frame[1] < 4 || frame[1] >= kAssemblerCapacity ||
                    bytesInFrame < static_cast<std::size_t>(frame[1]) + 1) {
                    std::abort();
                }
                log.logCompletedFrame(idle);
                assembler.checksumHolds();
                ReadingOfFrame(frame, assembler.frameSize());
                bytesInFrame = 0;
                break;
            }
        }
    }
    return 0;
}
