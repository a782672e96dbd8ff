// Long runs of the whole window, and the start-up time of the real program.
//
//   bench_soak [--frames 1000000] [--rate 320000]
//       the window on automatic output from the module simulator: resident memory after the
//       warm-up and at the end, frames lost, and whether the window ever fell so far behind
//       that the simulator would have dropped frames.
//   bench_soak --startup PATH_TO_TORVA [--runs 5]      (needs an X display, e.g. xvfb-run)
//       time from fork() of the program to its main window mapped on the X server and to
//       that window painted with the dialog's grey.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CompassDlg.h"
#include "Response.h"
#include "SimulatorProcess.h"
#include "UiSink.h"
#include "resource.h"

#ifdef TORVA_SOAK_X11
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#endif

namespace {

using namespace bench;  // the benchmarks' shared helpers, Clock included
using Seconds = std::chrono::duration<double>;

constexpr double kWarmUpSeconds = 1.0;

int Soak(long long frames, int rate) {
    PrintingSink sink("bench_soak");
    StreamingWindow run(rate, frames, sink);
    CCompassDlg& dlg = run.dlg;
    LagMonitor lag(run, rate, frames, Clock::now());

    if (!RunEventsUntil([&run] { return run.Counted() > 0; },
                        Clock::now() + std::chrono::seconds(3), 1))
        throw std::runtime_error("no frame arrived");
    const Clock::time_point first = Clock::now();
    RunEventsUntil([] { return false; },
                   first + std::chrono::duration_cast<Clock::duration>(Seconds(kWarmUpSeconds)),
                   50);
    const double rssWarm = ResidentMb();
    const long long countedWarm = run.Counted();

    const double due = static_cast<double>(frames - 1) / rate;
    const bool all =
        RunEventsUntil([&run, frames] { return run.Counted() >= frames; },
                       first + std::chrono::duration_cast<Clock::duration>(Seconds(due + 5.0)), 2);
    const double streamSeconds = Seconds(Clock::now() - first).count();
    lag.Sample();
    const double lagBound = lag.Bound();
    const double rssEnd = ResidentMb();

    const std::optional<long long> sent = FramesSentFrom(run.sim.Stop());
    Click(dlg, IDC_BTN_OPENCOM);  // closed before the vanished device is noticed
    const long long counted = run.Counted();
    const bool neverBehind = lagBound < kSimulatorBacklogFrames;

    std::printf("soak: %lld frames requested at %d frames/s\n", frames, rate);
    std::printf("soak: frames sent %lld, counted %lld, lost %lld\n", sent.value_or(-1), counted,
                sent.value_or(0) - counted);
    std::printf("soak: window lag at most %.0f frames (the simulator drops from %.0f): %s\n",
                lagBound, kSimulatorBacklogFrames,
                neverBehind ? "no frame dropped" : "frames may have been dropped");
    // A dropped frame pushes the simulator's last frame one period later.
    std::printf("soak: all frames counted %s, last %.1f ms after it was due (%.0f frame periods)\n",
                all ? "yes" : "no", 1000.0 * (streamSeconds - due), (streamSeconds - due) * rate);
    std::printf(
        "soak: rss after warm-up (%lld frames) %.2f MB, at the end %.2f MB, growth %.3f MB\n",
        countedWarm, rssWarm, rssEnd, rssEnd - rssWarm);
    std::printf("soak: message boxes %d\n", sink.boxes);
    return sent && *sent == counted && counted == frames && neverBehind && sink.boxes == 0 ? 0 : 1;
}

#ifdef TORVA_SOAK_X11
// True when a tenth of a sparse sample of the window shows the dialog's grey (207,207,207):
// before its first paint the window shows none of it.
bool PaintedGrey(Display* display, Window window) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
        return false;
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr)
        return false;
    int grey = 0, total = 0;
    for (int y = 0; y < attributes.height; y += 16) {
        for (int x = 0; x < attributes.width; x += 16, ++total) {
            if ((XGetPixel(image, x, y) & 0xFFFFFF) == 0xCFCFCF)
                ++grey;
        }
    }
    XDestroyImage(image);
    return total > 0 && 10 * grey >= total;
}

// Milliseconds from fork() to the first top-level window mapped and to it painted.
std::pair<double, double> StartupOnce(Display* display, const char* program) {
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, True);
    const Clock::time_point start = Clock::now();
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        ::execl(program, program, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto ms = [&] { return 1000.0 * Seconds(Clock::now() - start).count(); };
    Window window = 0;
    double mapped = -1.0, painted = -1.0;
    while (painted < 0 && ms() < 10000.0) {
        while (window == 0 && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && !event.xmap.override_redirect) {
                window = event.xmap.window;
                mapped = ms();
            }
        }
        if (window != 0 && PaintedGrey(display, window)) {
            painted = ms();
            break;
        }
        pollfd p{ConnectionNumber(display), POLLIN, 0};
        ::poll(&p, 1, window == 0 ? 50 : 1);
    }
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);
    XSelectInput(display, DefaultRootWindow(display), NoEventMask);
    if (painted < 0)
        throw std::runtime_error("the window was not shown within 10 s");
    return {mapped, painted};
}

int Startup(const char* program, int runs) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "bench_soak: --startup needs an X display (try xvfb-run -a)\n");
        return 1;
    }
    std::vector<double> mapped, painted;
    for (int run = 0; run < runs; ++run) {
        const auto [m, p] = StartupOnce(display, program);
        mapped.push_back(m);
        painted.push_back(p);
        std::printf("startup run %d: window mapped %.1f ms, painted %.1f ms after fork\n", run + 1,
                    m, p);
    }
    XCloseDisplay(display);
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("startup median of %d: window mapped %.1f ms, painted %.1f ms after fork\n", runs,
                median(mapped), median(painted));
    return 0;
}
#endif

int Usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--frames N] [--rate FRAMES_PER_S] | --startup PROGRAM [--runs N]\n",
                 program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    long long frames = 1000000;
    int rate = 320000;
    int runs = 5;
    const char* startup = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--frames" && i + 1 < argc)
            frames = std::atoll(argv[++i]);
        else if (arg == "--rate" && i + 1 < argc)
            rate = std::atoi(argv[++i]);
        else if (arg == "--startup" && i + 1 < argc)
            startup = argv[++i];
        else if (arg == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else
            return Usage(argv[0]);
    }
    if (frames <= 0 || rate <= 0 || runs <= 0)
        return Usage(argv[0]);
    try {
        if (startup != nullptr) {
#ifdef TORVA_SOAK_X11
            return Startup(startup, runs);
#else
            std::fprintf(stderr, "bench_soak: built without X11, --startup is unavailable\n");
            return 1;
#endif
        }
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return Soak(frames, rate);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_soak: %s\n", error.what());
        return 1;
    }
}
