#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "ArgumentValues.h"
#include "LineRules.h"
#include "PortTable.h"
#include "Reader.h"
#include "StandardDescriptors.h"
#include "TorvaVersion.h"

namespace {

const char kHelp[] = R"(NAME
    torva-read - poll a TORVA compass module and print its readings

SYNOPSIS
    torva-read [--port ComN|DEVICE] [--baud B] [--address A] [--rate HZ] [--count N]
               [--timeout S]
    torva-read --help
    torva-read --version

DESCRIPTION
    Opens the serial port (8 data bits, no parity, 1 stop bit, no flow control), sends the
    read request 68 04 <address> 04 <checksum> RATE times a second and prints one CSV line
    per reading on standard output: time (local, ISO 8601 with milliseconds), pitch, roll
    and heading in degrees. A header line "time,pitch,roll,heading" comes first.

    Requests go out one at a time: a tick that finds the last request still waiting for
    its answer sends none. Each reading is thus timed from the request it answers, and a
    module slower than the rate is polled as fast as it answers.

    Runs until N readings have been printed, or until SIGINT (Ctrl-C) or SIGTERM. At the
    end it prints a summary on standard error: readings, complete frames, frames with a
    bad checksum, requests whose answer had not come by the next tick (missed answers)
    and the round-trip time from each request to the reading that answers it (minimum,
    median, maximum, in ms).

OPTIONS
    --port ComN|DEVICE  Com1 to Com20 as in the console (Com1-Com8 /dev/ttyUSB0-7,
                        Com9-Com12 /dev/ttyACM0-3, Com13-Com20 /dev/ttyS0-7; the
                        environment variable TORVA_COM<N> names another device), or a
                        device path. Default Com1.
    --baud B            @SPEEDS@ (default 9600)
    --address A         module address, 0 to 255 (default 0)
    --rate HZ           requests per second, from 0.0000116 (one a day) to 100
                        (default 10); fewer when the module answers more slowly
    --count N           stop after N readings (default: run until stopped)
    --timeout S         give up when a request has waited S seconds without a reading
                        (default 3, at most 86400)
    -h, --help          show this text
    --version           show the version

EXIT STATUS
    0   N readings printed, or stopped by SIGINT or SIGTERM
    1   wrong usage
    2   the port could not be opened: no such device, busy (held by another program)
        or permission denied
    3   no reading within the time-out
    4   the device failed or vanished while in use
    5   the readings could not be written to standard output (a full disk, /dev/full,
        standard output closed)

EXAMPLES
    torva-read --port Com3 --count 10
    torva-read --port /dev/ttyUSB0 --baud 19200 --rate 5 > readings.csv
    TORVA_COM1=/dev/pts/4 torva-read --count 1

SEE ALSO
    torva(1), torva-sim(1), torva-decode(1)
)";

int Usage(const std::string& message) {
    std::fprintf(stderr, "torva-read: %s\nTry 'torva-read --help'.\n", message.c_str());
    return kReadUsage;
}

}  // namespace

int main(int argc, char** argv) {
    // Before the port is opened: it must not take the number of a closed standard output, or
    // the readings would be written to the module.
    const auto closed = TakeClosedStandardDescriptors();
    if (!closed) {
        std::perror("torva-read: /dev/null");
        return kReadOutputFailed;
    }
    // A file-size limit fails the write, which is reported, instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    ReadOptions options;
    std::string port = "Com1";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(QString::fromUtf8(kHelp)
                           .replace(QStringLiteral("@SPEEDS@"), LineSpeedsInWords())
                           .toUtf8()
                           .constData(),
                       stdout);
            return kReadOk;
        }
        if (arg == "--version") {
            PrintTorvaVersion("torva-read");
            return kReadOk;
        }
        if (i + 1 >= argc)
            return Usage(arg.rfind("--", 0) == 0 ? arg + " needs a value"
                                                 : "unknown option: " + arg);
        const std::string value = argv[++i];
        if (arg == "--port") {
            port = value;
        } else if (arg == "--baud") {
            const auto baud = Whole(value, 0, kLineSpeeds.back());
            if (!baud ||
                std::find(kLineSpeeds.begin(), kLineSpeeds.end(), *baud) == kLineSpeeds.end())
                return Usage("--baud: expected " + LineSpeedsInWords().toStdString() + ": " +
                             value);
            options.baud = static_cast<int>(*baud);
        } else if (arg == "--address") {
            const auto address = Whole(value, 0, 255);
            if (!address)
                return Usage("--address: expected 0 to 255: " + value);
            options.address = static_cast<unsigned>(*address);
        } else if (arg == "--rate") {
            const auto rate = Number(value);
            if (!rate || !(*rate >= kMinRate) || *rate > kMaxRate)
                return Usage("--rate: expected 0.0000116 (one request a day) to 100: " + value);
            options.rate = *rate;
        } else if (arg == "--count") {
            const auto count = Whole(value, 1, 1LL << 60);
            if (!count)
                return Usage("--count: expected a whole number of at least 1: " + value);
            options.count = *count;
        } else if (arg == "--timeout") {
            const auto timeout = Number(value);
            if (!timeout || !(*timeout > 0) || *timeout > kMaxTimeout)
                return Usage("--timeout: expected seconds above 0, at most 86400: " + value);
            options.timeout = *timeout;
        } else {
            return Usage("unknown option: " + arg);
        }
    }
    const auto device = Device(port);
    if (!device)
        return Usage("--port: expected Com1 to Com20 or a device path: " + port);
    options.device = *device;
    if ((*closed)[STDOUT_FILENO]) {
        std::fprintf(stderr,
                     "torva-read: standard output is closed: the readings cannot be written\n");
        return kReadOutputFailed;
    }

    QCoreApplication app(argc, argv);
    InstallStopSignals();
    Reader reader(options);
    if (const int failed = reader.Start(); failed != kReadOk)
        return failed;
    return QCoreApplication::exec();
}
