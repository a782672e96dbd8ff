#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Output.h"
#include "PlotSink.h"
#include "RecordDecoder.h"
#include "StandardDescriptors.h"
#include "TorvaVersion.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFileFailed = 1;
constexpr int kExitUsage = 2;

const char kHelp[] = R"(NAME
    torva-decode - decode the frames of TORVA record files

SYNOPSIS
    torva-decode [-o FILE] [--plot IMAGE.png] [--size WxH] [--] RECORD-FILE...
    torva-decode --help
    torva-decode --version

DESCRIPTION
    Reads record files (Rec00.txt ... Rec99.txt) written by the TORVA console, feeds every
    received byte to the console's own frame assembler, tests each complete frame's checksum
    and decodes it. Writes one CSV row per complete frame:

      file, line       the record file and the line on which the frame completed
      code             the response's command code, e.g. 0x84 for a reading
      checksum_ok      1 or 0; frames with a bad checksum are listed with no values
      pitch, roll, heading
                       degrees, for reading frames (0x84) that hold three values in
                       decimal digits; a shorter one, or one with a digit above 9, is
                       listed without them and counted on standard error
      status           byte 4 of the answers 0x85, 0x88, 0x89, 0x8A, 0x8B and 0x8F, in
                       decimal (0 = success for 85/8B/8F, 255 = error for 88/89/8A,
                       otherwise the calibration sample count for 88)
      x_coverage, y_coverage, z_coverage
                       percent, for a successful calibration stop answer (0x89)
      time_estimated   present when a file has both its start line and its end line:
                       frames spread evenly from the start time to the end time. The
                       record files hold no time per frame, so this is an estimate.

    The start and end times of each file, counts of frames, of rejected pieces (bytes the
    assembler refused) and of lines that could not be read are printed on standard error,
    with each line that was not understood (the first 20 of a file) and why; bytes that are
    not printable text are shown as \xNN. Files are read twice, first for their counts and
    times and then for the rows, so memory stays small whatever their length.

OPTIONS
    -o, --output FILE  write the CSV to FILE instead of standard output
    --plot IMAGE.png   also draw heading (green), pitch (blue) and roll (red) of the decoded
                       readings against their frame index, in degrees; no display is
                       needed
    --size WxH         size of the plot in pixels: width 100 to 20000, height 360 to 20000
                       (default 1200x600)
    -h, --help         show this text
    --version          show the version
    --                 the end of the options: every argument after it is a record file

EXIT STATUS
    0   every file was decoded (bad lines and bad checksums are reported, not errors); a
        file with no frame, such as an empty one or one of a start line alone, is
        decoded too
    1   a file could not be read (missing, a directory, no permission) or gave no frame at
        all while holding something other than a record's start and end lines, or the
        output or the plot could not be written (an output file that could not be written
        whole is removed; standard output closed)
    2   wrong usage

EXAMPLES
    torva-decode ~/COMDATA/Rec00.txt
    torva-decode -o run.csv --plot run.png ~/COMDATA/Rec00.txt ~/COMDATA/Rec01.txt

SEE ALSO
    torva(1), torva-sim(1), torva-read(1)
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
        used != static_cast<int>(text.size()) || w < 100 || h < kMinPlotHeight || w > 20000 ||
        h > 20000)
        return std::nullopt;
    return QSize(w, h);
}

// Qt's messages while it draws the plot: what a display-less platform says about windows it
// never shows, or about the session, is of no use to the user of a command-line tool. Errors
// still go out; a plot that cannot be drawn is reported on its own.
void PlotMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "torva-decode: %s\n",
                     qPrintable(qFormatLogMessage(type, context, message)));
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "torva-decode: %s\nTry 'torva-decode --help'.\n", message.c_str());
    return kExitUsage;
}

void ReportFile(const RecordSummary& file) {
    const char* name = file.name.c_str();
    std::fprintf(stderr, "%s: start %s, end %s\n", name,
                 file.start ? file.start->Text().c_str() : "unknown (no start line)",
                 file.end ? file.end->Text().c_str() : "unknown (no end line)");
    std::fprintf(stderr,
                 "%s: %lld frames, %lld with a bad checksum, %lld rejected pieces, %lld bad "
                 "lines\n",
                 name, file.frames, file.badChecksums, file.rejectedPieces, file.badLineCount);
    if (file.notRecorded > 0)
        std::fprintf(stderr,
                     "%s: %lld frame%s not recorded: the console's disk was full (a \"Not "
                     "recorded\" line marks each gap where it is)\n",
                     name, file.notRecorded, file.notRecorded == 1 ? "" : "s");
    if (file.shortReadings > 0)
        std::fprintf(stderr, "%s: %lld reading frames too short to hold three values\n", name,
                     file.shortReadings);
    if (file.nonDecimalReadings > 0)
        std::fprintf(stderr, "%s: %lld reading frames with a digit above 9\n", name,
                     file.nonDecimalReadings);
    for (const BadLine& bad : file.badLines)
        std::fprintf(stderr, "%s:%lld: %s\n", name, bad.line, bad.reason.c_str());
    const long long unlisted = file.badLineCount - static_cast<long long>(file.badLines.size());
    if (unlisted > 0)
        std::fprintf(stderr, "%s: %lld more lines not understood\n", name, unlisted);
    if (file.YieldedNothing())
        std::fprintf(stderr, "%s: nothing decoded: no line was understood as a frame\n", name);
    else if (file.bytes == 0)
        std::fprintf(stderr, "%s: the file is empty\n", name);
}

// Whether two paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

int Failed(Output& output) {
    std::fprintf(stderr, "torva-decode: %s\n", output.Error().c_str());
    return kExitFileFailed;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any file is opened: a record or the output must not take the number of a closed
    // standard output or error, which would then write into it.
    const auto closed = TakeClosedStandardDescriptors();
    if (!closed) {
        std::perror("torva-decode: /dev/null");
        return kExitFileFailed;
    }
    // A file-size limit fails the write, which is reported, instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    Options options;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded) {
            options.files.push_back(arg);
            continue;
        }
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc)
                return std::nullopt;
            return std::string(argv[++i]);
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        } else if (arg == "--version") {
            PrintTorvaVersion("torva-decode");
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
                    return Usage("--size: expected WIDTHxHEIGHT, width 100 to 20000 and height " +
                                 std::to_string(kMinPlotHeight) + " to 20000: " + *text);
                options.size = *size;
            } else {
                options.output = *text;
            }
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option: " + arg);
        } else {
            options.files.push_back(arg);
        }
    }
    if (options.files.empty())
        return Usage("no record file given");
    // The outputs are created before the records are read: one of them must not be a record.
    for (const std::string& path : options.files)
        for (const std::string& written : {options.output, options.plot})
            if (!written.empty() && SameFile(written, path))
                return Usage("the output " + written + " is also a record file to read");

    if (options.output.empty() && (*closed)[STDOUT_FILENO]) {
        std::fprintf(stderr, "torva-decode: cannot write standard output: it is closed\n");
        return kExitFileFailed;
    }
    Output csv;
    if (!csv.Open(options.output))
        return Failed(csv);

    // First pass: counts, times and what was not understood, and how far each file reached,
    // so that the second pass reads the same bytes even if a file grows meanwhile.
    int status = kExitOk;
    std::vector<RecordSummary> files;
    for (const std::string& path : options.files) {
        RecordSummary file;
        std::string error;
        if (!DecodeRecordFile(path, file, error)) {
            std::fprintf(stderr, "torva-decode: %s\n", error.c_str());
            status = kExitFileFailed;
            continue;
        }
        ReportFile(file);
        if (file.YieldedNothing())
            status = kExitFileFailed;
        files.push_back(std::move(file));
    }
    bool timed = false;
    for (const RecordSummary& file : files)
        timed = timed || FrameClock(file).HasTimes();

    // Second pass: each row goes out as its frame is decoded; the plot takes the readings.
    std::unique_ptr<ReducedPlot> plot;
    if (!options.plot.empty())
        plot = std::make_unique<ReducedPlot>(options.size.width());
    csv.Write(CsvHeader(timed));
    std::string row;
    for (const RecordSummary& file : files) {
        const FrameClock clock(file);
        long long index = 0;
        RecordSummary again;
        std::string error;
        const bool read = DecodeRecordFile(
            file.name, again, error,
            [&](const DecodedFrame& frame) {
                row.clear();
                AppendCsvRow(row, file.name, frame, timed, clock.TimeOf(index++));
                csv.Write(row);
                if (plot && frame.IsReading())
                    plot->Add({*frame.pitch, *frame.roll, *frame.heading});
            },
            file.bytes);
        if (!read) {
            std::fprintf(stderr, "torva-decode: %s\n", error.c_str());
            status = kExitFileFailed;
        }
        if (!csv.Error().empty())
            break;  // the rest of the rows have nowhere to go
    }
    if (!csv.Finish()) {
        if (plot)
            std::fprintf(stderr, "torva-decode: no plot drawn, the output failed\n");
        return Failed(csv);
    }

    if (plot) {
        // No window is ever shown: draw without a display unless one was asked for.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(PlotMessage);
        int qtArgc = 1;
        QApplication app(qtArgc, argv);
        if (plot->Empty())
            std::fprintf(stderr, "torva-decode: no readings to plot; the plot is empty\n");
        const QByteArray png = plot->Png(options.size);
        if (png.isEmpty()) {
            std::fprintf(stderr, "torva-decode: cannot encode the plot as PNG\n");
            return kExitFileFailed;
        }
        Output image;
        const bool written =
            image.Open(options.plot) &&
            image.Write(std::string_view(png.constData(), static_cast<std::size_t>(png.size())));
        if (!image.Finish() || !written)
            return Failed(image);
    }
    return status;
}
