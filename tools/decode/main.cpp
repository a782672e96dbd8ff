#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "Plot.h"
#include "RecordDecoder.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFileFailed = 1;
constexpr int kExitUsage = 2;

const char kHelp[] = R"(NAME
    torva-decode - decode the frames of TORVA record files

SYNOPSIS
    torva-decode [-o FILE] [--plot IMAGE.png] [--size WxH] RECORD-FILE...
    torva-decode --help

DESCRIPTION
    Reads record files (Rec00.txt ... Rec99.txt) written by the TORVA console, feeds every
    received byte to the console's own frame assembler, tests each complete frame's checksum
    and decodes it. Writes one CSV row per complete frame:

      file, line       the record file and the line on which the frame completed
      code             the response's command code, e.g. 0x84 for a reading
      checksum_ok      1 or 0; frames with a bad checksum are listed with no values
      pitch, roll, heading
                       degrees, for reading frames (0x84)
      status           byte 4 of the answers 0x85, 0x88, 0x89, 0x8A, 0x8B and 0x8F, in
                       decimal (0 = success for 85/8B/8F, 255 = error for 88/89/8A,
                       otherwise the calibration sample count for 88)
      x_coverage, y_coverage, z_coverage
                       percent, for a successful calibration stop answer (0x89)
      time_estimated   present when a file has both its start line and its end line:
                       frames spread evenly from the start time to the end time. The
                       record files hold no time per frame, so this is an estimate.

    The start and end times of each file, counts of frames, of rejected pieces (bytes the
    assembler refused) and of lines that could not be read are printed on standard error.

OPTIONS
    -o, --output FILE  write the CSV to FILE instead of standard output
    --plot IMAGE.png   also draw heading (green), pitch (blue) and roll (red) of the decoded
                       readings against their frame index, in degrees
    --size WxH         size of the plot in pixels (default 1200x600)
    -h, --help         show this text

EXIT STATUS
    0   every file was decoded (bad lines and bad checksums are reported, not errors)
    1   a file could not be read, or the output or the plot could not be written
    2   wrong usage

EXAMPLES
    torva-decode ~/COMDATA/Rec00.txt
    torva-decode -o run.csv --plot run.png ~/COMDATA/Rec00.txt ~/COMDATA/Rec01.txt
)";

struct Options {
    std::vector<std::string> files;
    std::string output;
    std::string plot;
    QSize size{1200, 600};
};

std::optional<QSize> ParseSize(const std::string& text) {
    int w = 0, h = 0, used = 0;
    if (std::sscanf(text.c_str(), "%dx%d%n", &w, &h, &used) != 2 ||
        used != static_cast<int>(text.size()) || w < 100 || h < 100 || w > 20000 || h > 20000)
        return std::nullopt;
    return QSize(w, h);
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "torva-decode: %s\nTry 'torva-decode --help'.\n", message.c_str());
    return kExitUsage;
}

void ReportFile(const DecodedFile& file) {
    const char* name = file.name.c_str();
    std::fprintf(stderr, "%s: start %s, end %s\n", name,
                 file.start ? file.start->Text().c_str() : "unknown (no start line)",
                 file.end ? file.end->Text().c_str() : "unknown (no end line)");
    int bad = 0;
    for (const DecodedFrame& f : file.frames)
        bad += f.checksumOk ? 0 : 1;
    std::fprintf(stderr,
                 "%s: %zu frames, %d with a bad checksum, %d rejected pieces, %zu bad lines\n",
                 name, file.frames.size(), bad, file.rejectedPieces, file.badLines.size());
    if (file.shortReadings > 0)
        std::fprintf(stderr, "%s: %d reading frames too short to hold three values\n", name,
                     file.shortReadings);
    for (int line : file.badLines)
        std::fprintf(stderr, "%s:%d: not a complete frame line\n", name, line);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc)
                return std::nullopt;
            return std::string(argv[++i]);
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        } else if (arg == "-o" || arg == "--output" || arg == "--plot" || arg == "--size") {
            const auto text = value();
            if (!text)
                return Usage(arg + " needs a value");
            if (arg == "--plot") {
                options.plot = *text;
            } else if (arg == "--size") {
                const auto size = ParseSize(*text);
                if (!size)
                    return Usage("--size: expected WIDTHxHEIGHT, 100 to 20000 each: " + *text);
                options.size = *size;
            } else {
                options.output = *text;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option: " + arg);
        } else {
            options.files.push_back(arg);
        }
    }
    if (options.files.empty())
        return Usage("no record file given");

    int status = kExitOk;
    std::vector<DecodedFile> files;
    for (const std::string& path : options.files) {
        DecodedFile file;
        std::string error;
        if (!DecodeRecordFile(path, file, error)) {
            std::fprintf(stderr, "torva-decode: %s\n", error.c_str());
            status = kExitFileFailed;
            continue;
        }
        ReportFile(file);
        files.push_back(std::move(file));
    }

    if (options.output.empty()) {
        WriteCsv(std::cout, files);
        std::cout.flush();
    } else {
        std::ofstream out(options.output, std::ios::binary);
        WriteCsv(out, files);
        out.close();
        if (!out) {
            std::fprintf(stderr, "torva-decode: cannot write %s\n", options.output.c_str());
            status = kExitFileFailed;
        }
    }

    if (!options.plot.empty()) {
        // No window is ever shown: draw without a display unless one was asked for.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        int qtArgc = 1;
        QGuiApplication app(qtArgc, argv);
        std::vector<PlotSample> samples;
        for (const DecodedFile& file : files)
            for (const DecodedFrame& f : file.frames)
                if (f.pitch && f.roll && f.heading)
                    samples.push_back({*f.pitch, *f.roll, *f.heading});
        if (samples.empty())
            std::fprintf(stderr, "torva-decode: no readings to plot; the plot is empty\n");
        if (!RenderPlot(samples, options.size).save(QString::fromStdString(options.plot), "PNG")) {
            std::fprintf(stderr, "torva-decode: cannot write %s\n", options.plot.c_str());
            status = kExitFileFailed;
        }
    }
    return status;
}
