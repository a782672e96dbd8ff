// Throughput of the module session's receive path, without a line or a window: every byte goes
// through the frame-hex log and the assembler; every completed frame through the Received log
// (and the record), the frame count, the checksum test and the dispatch (a reading decoded,
// kept in the history and signalled). Reads are of 1024 bytes, as the line delivers them.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "ModuleSession.h"

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

// What the line reads at most at a time.
constexpr std::size_t kReadSize = 1024;

// Bytes as the line delivers them: whole frames only, so that every pass starts with the
// assembler waiting for a start byte, in reads of kReadSize bytes. The noisy stream has a bad
// checksum in every 64th frame and one to three bytes of noise (never a start byte) before
// every 32nd; a read ends with each noise, since a rejected byte drops the rest of its read.
struct Stream {
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> readEnds;
};

Stream MakeStream(bool noisy) {
    Stream out;
    out.bytes.reserve(kFramesPerBuffer * 16);
    std::size_t readStart = 0;
    const auto endRead = [&](std::size_t at) {
        for (; at - readStart > kReadSize; readStart += kReadSize)
            out.readEnds.push_back(readStart + kReadSize);
        out.readEnds.push_back(at);
        readStart = at;
    };
    for (int k = 0; k < kFramesPerBuffer; ++k) {
        if (noisy && k % 32 == 5) {
            for (int n = 0; n <= k % 3; ++n)
                out.bytes.push_back(static_cast<std::uint8_t>(0x10 + k % 80));
            endRead(out.bytes.size());
        }
        AppendReadingFrame(out.bytes, k, noisy && k % 64 == 9);
    }
    endRead(out.bytes.size());
    return out;
}

// Passes the stream through the session, read by read, as its line would.
void RunSession(benchmark::State& state, const Stream& stream, ModuleSession& session) {
    const auto* bytes = reinterpret_cast<const char*>(stream.bytes.data());
    long long frames = 0;
    for (auto _ : state) {
        std::size_t at = 0;
        for (const std::size_t end : stream.readEnds) {
            session.takeInput(bytes + at, static_cast<qsizetype>(end - at));
            at = end;
        }
        frames += session.frameCount();
        session.rateTick();
        benchmark::DoNotOptimize(session.log().receivedText().data());
    }
    const long long passes = static_cast<long long>(state.iterations());
    state.SetBytesProcessed(passes * static_cast<long long>(stream.bytes.size()));
    state.counters["frames"] = static_cast<double>(frames);
    // A fault in the path under test must not pass as a fast figure.
    if (frames != passes * kFramesPerBuffer)
        state.SkipWithError("frames were lost");
    if (session.recorder().IsRecording() && session.recorder().HeldBytes() > 0)
        state.SkipWithError("a record block could not be written");
}

void BM_AssemblerAndLogs(benchmark::State& state) {
    static const Stream stream = MakeStream(false);
    ModuleSession session;
    RunSession(state, stream, session);
}
BENCHMARK(BM_AssemblerAndLogs);

void BM_AssemblerAndLogsNoisy(benchmark::State& state) {
    static const Stream stream = MakeStream(true);
    ModuleSession session;
    RunSession(state, stream, session);
}
BENCHMARK(BM_AssemblerAndLogsNoisy);

// With recording on, every 60 frame lines also go to the record file as one block.
void BM_AssemblerAndLogsRecording(benchmark::State& state) {
    static const Stream stream = MakeStream(false);
    std::string pattern = (std::filesystem::temp_directory_path() / "torva-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        state.SkipWithError("cannot create a temporary folder");
        return;
    }
    const std::filesystem::path folder = pattern;
    ModuleSession session;
    if (session.startRecording(folder.string()) != RecordStart::Started) {
        state.SkipWithError("cannot start recording");
    } else {
        RunSession(state, stream, session);
        session.stopRecording();
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}
// Bounded: each pass writes about 170 kB of text to the record file.
BENCHMARK(BM_AssemblerAndLogsRecording)->Iterations(300);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);  // the session's timers and line are QObjects
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
