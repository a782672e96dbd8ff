#include <unistd.h>

#include <QCoreApplication>
#include <QDate>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "ArgumentValues.h"
#include "Control.h"
#include "LineRules.h"
#include "PortTable.h"
#include "StandardDescriptors.h"
#include "TorvaVersion.h"
#include "Wmm2025.h"

namespace {

const char kHelp[] = R"(NAME
    torva-ctl - configure a TORVA compass module from the command line

SYNOPSIS
    torva-ctl [--port ComN|DEVICE] [--speed B] [--address A] [--timeout S] [--json] COMMAND
    torva-ctl [--port ComN|DEVICE] [--speed B] [--address A] [--json] scan [--whole-bus]
              [--speeds LIST]
    torva-ctl [--json] declination-at --lat DEG --lon DEG [--height M] [--date YYYY-MM-DD]
    torva-ctl --help
    torva-ctl --version

DESCRIPTION
    Sends one request to the module, in the frames the console sends, waits for its answer
    and checks it. The answer must come from the address asked (but for the declination,
    which goes to address 0 and which every module takes). Prints the result on standard
    output, a failure on standard error, and ends with a status that says which.

COMMANDS
    read                read pitch, roll and heading (answer 84)
    set-address N       give the module the address N, 0 to 255 (answer 8F); later
                        requests must carry --address N
    set-baud B          move the module to the speed B (answer 8B); later requests must
                        use --speed B
    set-zero            take the present heading as the relative zero (answer 85)
    cancel-zero         give up the relative zero (answer 85)
    auto-output         start automatic output (answer 8C)
    answer-mode         answer on request only (answer 8C)
    mount horizontal|vertical
                        the module's mounting (answer AA)
    declination DEG     the magnetic declination in degrees, -159.9 to 159.9, east
                        positive; sent as Set Mag. sends it: to address 0, in tenths of a
                        degree (answer 86)
    calibrate start     start a calibration (answer 88, the sample count)
    calibrate a-mode    sample automatically (answer C4; 88 FF is a refusal)
    calibrate m-mode    sample by hand (answer C3; 88 FF is a refusal)
    calibrate sample    take one sample by hand (answer 88, the sample count)
    calibrate stop      end sampling (answer 89, the X, Y and Z coverage)
    calibrate save      keep the calibration (answer 8A)
    scan                search the port for modules: the read request at each speed and
                        each address 0 to 255, starting with --speed and --address; then
                        --address at the other speeds, every address at --speed, and the
                        rest. Each try waits as long as the request and the answer take on
                        the line at that speed plus a margin. Stops at the first answer
                        and prints "found: B bit/s, address A"
        --whole-bus     go on through every try and list every module that answers
        --speeds LIST   try only these speeds, a comma list (default: all six)
    declination-at      the declination at a place from the World Magnetic Model 2025, with
                        no module: east positive, two decimals, and the frame Set Mag. would
                        send for it. Warns on standard error when the date lies outside
                        2025.0 to 2030.0; at latitude 90 or -90 the declination is undefined
                        and the command fails with status 1
        --lat DEG       latitude, -90 to 90, north positive
        --lon DEG       longitude, -180 to 180 (up to 360), east positive
        --height M      height above the WGS84 ellipsoid in metres (default 0)
        --date D        the date, YYYY-MM-DD (default today)

    A success answer carries 00 in its first payload byte (84 is always one; for 88, 89 and
    8A anything but FF is success). Output mode, mounting, declination and the A-mode and
    M-mode requests have no answer in every module: torva-ctl waits for the request's code
    plus 80 all the same and reports no answer (status 3) when none comes.

OPTIONS
    --port ComN|DEVICE  Com1 to Com20 as in the console (Com1-Com8 /dev/ttyUSB0-7,
                        Com9-Com12 /dev/ttyACM0-3, Com13-Com20 /dev/ttyS0-7; the
                        environment variable TORVA_COM<N> names another device), or a
                        device path. Default Com1
    --speed B           line speed: @SPEEDS@ (default 9600)
    --address A         module address, 0 to 255 (default 0)
    --timeout S         seconds to wait for the answer (default 1, at most 86400)
    --json              print each result as one JSON object on a line, failures included
                        (keys: command, ok, status, port, speed, address, sent, answer,
                        error, and the command's own: pitch, roll, heading, new_address,
                        new_speed, declination, samples, coverage; for scan modules,
                        requests, elapsed_ms; for declination-at declination, direction,
                        frame, inclination, horizontal_nt, latitude, longitude, height_m,
                        date, year, warning)
    -h, --help          show this text
    --version           show the version

EXIT STATUS
    0   a success answer (scan: a module found)
    1   wrong usage, or a position without a declination
    2   the port could not be opened: no such device, busy (held by another program)
        or permission denied
    3   no answer within the time-out (scan: no module answered)
    4   the device failed or vanished while in use
    5   the result could not be written to standard output
    6   the module answered with an error (or refused the request)

EXAMPLES
    torva-ctl --port Com3 read
    torva-ctl --port /dev/ttyUSB0 --address 5 set-address 7
    torva-ctl --port Com3 scan --whole-bus
    torva-ctl --json --port Com3 --speed 4800 --address 37 calibrate stop
    torva-ctl declination-at --lat 52.52 --lon 13.40 --date 2027-06-01

SEE ALSO
    torva(1), torva-read(1), torva-sim(1), torva-decode(1)
)";

int Usage(const std::string& message) {
    std::fprintf(stderr, "torva-ctl: %s\nTry 'torva-ctl --help'.\n", message.c_str());
    return kCtlUsage;
}

std::optional<int> SpeedIndex(const std::string& text) {
    const auto speed = Whole(text, 0, kLineSpeeds.back());
    if (!speed)
        return std::nullopt;
    const auto at = std::find(kLineSpeeds.begin(), kLineSpeeds.end(), *speed);
    if (at == kLineSpeeds.end())
        return std::nullopt;
    return static_cast<int>(at - kLineSpeeds.begin());
}

QString Two(double value) {
    const double rounded = std::round(value * 100.0) / 100.0;
    return QString::number(rounded == 0.0 ? 0.0 : rounded, 'f', 2);
}

struct Position {
    std::optional<double> latitude, longitude;
    double heightM = 0.0;
    QDate date = QDate::currentDate();
};

// A place without a declination: said on standard error, and with --json as a result too.
int NoDeclination(const CtlOptions& options, const QString& why) {
    std::fprintf(stderr, "torva-ctl: declination-at: %s\n", qUtf8Printable(why));
    if (options.json) {
        QJsonObject o;
        o[QStringLiteral("command")] = QStringLiteral("declination-at");
        o[QStringLiteral("ok")] = false;
        o[QStringLiteral("status")] = kCtlUsage;
        o[QStringLiteral("error")] = why;
        if (!PrintResult(options, o, {}))
            return kCtlOutputFailed;
    }
    return kCtlUsage;
}

int DeclinationAt(const CtlOptions& options, const Position& at) {
    if (!at.latitude || !at.longitude)
        return Usage("declination-at needs --lat and --lon");
    if (std::fabs(*at.latitude) > 90.0)
        return Usage("--lat: expected -90 to 90");
    if (std::fabs(*at.longitude) > 360.0)
        return Usage("--lon: expected -180 to 180");
    if (std::fabs(*at.latitude) == 90.0)
        return NoDeclination(options, QStringLiteral("at latitude %1 every direction is %2: the "
                                                     "declination is undefined there")
                                          .arg(*at.latitude)
                                          .arg(*at.latitude > 0 ? QStringLiteral("south")
                                                                : QStringLiteral("north")));
    const double year = DecimalYear(at.date.year(), at.date.month(), at.date.day());
    const WmmResult r = EvaluateWmm({*at.latitude, *at.longitude, at.heightM / 1000.0, year});
    if (!r.field)
        return NoDeclination(options, QString::fromStdString(r.error));
    const WmmField& f = *r.field;
    const QString value = Two(f.declination);
    const double committed = value.toDouble();
    const QString direction = committed > 0   ? QStringLiteral("east")
                              : committed < 0 ? QStringLiteral("west")
                                              : QString();
    QString frame;
    if (DeclinationInRange(committed)) {
        FrameParameters parameters;
        parameters.declination = committed;
        const CommandFrame sent = stampCommand(CMD_SET_DECLINATION, parameters);
        frame = QString::fromStdString(FrameToHexText(sent.bytes.data(), sent.size()))
                    .trimmed()
                    .toUpper();
    }
    QString warning;
    if (f.outsideValidity)
        warning = QStringLiteral(
                      "the model holds from 2025.0 to 2030.0, and %1 lies outside: the value "
                      "may be off")
                      .arg(at.date.toString(Qt::ISODate));
    if (!warning.isEmpty())
        std::fprintf(stderr, "torva-ctl: declination-at: warning: %s\n", qUtf8Printable(warning));

    QJsonObject o;
    o[QStringLiteral("command")] = QStringLiteral("declination-at");
    o[QStringLiteral("ok")] = true;
    o[QStringLiteral("status")] = kCtlOk;
    o[QStringLiteral("declination")] = committed;
    o[QStringLiteral("direction")] = direction;
    o[QStringLiteral("frame")] = frame;
    o[QStringLiteral("inclination")] = std::round(f.inclination * 100.0) / 100.0;
    o[QStringLiteral("horizontal_nt")] = static_cast<qint64>(std::lround(f.h));
    o[QStringLiteral("latitude")] = *at.latitude;
    o[QStringLiteral("longitude")] = *at.longitude;
    o[QStringLiteral("height_m")] = at.heightM;
    o[QStringLiteral("date")] = at.date.toString(Qt::ISODate);
    o[QStringLiteral("year")] = year;
    o[QStringLiteral("warning")] = warning;
    QString text = QStringLiteral("declination %1%2%3")
                       .arg(committed > 0 ? QStringLiteral("+") : QString(), value,
                            direction.isEmpty() ? QString() : QLatin1Char(' ') + direction);
    text += frame.isEmpty() ? QStringLiteral(
                                  "\nSet Mag. sends nothing for it: the module takes "
                                  "-159.9 to 159.9 degrees")
                            : QStringLiteral("\nframe %1").arg(frame);
    return PrintResult(options, o, text) ? kCtlOk : kCtlOutputFailed;
}

}  // namespace

int main(int argc, char** argv) {
    // Before the port is opened: it must not take the number of a closed standard output.
    const auto closed = TakeClosedStandardDescriptors();
    if (!closed) {
        std::perror("torva-ctl: /dev/null");
        return kCtlOutputFailed;
    }
    std::signal(SIGXFSZ, SIG_IGN);

    CtlOptions options;
    std::string port = "Com1";
    std::vector<std::string> words;  // the command and its arguments
    ScanPlan plan;
    Position position;
    bool positionOption = false;
    bool scanOption = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(QString::fromUtf8(kHelp)
                           .replace(QStringLiteral("@SPEEDS@"), LineSpeedsInWords())
                           .toUtf8()
                           .constData(),
                       stdout);
            return kCtlOk;
        }
        if (arg == "--version") {
            PrintTorvaVersion("torva-ctl");
            return kCtlOk;
        }
        if (arg == "--json") {
            options.json = true;
            continue;
        }
        if (arg == "--whole-bus") {
            plan.wholeBus = true;
            scanOption = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            words.push_back(arg);  // negative numbers ("-3.5") are arguments too
            continue;
        }
        if (i + 1 >= argc)
            return Usage(arg + " needs a value");
        const std::string value = argv[++i];
        if (arg == "--port") {
            port = value;
        } else if (arg == "--speed") {
            const auto speed = SpeedIndex(value);
            if (!speed)
                return Usage("--speed: expected " + LineSpeedsInWords().toStdString() + ": " +
                             value);
            options.speedIndex = *speed;
        } else if (arg == "--address") {
            const auto address = Whole(value, 0, 255);
            if (!address)
                return Usage("--address: expected 0 to 255: " + value);
            options.address = static_cast<unsigned>(*address);
        } else if (arg == "--timeout") {
            const auto timeout = Number(value);
            if (!timeout || !(*timeout > 0) || *timeout > 86400)
                return Usage("--timeout: expected seconds above 0, at most 86400: " + value);
            options.timeout = *timeout;
        } else if (arg == "--speeds") {
            scanOption = true;
            plan.speeds.clear();
            for (const QString& part : QString::fromStdString(value).split(QLatin1Char(','))) {
                const auto speed = SpeedIndex(part.trimmed().toStdString());
                if (!speed)
                    return Usage("--speeds: expected a comma list of " +
                                 LineSpeedsInWords().toStdString() + ": " + value);
                plan.speeds.push_back(*speed);
            }
        } else if (arg == "--lat" || arg == "--lon" || arg == "--height") {
            positionOption = true;
            const auto number = Number(value);
            if (!number)
                return Usage(arg + ": expected a number of degrees" +
                             (arg == "--height" ? " (metres)" : "") + ": " + value);
            if (arg == "--lat")
                position.latitude = number;
            else if (arg == "--lon")
                position.longitude = number;
            else
                position.heightM = *number;
        } else if (arg == "--date") {
            positionOption = true;
            position.date = QDate::fromString(QString::fromStdString(value), Qt::ISODate);
            if (!position.date.isValid())
                return Usage("--date: expected a date YYYY-MM-DD: " + value);
        } else {
            return Usage("unknown option: " + arg);
        }
    }
    if (words.empty())
        return Usage("no command given");
    const std::string& command = words[0];
    if (positionOption && command != "declination-at")
        return Usage("--lat, --lon, --height and --date belong to declination-at");
    if (scanOption && command != "scan")
        return Usage("--whole-bus and --speeds belong to scan");
    if ((*closed)[STDOUT_FILENO]) {
        std::fprintf(stderr,
                     "torva-ctl: standard output is closed: the result cannot be "
                     "written\n");
        return kCtlOutputFailed;
    }

    if (command == "declination-at") {
        if (words.size() != 1)
            return Usage("declination-at takes options only");
        return DeclinationAt(options, position);
    }

    const auto device = Device(port);
    if (!device)
        return Usage("--port: expected Com1 to Com20 or a device path: " + port);
    options.device = *device;

    FrameParameters parameters;
    parameters.address = options.address;
    parameters.baudIndex = options.speedIndex;
    std::string name = command;
    std::size_t argumentsTaken = 1;
    if (command == "mount" || command == "calibrate") {
        if (words.size() < 2)
            return Usage(command + " needs " +
                         (command == "mount" ? "horizontal or vertical"
                                             : "start, a-mode, m-mode, sample, stop or save"));
        name += " " + words[1];
        argumentsTaken = 2;
    } else if (command == "set-address") {
        const auto address = words.size() > 1 ? Whole(words[1], 0, 255) : std::nullopt;
        if (!address)
            return Usage("set-address: expected the new address, 0 to 255");
        parameters.newAddress = static_cast<std::uint32_t>(*address);
        argumentsTaken = 2;
    } else if (command == "set-baud") {
        const auto speed = words.size() > 1 ? SpeedIndex(words[1]) : std::nullopt;
        if (!speed)
            return Usage("set-baud: expected the new speed, " + LineSpeedsInWords().toStdString());
        parameters.baudIndex = *speed;
        argumentsTaken = 2;
    } else if (command == "declination") {
        const auto degrees = words.size() > 1 ? Number(words[1]) : std::nullopt;
        if (!degrees || !DeclinationInRange(*degrees))
            return Usage("declination: expected degrees from -159.9 to 159.9, east positive");
        parameters.declination = *degrees;
        argumentsTaken = 2;
    }
    if (words.size() > argumentsTaken)
        return Usage("unexpected argument: " + words[argumentsTaken]);

    QCoreApplication app(argc, argv);
    if (command == "scan") {
        plan.speedIndex = options.speedIndex;
        plan.address = static_cast<int>(options.address);
        ScanRun run(options, plan);
        if (const int failed = run.Start(); failed != kCtlOk)
            return failed;
        return QCoreApplication::exec();
    }
    const auto request = FindRequest(name);
    if (!request)
        return Usage("unknown command: " + name);
    RequestRun run(options, *request, parameters);
    if (const int failed = run.Start(); failed != kCtlOk)
        return failed;
    return QCoreApplication::exec();
}
