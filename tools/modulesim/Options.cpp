#include "Options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace modulesim {
namespace {

std::optional<double> ParseNumber(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<long long> ParseInteger(const std::string& text) {
    long long value = 0;
    const char* last = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), last, value);
    if (text.empty() || ec != std::errc() || ptr != last)
        return std::nullopt;
    return value;
}

// Numbers separated by commas.
std::optional<std::vector<double>> ParseList(const std::string& text) {
    std::vector<double> values;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const auto value = ParseNumber(text.substr(start, comma - start));
        if (!value)
            return std::nullopt;
        values.push_back(*value);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return values;
}

// "P,R,H" in degrees.
std::optional<Reading> ParseReading(const std::string& text) {
    const auto values = ParseList(text);
    if (!values || values->size() != 3)
        return std::nullopt;
    for (const double v : *values)
        if (std::fabs(v) > 999.99)
            return std::nullopt;
    return Reading{(*values)[0], (*values)[1], (*values)[2]};
}

// "A,B,C,D,E" in degrees, small enough that every magnetic heading has one compass heading:
// the deviation may change by at most half a degree per degree of heading.
std::optional<Deviation> ParseDeviation(const std::string& text) {
    const auto values = ParseList(text);
    if (!values || values->size() != 5)
        return std::nullopt;
    const auto& v = *values;
    const double slope =
        (std::fabs(v[1]) + std::fabs(v[2]) + 2 * std::fabs(v[3]) + 2 * std::fabs(v[4])) *
        std::numbers::pi / 180.0;
    if (std::fabs(v[0]) > 180.0 || slope > 0.5)
        return std::nullopt;
    return Deviation{v[0], v[1], v[2], v[3], v[4]};
}

// "STEP,DWELL[,NOISE]".
std::optional<Turntable> ParseTurntable(const std::string& text) {
    const auto values = ParseList(text);
    if (!values || values->size() < 2 || values->size() > 3)
        return std::nullopt;
    const auto& v = *values;
    const double noise = v.size() == 3 ? v[2] : 0.0;
    if (v[0] <= 0.0 || v[0] >= 360.0 || v[1] <= 0.0 || v[1] > 3600.0 || noise < 0.0 || noise > 10.0)
        return std::nullopt;
    return Turntable{v[0], v[1], noise};
}

}  // namespace

std::string UsageText() {
    return R"(NAME
    torva-sim - play the TORVA compass module on a pseudo-terminal

SYNOPSIS
    torva-sim [OPTIONS] [--replay FILE [--loop]] [--run COMMAND [ARGS...]]
    torva-sim --help
    torva-sim --version

DESCRIPTION
    Plays the compass module on a pseudo-terminal, as test equipment for the TORVA console
    and its tools. Prints the device path (/dev/pts/N) on its own line (after --replug-after
    brings the device back, its new path on another line), or with --run starts COMMAND with
    TORVA_COM1 set to the device (to the --link when one is given) and ends with COMMAND's
    exit status.

OPTIONS
    --address N        module address, 0..255 (default 0); the module answers only requests
                       to its own address
    --speed S          the module's line speed: 2400, 4800, 9600, 19200, 38400 or 115200. It
                       understands only bytes sent at that speed (the speed the other side
                       set on the device), sends at 10 bits a byte (a request's answer comes
                       when request and answer would have crossed the line), and moves to
                       the speed a successful baud request names once it has answered.
                       Without --speed it takes any speed and sends at once, also after a
                       baud request
    --garbage-on-mismatch
                       with --speed: bytes sent at a wrong speed get 1 to 6 random bytes back
                       (the start byte 68 among them at times), and frames due while the
                       speeds differ go out as random bytes of the same length. Without it
                       nothing crosses the line while the speeds differ
    --auto RATE        start in automatic output, RATE frames per second
    --rate RATE        automatic-output rate when it is switched on by request, and the
                       replay rate (default 10)
    --frames N         stop automatic output after N frames in all
    --duration S       end after S seconds
    --fixed P,R,H      report fixed pitch, roll and heading instead of moving readings
    --turntable STEP,DWELL[,NOISE]
                       the module sits level on a turntable that steps its magnetic heading
                       through the circle from 000: each stop held DWELL seconds, then STEP
                       degrees on at 90 degrees a second; NOISE adds normal noise of that
                       standard deviation (degrees) to the heading
    --hold H           hold the magnetic heading at H while the module is tilted: level
                       2 s, pitch through +-35 degrees over 6 s, level 2 s, roll through
                       +-35 degrees over 6 s, and again (a tilt check)
    --deviation A,B,C,D,E
                       the compass is off by the deviation A + B sin h + C cos h + D sin 2h
                       + E cos 2h (degrees, h the compass heading): it reads h where the
                       magnetic heading is h + deviation, as a compass swing finds it
    --tilt-error K     the heading changes by K degrees per degree of tilt (the angle of the
                       module from level, from pitch and roll)
    --fail             answer zero, baud and address requests with error 01 and calibration
                       start, manual, stop and save with FF (as --cal-error would)
    --cal-error LIST   answer these calibration requests with FF: a comma list of start,
                       amode, mmode, manual, stop, save (amode, mmode and manual refuse
                       with 88 FF, stop with 89 FF 00 00 00); a refused request changes
                       nothing
    --cal-silent LIST  act on these calibration requests (same names) but send no answer;
                       amode also withholds the A-mode count reports. Wins over --cal-error
    --replay FILE      play the reading frames (84) of a record file ("Date:" header, lines
                       of hex bytes, "End Date:" line; CR LF or LF) from the start at --rate
                       frames per second, unchanged (their own address). Line faults apply,
                       --frames does not. Other lines are skipped and listed on stderr.
                       Requests are answered as usual meanwhile. Exit status 2 when FILE
                       cannot be read or holds no reading frame
    --loop             with --replay, start the file over at its end instead of stopping
    --ack-all          also answer output-mode, mounting, declination and A/M-mode requests
                       (00 in the request's code plus 0x80)
    --bad-checksum     every frame sent carries a checksum one too high
    --noise            random bytes (never 68) before every frame
    --seed N           seed for --noise, --garbage-on-mismatch and the turntable's noise
                       (default 1)
    --split            write frames one byte at a time, 2 ms apart
    --split-gap MS     --split with this gap between bytes (default 2)
    --silent           send nothing at all
    --delay MS         answer each request MS milliseconds after it arrived; answers keep
                       their order, and what the line sends after an answer waits for it
    --vanish-after S   close the device after S seconds (it disappears), then end
    --replug-after S[,DOWN]
                       after S seconds the device disappears as with --vanish-after, stays
                       away DOWN seconds (default 1), then comes back, once, as a new
                       pseudo-terminal (another /dev/pts/N) with the module as it was
                       (address, speed, output mode, calibration); what fell due while it
                       was away is lost
    --link PATH        keep the symbolic link PATH pointing at the device, as a stable name
                       such as /dev/serial/by-id gives an adapter: made at the start, removed
                       while the device is away and at the end. An earlier link to a
                       pseudo-terminal (left by a killed run) is replaced; any other file
                       at PATH is left alone and the simulator ends with status 1
    --stats            on exit print "frames sent: N" to stderr (every frame written out
                       whole, answers included)
    --verbose          log requests and line-speed changes to stderr
    -h, --help         show this text
    --version          show the version
    --run CMD ARGS...  run CMD with TORVA_COM1 set; all later arguments belong to CMD

ANSWERS
    Read 04 -> 84 (pitch, roll, heading, packed BCD); zero 05 -> 85; baud 0B -> 8B (index
    0..5, others refused; with --speed the module then moves to that speed); address 0F ->
    8F from the old address, then the new one holds.
    Output mode 0C 01 starts and 0C 00 stops automatic output. Requests for another address
    are ignored, except the declination request 06, which every module takes.

CALIBRATION
    Start 08 -> 88 00, sample count 0, no sampling. A-mode 44: a sample every 0.25 s and 88
    with the count every 2 s after the request. M-mode 43: no sampling of its own; manual
    sample 45 -> 88 with the count (45 also counts outside M-mode). Counts stop at 254. Stop
    09 -> 89 00 X Y Z for n samples: X = min(100, 12n), Y = min(100, 10n), Z = min(100, 7n)
    percent; sampling ends, the count stays. Save 0A -> 8A 00, count 0.

EXIT STATUS
    0     ended by SIGINT, SIGTERM, --duration or --vanish-after
    1     the pseudo-terminal or the --link could not be made, or (without --run) its
          path could not be printed: standard output closed or failing
    2     wrong usage, or the --replay file cannot be read or holds no reading frame
    127   the --run command could not be started
    Under --run the status is COMMAND's own (128 + the signal when a signal ended it).
    SIGINT and SIGTERM are passed on to COMMAND.

EXAMPLES
    torva-sim --run torva
    torva-sim --fixed 12.5,-3.25,271.4 --run torva-read --count 5
    torva-sim --replay ~/COMDATA/Rec00.txt --loop --run torva
    torva-sim --address 37 --speed 4800 --link /tmp/module --replug-after 5,2 --run torva

SEE ALSO
    torva(1), torva-read(1), torva-decode(1)
)";
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        // Up to a billion: far beyond any run, and within the clock's range (more overflowed it).
        auto amount = [&](std::optional<double>& target, const char* unit) {
            const auto text = value();
            if (!text)
                return false;
            const auto number = ParseNumber(*text);
            if (!number || *number < 0 || *number > 1e9) {
                error = arg + ": expected 0 to 1000000000 " + unit + ": " + *text;
                return false;
            }
            target = *number;
            return true;
        };
        auto rate = [&]() {
            const auto text = value();
            if (!text)
                return false;
            const auto number = ParseNumber(*text);
            if (!number || *number <= 0 || *number > 1e6) {
                error = arg + ": rate must be above 0 and at most 1000000: " + *text;
                return false;
            }
            options.rate = *number;
            return true;
        };
        auto integer = [&](long long low, long long high) -> std::optional<long long> {
            const auto text = value();
            if (!text)
                return std::nullopt;
            const auto number = ParseInteger(*text);
            if (!number || *number < low || *number > high) {
                error = arg + ": expected a whole number from " + std::to_string(low) + " to " +
                        std::to_string(high) + ": " + *text;
                return std::nullopt;
            }
            return number;
        };

        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--address") {
            const auto n = integer(0, 255);
            if (!n)
                return std::nullopt;
            options.address = static_cast<int>(*n);
        } else if (arg == "--auto") {
            if (!rate())
                return std::nullopt;
            options.autoOutput = true;
        } else if (arg == "--rate") {
            if (!rate())
                return std::nullopt;
        } else if (arg == "--frames") {
            options.frames = integer(0, 1LL << 60);
            if (!options.frames)
                return std::nullopt;
        } else if (arg == "--duration") {
            if (!amount(options.duration, "seconds"))
                return std::nullopt;
        } else if (arg == "--vanish-after") {
            if (!amount(options.vanishAfter, "seconds"))
                return std::nullopt;
        } else if (arg == "--replug-after") {
            const auto text = value();
            if (!text)
                return std::nullopt;
            const std::size_t comma = text->find(',');
            const auto after = ParseNumber(text->substr(0, comma));
            const auto down = comma == std::string::npos ? std::optional(options.replugDown)
                                                         : ParseNumber(text->substr(comma + 1));
            if (!after || !down || *after < 0 || *down < 0) {
                error = "--replug-after: expected SECONDS or SECONDS,DOWN: " + *text;
                return std::nullopt;
            }
            options.replugAfter = *after;
            options.replugDown = *down;
        } else if (arg == "--speed") {
            const auto text = value();
            if (!text)
                return std::nullopt;
            const auto speed = ParseInteger(*text);
            if (!speed || std::find(kSpeeds.begin(), kSpeeds.end(), *speed) == kSpeeds.end()) {
                error = "--speed: expected 2400, 4800, 9600, 19200, 38400 or 115200: " + *text;
                return std::nullopt;
            }
            options.speed = static_cast<int>(*speed);
        } else if (arg == "--garbage-on-mismatch") {
            options.garbageOnMismatch = true;
        } else if (arg == "--link") {
            const auto text = value();
            if (!text)
                return std::nullopt;
            if (text->empty()) {
                error = "--link needs a path";
                return std::nullopt;
            }
            options.link = *text;
        } else if (arg == "--fixed") {
            const auto text = value();
            if (!text)
                return std::nullopt;
            options.fixed = ParseReading(*text);
            if (!options.fixed) {
                error = "--fixed: expected PITCH,ROLL,HEADING in degrees: " + *text;
                return std::nullopt;
            }
        } else if (arg == "--turntable") {
            const auto text = value();
            if (!text)
                return std::nullopt;
            options.turntable = ParseTurntable(*text);
            if (!options.turntable) {
                error =
                    "--turntable: expected STEP,DWELL[,NOISE]: a step above 0 and below 360 "
                    "degrees, a dwell above 0 and at most 3600 s, noise from 0 to 10 "
                    "degrees: " +
                    *text;
                return std::nullopt;
            }
        } else if (arg == "--hold") {
            const auto text = value();
            if (!text)
                return std::nullopt;
            options.hold = ParseNumber(*text);
            if (!options.hold || *options.hold < 0.0 || *options.hold >= 360.0) {
                error = "--hold: expected a heading from 0 to below 360 degrees: " + *text;
                return std::nullopt;
            }
        } else if (arg == "--deviation") {
            const auto text = value();
            if (!text)
                return std::nullopt;
            options.deviation = ParseDeviation(*text);
            if (!options.deviation) {
                error =
                    "--deviation: expected A,B,C,D,E in degrees, with |A| at most 180 and "
                    "|B| + |C| + 2|D| + 2|E| at most 28.6 (beyond, a magnetic heading has no "
                    "single compass heading): " +
                    *text;
                return std::nullopt;
            }
        } else if (arg == "--tilt-error") {
            const auto text = value();
            if (!text)
                return std::nullopt;
            const auto k = ParseNumber(*text);
            if (!k || std::fabs(*k) > 10.0) {
                error = "--tilt-error: expected degrees per degree of tilt, -10 to 10: " + *text;
                return std::nullopt;
            }
            options.tiltError = *k;
        } else if (arg == "--seed") {
            const auto n = integer(0, 0xFFFFFFFFLL);
            if (!n)
                return std::nullopt;
            options.seed = static_cast<std::uint32_t>(*n);
        } else if (arg == "--split-gap") {
            std::optional<double> gap;
            if (!amount(gap, "milliseconds"))
                return std::nullopt;
            options.split = true;
            options.splitGapMs = *gap;
        } else if (arg == "--delay") {
            std::optional<double> delay;
            if (!amount(delay, "milliseconds"))
                return std::nullopt;
            options.delayMs = *delay;
        } else if (arg == "--fail") {
            options.fail = true;
        } else if (arg == "--cal-error" || arg == "--cal-silent") {
            const auto text = value();
            if (!text)
                return std::nullopt;
            const auto steps = ParseCalSteps(*text);
            if (!steps) {
                error =
                    arg +
                    ": expected a comma list of start, amode, mmode, manual, stop, save: " + *text;
                return std::nullopt;
            }
            (arg == "--cal-error" ? options.calError : options.calSilent) |= *steps;
        } else if (arg == "--replay") {
            const auto text = value();
            if (!text)
                return std::nullopt;
            if (text->empty()) {
                error = "--replay needs a file name";
                return std::nullopt;
            }
            options.replay = *text;
        } else if (arg == "--loop") {
            options.loop = true;
        } else if (arg == "--ack-all") {
            options.ackAll = true;
        } else if (arg == "--bad-checksum") {
            options.badChecksum = true;
        } else if (arg == "--noise") {
            options.noise = true;
        } else if (arg == "--split") {
            options.split = true;
        } else if (arg == "--silent") {
            options.silent = true;
        } else if (arg == "--stats") {
            options.stats = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--run") {
            if (i + 1 >= args.size()) {
                error = "--run needs a command";
                return std::nullopt;
            }
            options.run.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        } else {
            error = "unknown option: " + arg;
            return std::nullopt;
        }
    }
    if (int(options.fixed.has_value()) + int(options.turntable.has_value()) +
            int(options.hold.has_value()) >
        1) {
        error = "--fixed, --turntable and --hold each say where the heading comes from: give one";
        return std::nullopt;
    }
    if (options.loop && options.replay.empty()) {
        error = "--loop needs --replay";
        return std::nullopt;
    }
    if (options.garbageOnMismatch && !options.speed) {
        error = "--garbage-on-mismatch needs --speed";
        return std::nullopt;
    }
    return options;
}

}  // namespace modulesim
