// Peak resident memory of torva-decode on a large generated record file, with CSV only and
// with the plot as well. Prints the figures; asserts nothing.
//
//   bench_decode_memory [--megabytes 105] [--decode PATH_TO_TORVA_DECODE] [--keep]
//
// The record holds reading frames of varied values between a header and an end line, as the
// console writes them; the CSV goes to /dev/null, the plot to a file beside the record.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// One reading frame's line: 68 0D 00 84, nine packed-BCD bytes, checksum, blank, CR LF.
std::string ReadingLine(long long index) {
    const auto bcd = [](int v) { return static_cast<unsigned>(v / 10 % 10 << 4 | v % 10); };
    const int heading = static_cast<int>(index * 7 % 36000);  // hundredths
    const int pitch = static_cast<int>(index % 9000), roll = static_cast<int>(index * 3 % 18000);
    const unsigned bytes[13] = {0x0D,
                                0x00,
                                0x84,
                                static_cast<unsigned>(pitch / 10000),
                                bcd(pitch / 100),
                                bcd(pitch),
                                static_cast<unsigned>(0x10 | roll / 10000),
                                bcd(roll / 100),
                                bcd(roll),
                                static_cast<unsigned>(heading / 10000),
                                bcd(heading / 100),
                                bcd(heading),
                                0};
    unsigned sum = 0;
    char text[64] = "68 ";
    int at = 3;
    for (int i = 0; i < 12; ++i) {
        sum += bytes[i];
        at += std::snprintf(text + at, sizeof text - at, "%02X ", bytes[i]);
    }
    std::snprintf(text + at, sizeof text - at, "%02X \r\n", sum & 0xFF);
    return text;
}

long long WriteRecord(const fs::path& path, double megabytes) {
    std::ofstream out(path, std::ios::binary);
    out << "Date: 2026-12-07  Time:09:05:03\r\n";
    const auto target = static_cast<long long>(megabytes * 1e6);
    long long frames = 0;
    for (long long written = 0; written < target; ++frames) {
        const std::string line = ReadingLine(frames);
        out << line;
        written += static_cast<long long>(line.size());
    }
    out << "End Date: 2026-12-08  Time:09:05:03\r\n";
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
    return frames;
}

struct Run {
    int status = -1;
    long peakKb = 0;
    double seconds = 0;
};

Run Decode(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        // The decoder's report of the file is left out; its failure shows in the status.
        if (std::FILE* null = std::freopen("/dev/null", "w", stderr); null == nullptr)
            ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    Run run;
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child)
        return run;
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.peakKb = usage.ru_maxrss;  // kilobytes on Linux
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    double megabytes = 105;
    std::string decode = TORVA_DECODE_PATH;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--megabytes" && i + 1 < argc) {
            megabytes = std::atof(argv[++i]);
        } else if (arg == "--decode" && i + 1 < argc) {
            decode = argv[++i];
        } else if (arg == "--keep") {
            keep = true;
        } else {
            std::fprintf(stderr,
                         "usage: bench_decode_memory [--megabytes N] [--decode PATH] "
                         "[--keep]\n");
            return 2;
        }
    }
    const fs::path folder =
        fs::temp_directory_path() / ("torva-decode-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path record = folder / "Rec00.txt";
    const long long frames = WriteRecord(record, megabytes);
    const double size = static_cast<double>(fs::file_size(record)) / 1e6;
    std::printf("decode memory: record of %.1f MB, %lld frames\n", size, frames);

    // The environment (QT_QPA_PLATFORM and so on) passes on to the decoder as it is.
    const Run csv = Decode({decode, "-o", "/dev/null", record.string()});
    const Run plotted = Decode(
        {decode, "-o", "/dev/null", "--plot", (folder / "plot.png").string(), record.string()});
    int failed = 0;
    for (const auto& [name, run] : {std::pair{"CSV only", csv}, {"CSV and --plot", plotted}}) {
        if (run.status != 0) {
            std::printf("decode memory, %s: failed with status %d\n", name, run.status);
            failed = 1;
            continue;
        }
        std::printf(
            "decode memory, %s: peak resident %.1f MB (%.2f bytes per record byte), "
            "%.1f s\n",
            name, static_cast<double>(run.peakKb) / 1024.0,
            static_cast<double>(run.peakKb) * 1024.0 / (size * 1e6), run.seconds);
    }
    if (!keep)
        fs::remove_all(folder);
    return failed;
}
