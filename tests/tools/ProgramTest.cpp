// torva-read against the module simulator, and both programs as whole processes.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <QSerialPort>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "../support/ShellRun.h"
#include "Pty.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

const std::string kSim = MODULESIM_PATH;
const std::string kRead = TORVA_READ_PATH;
const std::string kDecode = TORVA_DECODE_PATH;
const std::string kCtl = TORVA_CTL_PATH;

TEST(TorvaRead, PrintsTheSimulatorsReadingsAndASummary) {
    for (int count : {1, 7}) {
        SCOPED_TRACE(count);
        const Outcome o = RunShell(kSim + " --fixed 12.5,-3.25,271.4 --run " + kRead +
                                   " --rate 50 --count " + std::to_string(count));
        EXPECT_EQ(o.status, 0) << o.err;
        const std::vector<std::string> lines = Lines(o.out);
        ASSERT_EQ(lines.size(), std::size_t(count) + 1) << o.out;
        EXPECT_EQ(lines[0], "time,pitch,roll,heading");
        for (int i = 1; i <= count; ++i) {
            const std::size_t comma = lines[i].find(',');
            EXPECT_EQ(lines[i].substr(comma), ",12.50,-3.25,271.40");
            EXPECT_EQ(lines[i][4], '-');  // yyyy-MM-ddTHH:mm:ss.zzz
            EXPECT_EQ(lines[i][10], 'T');
        }
        EXPECT_NE(o.err.find(std::to_string(count) + " readings, " + std::to_string(count) +
                             " frames, 0 checksum failures"),
                  std::string::npos)
            << o.err;
        EXPECT_NE(o.err.find("round trip ms min"), std::string::npos) << o.err;
    }
}

// The figures of a summary line: "... round trip ms min 451.20 median 452.00 max 460.10".
std::vector<double> RoundTrips(const std::string& summary) {
    const std::size_t at = summary.find("round trip ms min ");
    if (at == std::string::npos)
        return {};
    double min = 0, median = 0, max = 0;
    if (std::sscanf(summary.c_str() + at, "round trip ms min %lf median %lf max %lf", &min, &median,
                    &max) != 3)
        return {};
    return {min, median, max};
}

// A module that answers later than the next request is due: each reading is timed from the
// request it answers, and no second request goes out while one waits.
TEST(TorvaRead, RoundTripsOfASlowModuleAreTimedFromTheRequestAnswered) {
    for (const int delayMs : {450, 1500}) {
        SCOPED_TRACE(delayMs);
        const Outcome o = RunShell(kSim + " --verbose --delay " + std::to_string(delayMs) +
                                   " --fixed 1,2,3 --run " + kRead + " --count 3");
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(Lines(o.out).size(), 4u) << o.out;
        EXPECT_NE(o.err.find("3 readings, 3 frames, 0 checksum failures, 3 missed answers"),
                  std::string::npos)
            << o.err;
        const std::vector<double> trips = RoundTrips(o.err);
        ASSERT_EQ(trips.size(), 3u) << o.err;
        // The module cannot answer before the delay has passed since the request arrived.
        EXPECT_GE(trips[0], delayMs) << o.err;
        std::size_t requests = 0;
        for (std::size_t at = 0;
             (at = o.err.find("torva-sim: request 68 04 ", at)) != std::string::npos; ++at)
            ++requests;
        EXPECT_EQ(requests, 3u) << o.err;
    }
}

TEST(TorvaRead, FailuresEndWithAClearMessageAndTheirStatus) {
    struct Case {
        const char* name;
        std::string command;
        int status;
        std::vector<std::string> messages;
        int seconds = 60;  // killed after this long
    };
    const std::vector<Case> cases = {
        // The time-out runs from each request, whatever the rate.
        {"rate below one request a time-out",
         kSim + " --fixed 1,2,3 --run " + kRead + " --rate 0.4 --timeout 1 --count 2",
         0,
         {"2 readings, 2 frames"}},
        {"silent module at a rate of one request a day",
         kSim + " --silent --run " + kRead + " --rate 0.0000116 --timeout 0.5",
         3,
         {"no answer within 0.5 s", "1 missed answers"},
         10},
        {"readings to a full device",
         kSim + " --fixed 1,2,3 --run bash -c '" + kRead + " --count 3 >/dev/full'",
         5,
         {"cannot write the readings to standard output: No space left on device"}},
        {"vanishing device",
         kSim + " --vanish-after 1 --run " + kRead,
         4,
         {"failed or vanished", "readings,", "missed answers"}},
        {"silent module",
         kSim + " --silent --run " + kRead + " --timeout 0.5",
         3,
         {"no answer within 0.5 s", "0 readings", "no round trip measured"}},
        {"bad checksums only",
         kSim + " --bad-checksum --run " + kRead + " --timeout 0.5",
         3,
         {"no answer within", "0 readings", "checksum failures"}},
        {"missing device path",
         kRead + " --port /dev/torva-no-such-device",
         2,
         {"/dev/torva-no-such-device: no such device"}},
        {"ComN naming a missing device",
         "env TORVA_COM20=/dev/torva-no-such-device " + kRead + " --port com20",
         2,
         {"/dev/torva-no-such-device: no such device"}},
        {"bad option", kRead + " --rate 0", 1, {"--rate"}},
        {"rate below one request a day", kRead + " --rate 1e-7", 1, {"--rate: expected"}},
        {"rate above 100", kRead + " --rate 100.5", 1, {"--rate: expected"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = RunShell(c.command, c.seconds);
        EXPECT_EQ(o.status, c.status) << o.err;
        for (const std::string& message : c.messages)
            EXPECT_NE(o.err.find(message), std::string::npos) << message << " in: " << o.err;
    }
}

TEST(TorvaRead, RefusesAPortAnotherProgramHolds) {
    Pty pty;
    QSerialPort holder(QString::fromStdString(pty.SlavePath()));
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite)) << holder.errorString().toStdString();
    const Outcome o = RunShell(kRead + " --port " + pty.SlavePath() + " --count 1 --timeout 1");
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("busy"), std::string::npos) << o.err;
}

TEST(TorvaRead, SigtermEndsCleanlyWithTheSummary) {
    const std::string err = Scratch("sigterm_err");
    // The shell prints its process id and becomes the simulator, which passes SIGTERM on.
    FILE* out = ::popen(
        ("echo $$; exec " + kSim + " --fixed 1,2,3 --run " + kRead + " --rate 50 2>" + err).c_str(),
        "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    char c = 0;
    while (Lines(text).size() < 5 && Clock::now() < deadline) {  // pid, header, 3 readings
        pollfd p{::fileno(out), POLLIN, 0};
        if (::poll(&p, 1, 100) > 0 && ::read(::fileno(out), &c, 1) == 1)
            text += c;
    }
    ASSERT_GE(Lines(text).size(), 5u) << text;
    ::kill(std::stoi(Lines(text)[0]), SIGTERM);
    const int rc = ::pclose(out);
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << rc;
    EXPECT_NE(ReadText(err).find(" readings, "), std::string::npos) << ReadText(err);
    std::remove(err.c_str());
}

TEST(TorvaDecode, WritesCsvReportsTimesAndDrawsThePlotAtTheAskedSize) {
    const std::string record = Scratch("Rec00.txt"), csv = Scratch("out.csv"),
                      png = Scratch("plot.png");
    std::ofstream(record, std::ios::binary) << "Date: 2026-12-07  Time:09:05:03\r\n"
                                            << "68 0D 01 84 10 12 34 00 05 60 03 59 99 42 \r\n"
                                            << "12 68 0D 01 84 10 12 34 00 05 60 03 59 99 43 \r\n"
                                            << "68 0D 01 84 10 12 34 00 05 60 03 59 99 42 \r\n"
                                            << "End Date: 2026-12-07  Time:09:05:05\r\n";
    const Outcome o =
        RunShell(kDecode + " -o " + csv + " --plot " + png + " --size 640x480 " + record);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("start 2026-12-07 09:05:03, end 2026-12-07 09:05:05"), std::string::npos)
        << o.err;
    EXPECT_NE(o.err.find("3 frames, 1 with a bad checksum, 1 rejected pieces, 0 bad lines"),
              std::string::npos)
        << o.err;
    const std::vector<std::string> lines = Lines(ReadText(csv));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], record + ",3,0x84,0,,,,,,,,2026-12-07 09:05:04.000");
    EXPECT_EQ(lines[3], record + ",4,0x84,1,-12.34,5.60,359.99,,,,,2026-12-07 09:05:05.000");
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(640, 480));

    const Outcome missing = RunShell(kDecode + " " + Scratch("no-such-record.txt") + " " + record);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
    EXPECT_EQ(Lines(missing.out).size(), 4u);  // the readable file is still decoded
    for (const std::string& path : {record, csv, png})
        std::remove(path.c_str());
}

// Outputs that cannot be written whole and records that yield nothing end with status 1 and a
// message, and leave no half-written file behind.
TEST(TorvaDecode, FailedOutputsAndUnreadableRecordsEndWithStatusOne) {
    const std::string record = Scratch("Rec00.txt"), crOnly = Scratch("Rec01.txt"),
                      runOn = Scratch("Rec02.txt"), csv = Scratch("out.csv"),
                      png = Scratch("plot.png");
    const std::string start = "Date: 2026-12-07  Time:09:05:03";
    const std::string reading = "68 0D 01 84 10 12 34 00 05 60 03 59 99 42 ";
    {
        std::ofstream out(record, std::ios::binary);
        out << start << "\r\n";
        for (int i = 0; i < 200; ++i)
            out << reading << "\r\n";  // 200 CSV rows: some 12 kB
        out << "End Date: 2026-12-07  Time:09:05:05\r\n";
    }
    std::ofstream(crOnly, std::ios::binary) << start << "\r" << reading << "\r";
    std::ofstream(runOn, std::ios::binary) << start << " " << reading << "\r\n";
    // bash counts the file-size limit in kilobytes.
    const std::string limited = "bash -c 'ulimit -f 4; exec " + kDecode;
    struct Case {
        const char* name;
        std::string command;
        std::string message;
        std::string removed;  // a file that must not be left
    };
    const std::vector<Case> cases = {
        {"CSV to a full device", kDecode + " -o /dev/full " + record,
         "cannot write /dev/full: No space left on device", ""},
        {"CSV on standard output to a full device",
         "bash -c '" + kDecode + " " + record + " >/dev/full'",
         "cannot write standard output: No space left on device", ""},
        {"plot to a full device", kDecode + " -o " + csv + " --plot /dev/full " + record,
         "cannot write /dev/full: No space left on device", ""},
        {"CSV past a file-size limit", limited + " -o " + csv + " " + record + "'",
         "cannot write " + csv + ": File too large (the incomplete file was removed)", csv},
        {"plot past a file-size limit",
         limited + " -o /dev/null --plot " + png + " " + record + "'",
         "cannot write " + png + ": File too large (the incomplete file was removed)", png},
        {"CR-only line ends", kDecode + " -o " + csv + " " + crOnly,
         crOnly + ":1: carriage return inside the line", ""},
        {"frames on the start line", kDecode + " -o " + csv + " " + runOn,
         runOn + ":1: start line not understood", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = RunShell(c.command);
        EXPECT_EQ(o.status, 1) << o.err;
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
        if (!c.removed.empty()) {
            EXPECT_NE(::access(c.removed.c_str(), F_OK), 0) << c.removed << " was left";
        }
    }
    for (const std::string& path : {record, crOnly, runOn, csv, png})
        std::remove(path.c_str());
}

const std::string kConsole = TORVA_PATH;
const std::string kNoDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";

// The edges of each program's start: standard descriptors closed, no display, records that hold
// little or are no file, arguments that look like options. Each ends with its documented status
// and says why, and nothing goes where it does not belong.
TEST(Tools, CommandLineEdgesEndWithTheirStatusAndSayWhy) {
    const std::string dir = Scratch("edges");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "/adir");
    const std::string start = "Date: 2026-12-07  Time:09:05:03\r\n";
    const std::string reading = "68 0D 01 84 10 12 34 00 05 60 03 59 99 42 \r\n";
    const std::vector<std::pair<std::string, std::string>> files = {
        {"empty.txt", ""},
        {"start.txt", start},
        {"pieces.txt", start + "12 34 \r\n"},
        {"-dash.txt", start + reading},
        {"binary.txt", start + "\x01\x9B[31mzz\xFF\r\n" + reading},
    };
    for (const auto& [name, text] : files)
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    const std::string one = dir + "/-dash.txt";
    struct Case {
        const char* name;
        std::string command;
        int status;
        std::vector<std::string> err;          // each said on standard error
        std::vector<std::string> notErr = {};  // none of these
        std::vector<std::string> out = {};     // each on standard output
        std::vector<std::string> notOut = {};  // none of these
    };
    const std::vector<Case> cases = {
        // Records with no frame: one that holds nothing else is decoded, one that holds
        // something not understood is not.
        {"empty record",
         kDecode + " -o /dev/null " + dir + "/empty.txt",
         0,
         {"empty.txt: the file is empty"}},
        {"start line alone",
         kDecode + " -o /dev/null " + dir + "/start.txt",
         0,
         {"start.txt: 0 frames"},
         {"nothing decoded"}},
        {"pieces and no frame",
         kDecode + " -o /dev/null " + dir + "/pieces.txt",
         1,
         {"pieces.txt: nothing decoded"}},
        {"a directory",
         kDecode + " " + dir + "/adir",
         1,
         {"cannot read " + dir + "/adir: Is a directory"}},
        {"-- ends the options",
         "bash -c 'cd " + dir + " && exec " + kDecode + " -- -dash.txt'",
         0,
         {"-dash.txt: 1 frames"},
         {},
         {"-dash.txt,2,0x84,1,-12.34,5.60,359.99"}},
        {"binary bytes of a line not understood",
         kDecode + " -o /dev/null " + dir + "/binary.txt",
         0,
         {"not hex text: \"\\x01\\x9B[31mzz\\xFF\""},
         {"\x9B", "\xFF", "\x01"}},
        {"plot without a display",
         kNoDisplay + "-u XDG_RUNTIME_DIR " + kDecode + " -o /dev/null --plot " + dir +
             "/plot.png " + one,
         0,
         {"-dash.txt: 1 frames"},
         {"plugin", "QStandardPaths", "propagateSizeHints", "qt."}},
        {"plot lower than its charts",
         kDecode + " --size 800x200 --plot x.png " + one,
         2,
         {"--size: expected WIDTHxHEIGHT, width 100 to 20000 and height 360 to 20000"}},
        // A closed standard descriptor is not given to a file of the program's own.
        {"decoder's report to a closed standard error",
         "bash -c '" + kDecode + " -o " + dir + "/out.csv " + one + " 2>&-; cat " + dir +
             "/out.csv'",
         0,
         {},
         {},
         {"-dash.txt,2,0x84,1,"},
         {"frames"}},
        {"decoder's CSV to a closed standard output",
         "bash -c 'exec " + kDecode + " " + one + " >&-'",
         1,
         {"cannot write standard output: it is closed"}},
        {"simulator's device path to a closed standard output",
         "bash -c 'exec " + kSim + " --duration 2 >&-'",
         1,
         {"torva-sim: standard output is closed: the device path cannot be printed"}},
        {"simulator's command gets the closed standard output as it was",
         "bash -c 'exec " + kSim + " --duration 5 --run sh -c \"test ! -e /proc/self/fd/1\" >&-'",
         0,
         {}},
        {"readings to a closed standard output",
         kSim + " --fixed 1,2,3 --run bash -c 'exec " + kRead + " --count 2 >&-'",
         5,
         {"torva-read: standard output is closed: the readings cannot be written"}},
        // Without a display the console says so and ends, where Qt would abort.
        {"console without a display",
         kNoDisplay + kConsole,
         1,
         {"torva: no display to open the window on"}},
        {"console with a display that is not there",
         "env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE DISPLAY=:31999 " + kConsole,
         1,
         {"torva: no window can be opened"},
         {"Reinstalling"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = RunShell(c.command, 30);
        EXPECT_EQ(o.status, c.status) << o.err;
        for (const std::string& text : c.err)
            EXPECT_NE(o.err.find(text), std::string::npos) << text << " in: " << o.err;
        for (const std::string& text : c.notErr)
            EXPECT_EQ(o.err.find(text), std::string::npos) << text << " in: " << o.err;
        for (const std::string& text : c.out)
            EXPECT_NE(o.out.find(text), std::string::npos) << text << " in: " << o.out;
        for (const std::string& text : c.notOut)
            EXPECT_EQ(o.out.find(text), std::string::npos) << text << " in: " << o.out;
    }
    std::filesystem::remove_all(dir);
}

// Every installed program, by the name it is installed under. Run without a display: the
// console must answer --help and --version before it starts Qt.
const std::vector<std::pair<std::string, std::string>> kPrograms = {{"torva", kConsole},
                                                                    {"torva-sim", kSim},
                                                                    {"torva-read", kRead},
                                                                    {"torva-decode", kDecode},
                                                                    {"torva-ctl", kCtl}};

// The manual pages are made from the --help texts, so each must have a manual's sections, list
// every status the program ends with, and make a page that the formatter takes without a
// warning.
TEST(Tools, HelpHasTheManualSections) {
    const std::map<std::string, std::vector<std::string>> statuses = {
        {"torva", {"0", "1", "128+N"}},
        {"torva-sim", {"0", "1", "2", "127"}},
        {"torva-read", {"0", "1", "2", "3", "4", "5"}},
        {"torva-decode", {"0", "1", "2"}},
        {"torva-ctl", {"0", "1", "2", "3", "4", "5", "6"}},
    };
    for (const auto& [name, program] : kPrograms) {
        SCOPED_TRACE(name);
        const Outcome o = RunShell(kNoDisplay + program + " --help");
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.out.rfind("NAME\n    " + name + " - ", 0), 0u) << o.out;
        for (const char* section :
             {"SYNOPSIS\n", "DESCRIPTION\n", "OPTIONS\n", "EXIT STATUS\n", "EXAMPLES\n"})
            EXPECT_NE(o.out.find(section), std::string::npos) << section;
        EXPECT_NE(o.out.find("    --version "), std::string::npos);
        const std::size_t exit = o.out.find("EXIT STATUS\n");
        const std::string exitSection = o.out.substr(exit, o.out.find("\n\n", exit) - exit);
        for (const std::string& status : statuses.at(name))
            EXPECT_NE(exitSection.find("\n    " + status + " "), std::string::npos)
                << status << " in: " << exitSection;

        const Outcome page = RunShell("bash -c 'set -o pipefail; " + kNoDisplay + program +
                                      " --help | awk -v title=X -v source=TORVA -f " +
                                      HELP2ROFF_PATH + " | groff -man -ww -z -Tutf8'");
        EXPECT_EQ(page.status, 0) << page.err;
        EXPECT_EQ(page.err, "");
    }
    // The console's page tells of the live plot and its files.
    const Outcome console = RunShell(kNoDisplay + kConsole + " --help");
    for (const char* text : {"Ctrl+L", "Plot-YYYYMMDD-HHMMSS.csv", "SIGTERM"})
        EXPECT_NE(console.out.find(text), std::string::npos) << text;
}

TEST(Tools, VersionIsTheProjectsOwn) {
    for (const auto& [name, program] : kPrograms) {
        const Outcome o = RunShell(kNoDisplay + program + " --version");
        EXPECT_EQ(o.status, 0) << name << ": " << o.err;
        EXPECT_EQ(o.out.rfind(name + " " + TORVA_VERSION + "\n", 0), 0u) << o.out;
        EXPECT_NE(o.out.find("GPL-3.0-or-later"), std::string::npos) << o.out;
    }
}

}  // namespace
