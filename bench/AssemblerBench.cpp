// Throughput of the receive path without a window: every byte goes through the frame-hex log
// and the assembler; every completed frame through the Received log, the frame counter, the
// checksum test and the reading decoder, in the order the window's receive handler uses.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "Recording.h"
#include "Response.h"
#include "TrafficLog.h"

namespace {

constexpr int kFramesPerBuffer = 4096;

std::uint8_t Bcd(int value) {
    return static_cast<std::uint8_t>((value / 10) << 4 | (value % 10));
}

// Packed BCD of a value in hundredths: sign nibble and hundreds, tens and units, hundredths.
void AppendBcdReading(std::vector<std::uint8_t>& out, int hundredths) {
    const bool negative = hundredths < 0;
    const int magnitude = negative ? -hundredths : hundredths;
    const int whole = magnitude / 100;
    out.push_back(static_cast<std::uint8_t>((negative ? 0x10 : 0x00) | (whole / 100)));
    out.push_back(Bcd(whole % 100));
    out.push_back(Bcd(magnitude % 100));
}

void AppendReadingFrame(std::vector<std::uint8_t>& out, int k, bool badChecksum) {
    const std::size_t start = out.size();
    out.push_back(kFrameStart);
    out.push_back(static_cast<std::uint8_t>(kReadingFrameSize - 1));  // L
    out.push_back(0x00);                                              // address
    out.push_back(ANS_READ);
    AppendBcdReading(out, (k * 7) % 18000 - 9000);    // pitch
    AppendBcdReading(out, (k * 13) % 36000 - 18000);  // roll
    AppendBcdReading(out, (k * 29) % 36000);          // heading
    std::uint8_t sum = 0;
    for (std::size_t i = start + 1; i < out.size(); ++i) {
        sum = static_cast<std::uint8_t>(sum + out[i]);
    }
    out.push_back(badChecksum ? static_cast<std::uint8_t>(sum + 1) : sum);
}

// Whole frames only, so that every pass starts with the assembler waiting for a start byte.
// The noisy stream has a bad checksum in every 64th frame and one to three bytes of noise
// (never a start byte) before every 32nd.
std::vector<std::uint8_t> MakeStream(bool noisy) {
    std::vector<std::uint8_t> out;
    out.reserve(kFramesPerBuffer * 16);
    for (int k = 0; k < kFramesPerBuffer; ++k) {
        if (noisy && k % 32 == 5) {
            for (int n = 0; n <= k % 3; ++n)
                out.push_back(static_cast<std::uint8_t>(0x10 + k % 80));
        }
        AppendReadingFrame(out, k, noisy && k % 64 == 9);
    }
    return out;
}

// The window's per-byte work. A rejected byte there drops the rest of its read; here every
// byte is fed, which is the heavier case. False when a record block could not be written.
bool FeedStream(const std::vector<std::uint8_t>& stream, std::string& received,
                std::string& frameHex, Recorder& record, Reading& reading) {
    for (const std::uint8_t byte : stream) {
        LogReceivedByte(frameHex, byte);
        switch (FeedByte(byte)) {
            case FeedOutcome::Stored:
                break;
            case FeedOutcome::Rejected:
                LogRejectedBytes(received, frameHex);
                break;
            case FeedOutcome::Complete:
                if (!LogCompletedFrame(received, frameHex, record))
                    return false;
                CountCompletedFrame();
                if (AssembledFrameChecksumHolds()) {
                    const std::uint8_t* frame = AssembledFrame();
                    if (frame[3] == ANS_READ)
                        reading = ReadingOfFrame(frame, frame[1] + 1u).value_or(reading);
                }
                break;
        }
    }
    return true;
}

void RunAssembler(benchmark::State& state, const std::vector<std::uint8_t>& stream,
                  Recorder& record) {
    std::string received;
    std::string frameHex;
    frameHex.reserve(256);  // as the window reserves it
    Reading reading;
    ResetFrameCount();
    for (auto _ : state) {
        if (!FeedStream(stream, received, frameHex, record, reading)) {
            state.SkipWithError("a record block could not be written");
            return;
        }
        benchmark::DoNotOptimize(reading);
        benchmark::DoNotOptimize(received.data());
    }
    const long long passes = static_cast<long long>(state.iterations());
    state.SetBytesProcessed(passes * static_cast<long long>(stream.size()));
    state.counters["frames"] = static_cast<double>(FrameCount());
    // A fault in the path under test must not pass as a fast figure.
    if (FrameCount() != passes * kFramesPerBuffer)
        state.SkipWithError("frames were lost");
}

void BM_AssemblerAndLogs(benchmark::State& state) {
    static const std::vector<std::uint8_t> stream = MakeStream(false);
    Recorder idle;
    RunAssembler(state, stream, idle);
}
BENCHMARK(BM_AssemblerAndLogs);

void BM_AssemblerAndLogsNoisy(benchmark::State& state) {
    static const std::vector<std::uint8_t> stream = MakeStream(true);
    Recorder idle;
    RunAssembler(state, stream, idle);
}
BENCHMARK(BM_AssemblerAndLogsNoisy);

// With recording on, every 60 frame lines also go to the record file as one block.
void BM_AssemblerAndLogsRecording(benchmark::State& state) {
    static const std::vector<std::uint8_t> stream = MakeStream(false);
    std::string pattern = (std::filesystem::temp_directory_path() / "torva-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        state.SkipWithError("cannot create a temporary folder");
        return;
    }
    const std::filesystem::path folder = pattern;
    Recorder record;
    if (record.Start(folder.string(), LocalTimeNow()) != RecordStart::Started) {
        state.SkipWithError("cannot start recording");
    } else {
        RunAssembler(state, stream, record);
        StopRecording(record, std::string(), LocalTimeNow());
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}
// Bounded: each pass writes about 170 kB of text to the record file.
BENCHMARK(BM_AssemblerAndLogsRecording)->Iterations(300);

}  // namespace

BENCHMARK_MAIN();
