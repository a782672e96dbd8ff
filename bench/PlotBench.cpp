// The live plot's cost on the console streaming 823 reading frames/s (the full 115200 bit/s
// line) from the module simulator over a pseudo-terminal:
//
//   bench_plot --closed [--seconds S] [--pairs N]   the history switched off (as before the
//        live plot) against the history kept with the plot closed, trial by trial in turns
//   bench_plot --open [--seconds S]                 the plot open on its 10-minute span with
//        the history already full: frames lost, CPU, resident memory over the run
//
// CPU is this process's share of one core (user + system), measured after a second's warm-up.
#include <sys/resource.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "LivePlotWindow.h"
#include "ReadingHistory.h"
#include "resource.h"

namespace {

using namespace bench;  // the benchmarks' shared helpers, Clock included
using Seconds = std::chrono::duration<double>;

constexpr int kRate = 823;
constexpr double kWarmUpSeconds = 1.0;

double CpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(ru.ru_utime) + seconds(ru.ru_stime);
}

Clock::time_point After(Clock::time_point from, double seconds) {
    return from + std::chrono::duration_cast<Clock::duration>(Seconds(seconds));
}

struct Trial {
    long long requested = 0;
    long long sent = -1;
    long long counted = 0;
    std::uint64_t recorded = 0;  // readings appended to the history during the run
    std::size_t historyBefore = 0, historyAfter = 0;  // readings the history held
    int plotRefreshes = 0;                            // of the live plot, when it was open
    double cpuPercent = 0.0;
    std::vector<double> rssMb;  // at the end of the warm-up, then every ten seconds and at the end
    int boxes = 0;
};

// Streams for `seconds` at the full line rate; `prepare` runs once the window is up, before the
// port opens.
Trial Stream(double seconds, PrintingSink& sink, const std::function<void(CCompassDlg&)>& prepare) {
    Trial trial;
    trial.requested = std::llround(kRate * (seconds + kWarmUpSeconds));
    const int boxesBefore = sink.boxes;
    std::uint64_t appendedBefore = 0;
    StreamingWindow run(kRate, trial.requested, sink, [&](CCompassDlg& dlg) {
        prepare(dlg);
        appendedBefore = dlg.session().history().TotalAppended();
        trial.historyBefore = dlg.session().history().size();
    });
    if (!RunEventsUntil([&run] { return run.Counted() > 0; },
                        Clock::now() + std::chrono::seconds(3), 1))
        throw std::runtime_error("no frame arrived");
    const Clock::time_point first = Clock::now();
    RunEventsUntil(After(first, kWarmUpSeconds));
    const double cpuStart = CpuSeconds();
    const Clock::time_point start = Clock::now();
    trial.rssMb.push_back(ResidentMb());
    for (double t = 10.0; t < seconds; t += 10.0) {
        RunEventsUntil(After(start, t));
        trial.rssMb.push_back(ResidentMb());
    }
    RunEventsUntil(After(start, seconds));
    const double wall = Seconds(Clock::now() - start).count();
    trial.cpuPercent = 100.0 * (CpuSeconds() - cpuStart) / wall;
    trial.rssMb.push_back(ResidentMb());
    const long long frames = trial.requested;
    RunEventsUntil([&run, frames] { return run.Counted() >= frames; }, After(Clock::now(), 3.0), 2);
    trial.sent = FramesSentFrom(run.sim.Stop()).value_or(-1);
    Click(run.dlg, IDC_BTN_OPENCOM);
    trial.counted = run.Counted();
    trial.recorded = run.dlg.session().history().TotalAppended() - appendedBefore;
    trial.historyAfter = run.dlg.session().history().size();
    if (const auto* plot = run.dlg.findChild<LivePlotWindow*>())
        trial.plotRefreshes = plot->Refreshes();
    trial.boxes = sink.boxes - boxesBefore;
    return trial;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

int Closed(double seconds, int pairs, PrintingSink& sink) {
    std::vector<double> off, kept;
    int status = 0;
    for (int pair = 1; pair <= pairs; ++pair) {
        for (const bool history : {false, true}) {
            const Trial t = Stream(seconds, sink, [history](CCompassDlg& dlg) {
                dlg.session().history().SetCapacity(history ? ReadingHistory::kDefaultCapacity : 0);
            });
            (history ? kept : off).push_back(t.cpuPercent);
            std::printf(
                "plot closed, trial %d, history %s: frames sent %lld, counted %lld, kept %llu, "
                "cpu %.1f %% of one core\n",
                pair, history ? "kept  " : "off   ", t.sent, t.counted,
                static_cast<unsigned long long>(history ? t.recorded : 0), t.cpuPercent);
            std::fflush(stdout);
            if (t.sent != t.counted || t.boxes > 0)
                status = 1;
        }
    }
    std::printf(
        "plot closed at %d frames/s: median cpu %.1f %% with the history off (as before "
        "the live plot), %.1f %% with it kept\n",
        kRate, Median(off), Median(kept));
    return status;
}

int Open(double seconds, PrintingSink& sink) {
    const Trial t = Stream(seconds, sink, [](CCompassDlg& dlg) {
        // Ten minutes of readings already there: the history is full from the first frame on.
        const std::int64_t now = SteadyNowNs();
        const long long past = 600LL * kRate;
        for (long long i = 0; i < past; ++i)
            dlg.session().history().Append(now - (past - i) * 1'000'000'000LL / kRate, 10.0, -5.0,
                                           static_cast<double>(i % 36000) / 100.0);
        LivePlotWindow* plot =
            ShowLivePlot(&dlg, dlg.session().history(), [] { return QString(); });
        plot->SetSpanSeconds(600);
    });
    std::printf(
        "plot open, 10-minute span, %d frames/s for %.0f s: frames sent %lld, counted "
        "%lld, lost %lld, added to the history %llu\n",
        kRate, seconds, t.sent, t.counted, t.sent - t.counted,
        static_cast<unsigned long long>(t.recorded));
    std::printf(
        "plot open: history %zu readings before the run, %zu after; plot redrawn %d "
        "times\n",
        t.historyBefore, t.historyAfter, t.plotRefreshes);
    std::printf("plot open: cpu %.1f %% of one core\n", t.cpuPercent);
    std::printf("plot open: rss MB");
    for (const double mb : t.rssMb)
        std::printf(" %.1f", mb);
    std::printf(" (every 10 s)\n");
    std::fflush(stdout);
    return t.sent == t.counted && t.recorded == static_cast<std::uint64_t>(t.counted) &&
                   t.boxes == 0
               ? 0
               : 1;
}

int PrintUsage(const char* program) {
    std::fprintf(stderr, "usage: %s --closed [--seconds S] [--pairs N] | --open [--seconds S]\n",
                 program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::string mode;
    double seconds = 0.0;
    int pairs = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--closed" || arg == "--open")
            mode = arg;
        else if (arg == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (arg == "--pairs" && i + 1 < argc)
            pairs = std::atoi(argv[++i]);
        else
            return PrintUsage(argv[0]);
    }
    if (mode.empty() || seconds < 0.0 || pairs < 1)
        return PrintUsage(argv[0]);

    QApplication app(argc, argv);
    PrintingSink sink("bench_plot");
    int status = 0;
    try {
        status = mode == "--closed" ? Closed(seconds > 0 ? seconds : 10.0, pairs, sink)
                                    : Open(seconds > 0 ? seconds : 60.0, sink);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_plot: %s\n", error.what());
        status = 1;
    }
    return status;
}
