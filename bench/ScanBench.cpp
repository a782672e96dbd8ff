// The search for a module against the simulator: how late the answer comes beyond its time on
// the wire at each speed (what the margin of a try must cover), the worst case of a full search
// (a module that never answers), and the time to find a module at 4800 bit/s and address 37
// starting from 9600 bit/s and address 0.
//   bench_scan [--answers N] [--skip-full]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "LineRules.h"
#include "ModuleScanner.h"
#include "ModuleSession.h"
#include "SimulatorProcess.h"

namespace {

using namespace std::chrono_literals;

std::string SimulatorDevice(SimulatorProcess& sim) {
    const auto device = sim.ReadLine(10s);
    if (!device)
        throw std::runtime_error("the simulator printed no device");
    return *device;
}

// Serves events until `done` holds or `ms` pass.
bool RunUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[at];
}

// Answer times at each speed beyond the request's and the reading's time on the wire.
void AnswerLatency(int answers) {
    for (int speed = 0; speed < static_cast<int>(kLineSpeeds.size()); ++speed) {
        const std::string speedText = std::to_string(kLineSpeeds[static_cast<std::size_t>(speed)]);
        SimulatorProcess sim(TORVA_MODULESIM_PATH, {"--speed", speedText, "--fixed", "1,2,3"});
        ModuleSession session;
        session.selectDevice(QString::fromStdString(SimulatorDevice(sim)));
        if (const auto failure = session.open(speed))
            throw std::runtime_error(failure->description.toStdString());
        bool answered = false;
        QObject::connect(&session, &ModuleSession::answerReceived,
                         [&answered](quint8, quint8 code, const QByteArray&) {
                             answered = answered || code == 0x84;
                         });
        const double wireMs = 19.0 * 10.0 * 1000.0 / static_cast<double>(std::stoi(speedText));
        std::vector<double> beyond;
        int lost = 0;
        QElapsedTimer clock;
        for (int i = 0; i < answers; ++i) {
            answered = false;
            clock.start();
            if (session.send(CMD_READ))
                throw std::runtime_error("the request could not be sent");
            if (RunUntil([&] { return answered; }, 2000))
                beyond.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6 - wireMs);
            else
                ++lost;
        }
        std::printf(
            "answer at %6s bit/s: wire %.1f ms, later by min %.2f median %.2f p99 %.2f max %.2f "
            "ms (%d answers, %d lost)\n",
            speedText.c_str(), wireMs, Percentile(beyond, 0.0), Percentile(beyond, 0.5),
            Percentile(beyond, 0.99), Percentile(beyond, 1.0), static_cast<int>(beyond.size()),
            lost);
        std::fflush(stdout);
        sim.Stop();
    }
}

// One search from 9600 bit/s and address 0 against a simulator started with `arguments`.
void Search(const char* label, const std::vector<std::string>& arguments) {
    SimulatorProcess sim(TORVA_MODULESIM_PATH, arguments);
    ModuleSession session;
    session.selectDevice(QString::fromStdString(SimulatorDevice(sim)));
    ModuleScanner scanner(session);
    std::optional<ScanResult> result;
    QObject::connect(&scanner, &ModuleScanner::finished,
                     [&result](const ScanResult& r) { result = r; });
    if (const auto failure = scanner.start(ScanPlan{2, 0, {}, false}))
        throw std::runtime_error(failure->description.toStdString());
    RunUntil([&] { return result.has_value(); }, 600000);
    if (!result)
        throw std::runtime_error("the search did not end within 10 minutes");
    std::string found = "nothing found";
    if (!result->found.empty()) {
        const ScanTry& hit = result->found.front();
        found = "found " + std::to_string(kLineSpeeds[static_cast<std::size_t>(hit.speedIndex)]) +
                " bit/s, address " + std::to_string(hit.address);
    }
    std::printf("%s: %.2f s, %d requests, %s\n", label,
                static_cast<double>(result->elapsedMs) / 1000.0, result->tries, found.c_str());
    std::fflush(stdout);
    sim.Stop();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int answers = 200;
    bool full = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--answers") == 0 && i + 1 < argc)
            answers = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--skip-full") == 0)
            full = false;
    }
    try {
        std::printf("answer wait of a try: wire time + %d ms margin\n", kAnswerMarginMs);
        AnswerLatency(answers);
        Search("find 4800 bit/s address 37 from 9600 bit/s address 0",
               {"--speed", "4800", "--address", "37", "--garbage-on-mismatch"});
        if (full)
            Search("full search, no module answering (6 speeds x 256 addresses)", {"--silent"});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_scan: %s\n", e.what());
        return 1;
    }
    return 0;
}
