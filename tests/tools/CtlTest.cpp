// torva-ctl against the module simulator: every command with a success answer, an error answer
// and no answer, each checked by its exit status and its JSON result.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../support/ShellRun.h"

namespace {

const std::string kSim = MODULESIM_PATH;
const std::string kCtl = TORVA_CTL_PATH;

// The one JSON object a result prints, or an empty object (with the text reported) when the
// output is not exactly one object on one line.
QJsonObject Result(const std::string& out) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(out), &error);
    EXPECT_TRUE(doc.isObject() && out.find('\n') == out.size() - 1) << "not one object: " << out;
    return doc.object();
}

struct Case {
    std::string ctl;   // arguments of torva-ctl
    std::string sim;   // options of the simulator
    int status;        // expected exit status
    std::string key;   // a key of the result to check, if any
    QJsonValue value;  // ... and its value
};

TEST(TorvaCtl, EveryCommandsStatusAndResultForSuccessErrorAndSilence) {
    const std::string quick = " --timeout 0.5 ";
    const std::vector<Case> cases = {
        {"read", "--fixed 12.5,-3.25,271.4", 0, "pitch", 12.5},
        {"read", "--fixed 12.5,-3.25,271.4", 0, "heading", 271.4},
        {"read", "--silent", 3, "error", QStringLiteral("no answer within 0.5 s")},
        {"read", "--bad-checksum", 3, "ok", false},
        {"--address 5 read", "--address 5 --fixed 1,2,3", 0, "roll", 2.0},
        // Another module's readings (streamed in automatic output) answer nothing asked of 6.
        {"--address 6 read", "--address 5 --auto 20", 3, "ok", false},
        {"set-address 9", "", 0, "new_address", 9},
        {"set-address 9", "--fail", 6, "answer", QStringLiteral("68 05 00 8F 01 95")},
        {"set-address 9", "--silent", 3, "ok", false},
        {"set-baud 19200", "", 0, "new_speed", 19200},
        {"--speed 4800 set-baud 19200", "--speed 4800", 0, "speed", 4800},
        {"set-baud 19200", "--fail", 6, "ok", false},
        {"set-baud 19200", "--silent", 3, "ok", false},
        {"set-zero", "", 0, "answer", QStringLiteral("68 05 00 85 00 8A")},
        {"set-zero", "--fail", 6, "answer", QStringLiteral("68 05 00 85 01 8B")},
        {"set-zero", "--silent", 3, "ok", false},
        {"cancel-zero", "", 0, "sent", QStringLiteral("68 05 00 05 00 0A")},
        {"cancel-zero", "--fail", 6, "ok", false},
        {"cancel-zero", "--silent", 3, "ok", false},
        {"auto-output", "--ack-all", 0, "answer", QStringLiteral("68 05 00 8C 00 91")},
        {"auto-output", "", 3, "ok", false},
        {"answer-mode", "--ack-all", 0, "sent", QStringLiteral("68 05 00 0C 00 11")},
        {"answer-mode", "", 3, "ok", false},
        {"mount horizontal", "--ack-all", 0, "answer", QStringLiteral("68 05 00 AA 00 AF")},
        {"mount horizontal", "", 3, "ok", false},
        {"mount vertical", "--ack-all", 0, "sent", QStringLiteral("68 05 00 2A 01 30")},
        {"mount vertical", "", 3, "ok", false},
        // To address 00 whatever --address says, and taken by every module.
        {"--address 5 declination -12.37", "--address 5 --ack-all", 0, "sent",
         QStringLiteral("68 06 00 06 11 23 40")},
        {"declination 2.8", "", 3, "ok", false},
        {"calibrate start", "", 0, "samples", 0},
        {"calibrate start", "--cal-error start", 6, "answer", QStringLiteral("68 05 00 88 FF 8C")},
        {"calibrate start", "--cal-silent start", 3, "ok", false},
        {"calibrate a-mode", "--ack-all", 0, "answer", QStringLiteral("68 05 00 C4 00 C9")},
        {"calibrate a-mode", "--ack-all --cal-error amode", 6, "ok", false},
        {"calibrate a-mode", "", 3, "ok", false},
        {"calibrate m-mode", "--ack-all", 0, "answer", QStringLiteral("68 05 00 C3 00 C8")},
        {"calibrate m-mode", "--cal-error mmode", 6, "ok", false},
        {"calibrate m-mode", "", 3, "ok", false},
        {"calibrate sample", "", 0, "samples", 1},
        {"calibrate sample", "--cal-error manual", 6, "ok", false},
        {"calibrate sample", "--cal-silent manual", 3, "ok", false},
        {"calibrate stop", "", 0, "coverage", QJsonObject{{"x", 0}, {"y", 0}, {"z", 0}}},
        {"calibrate stop", "--cal-error stop", 6, "ok", false},
        {"calibrate stop", "--cal-silent stop", 3, "ok", false},
        {"calibrate save", "", 0, "answer", QStringLiteral("68 05 00 8A 00 8F")},
        {"calibrate save", "--cal-error save", 6, "ok", false},
        {"calibrate save", "--cal-silent save", 3, "ok", false},
        // The search: address 37 slipped to 4800 bit/s, found on the second try; a silent line
        // searched at one speed.
        {"--address 37 scan", "--speed 4800 --address 37 --garbage-on-mismatch", 0, "modules",
         QJsonArray{QJsonObject{{"speed", 4800}, {"address", 37}}}},
        {"scan --speeds 115200", "--silent", 3, "requests", 256},
        // The line fails under the request.
        {"--timeout 30 read", "--silent --vanish-after 0.5", 4, "ok", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("torva-ctl " + c.ctl + " against torva-sim " + c.sim);
        const Outcome o =
            RunShell(kSim + " " + c.sim + " --run " + kCtl + quick + "--json " + c.ctl);
        EXPECT_EQ(o.status, c.status) << o.err;
        const QJsonObject result = Result(o.out);
        EXPECT_EQ(result.value(QStringLiteral("status")).toInt(-1), c.status);
        EXPECT_EQ(result.value(QStringLiteral("ok")).toBool(), c.status == 0);
        if (!c.key.empty())
            EXPECT_EQ(result.value(QString::fromStdString(c.key)), c.value) << o.out;
        // A failure is also said on standard error, a success is not.
        EXPECT_EQ(o.err.empty(), c.status == 0) << o.err;
    }
}

TEST(TorvaCtl, UsageOpenOutputAndTheDeclinationAtAPlace) {
    struct Simple {
        std::string command;
        int status;
        std::string out, err;  // found in standard output / error
    };
    const std::vector<Simple> cases = {
        {kCtl, 1, "", "no command given"},
        {kCtl + " --address 256 read", 1, "", "--address: expected 0 to 255"},
        {kCtl + " declination 160", 1, "", "-159.9 to 159.9"},
        {kCtl + " mount sideways", 1, "", "unknown command: mount sideways"},
        {kCtl + " set-baud 1200", 1, "", "set-baud: expected the new speed"},
        {kCtl + " --port /dev/torva-no-such-device read", 2, "",
         "/dev/torva-no-such-device: no such device"},
        {kSim + " --fixed 1,2,3 --run bash -c '" + kCtl + " read >/dev/full'", 5, "",
         "cannot write the result"},
        {kCtl + " declination-at --lat 80 --lon 0 --date 2025-01-01", 0,
         "declination +1.28 east\nframe 68 06 00 06 00 12 1E\n", ""},
        // The model's published test values for 2025.0.
        {kCtl + " declination-at --lat -80 --lon -120 --date 2025-01-01", 0,
         "declination +68.78 east\nframe 68 06 00 06 06 87 99\n", ""},
        {kCtl + " declination-at --lat 90 --lon 0", 1, "", "the declination is undefined"},
        {kCtl + " --json declination-at --lat -90 --lon 0", 1, "\"ok\":false,\"status\":1}\n",
         "the declination is undefined"},
        {kCtl + " declination-at --lat 52 --lon 13 --date 2031-01-01", 0, "declination",
         "warning: the model holds from 2025.0 to 2030.0"},
        {kCtl + " declination-at --lat 52", 1, "", "needs --lat and --lon"},
    };
    for (const Simple& c : cases) {
        SCOPED_TRACE(c.command);
        const Outcome o = RunShell(c.command);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_NE(o.out.find(c.out), std::string::npos) << o.out;
        EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
    }
}

}  // namespace
