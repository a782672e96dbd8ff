#pragma once

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <optional>
#include <string>

#include "CompassDlg.h"
#include "Response.h"
#include "SimulatorProcess.h"
#include "UiSink.h"

// What the window benchmarks share: the window streaming from the simulator, how far it trails,
// the event loop served until a moment or a condition, clicks, and resident memory.
namespace bench {

using Clock = std::chrono::steady_clock;

// Serves events as the program's own loop would (sleeping between them) until `until`.
void RunEventsUntil(Clock::time_point until);
// Serves events until `done` holds, checking every `everyMs`; false at the deadline.
bool RunEventsUntil(const std::function<bool()>& done, Clock::time_point deadline, int everyMs);
// Clicks a button of the window; throws std::runtime_error when the id names none.
void Click(CCompassDlg& dlg, int id);
// Resident memory of this process in MB.
double ResidentMb();

// The simulator drops frames, as a line nobody reads would, once 64 kB wait unwritten.
constexpr double kSimulatorBacklogFrames = 65536.0 / 14.0;

// Nobody answers boxes here: print them, and let the run count them as a failure.
class PrintingSink : public UiSink {
public:
    explicit PrintingSink(const char* program) : m_program(program) {}
    void ShowMessageBox(QWidget* owner, const MessageBoxRequest& request) override;
    void Beep() override {}
    std::optional<QString> ChooseFolder(QWidget*, const QString&) override { return std::nullopt; }
    int boxes = 0;

private:
    const char* m_program;
};

// The module simulator streaming `frames` reading frames at `rate` once asked, and the window
// on it at 115200 bit/s with automatic output requested. The frames of every rate tick are added
// up, so the count covers the whole run. Its boxes go to `sink`; `prepare` runs once the window is
// up, before its port opens. Throws std::runtime_error when any step fails.
class StreamingWindow {
public:
    StreamingWindow(int rate, long long frames, UiSink& sink,
                    const std::function<void(CCompassDlg&)>& prepare = {});
    // Frames the window completed since its port opened.
    long long Counted() const { return m_counted + dlg.session().frameCount(); }
    SimulatorProcess sim;
    CCompassDlg dlg;

private:
    long long m_counted = 0;  // frames of the rate ticks so far
};

// Samples how far the count trails the simulator's schedule (frame k due k / rate after the
// request). Between two samples the lag grows by at most rate x gap, so the largest sampled
// lag plus that growth bounds the lag at every moment. Due times are counted from when the
// request was sent, which is no later than the simulator's start: the bound errs high.
class LagMonitor {
public:
    LagMonitor(const StreamingWindow& run, int rate, long long frames,
               Clock::time_point requestSent)
        : m_run(run), m_rate(rate), m_frames(frames), m_start(requestSent), m_last(requestSent) {
        // Often enough that the growth between samples is a quarter of the drop threshold.
        const double gapMs = 1000.0 * 0.25 * kSimulatorBacklogFrames / rate;
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { Sample(); });
        m_timer.start(static_cast<int>(std::clamp(gapMs, 1.0, 1000.0)));
    }
    void Sample() {
        const Clock::time_point now = Clock::now();
        const double gap = std::chrono::duration<double>(now - m_last).count();
        m_bound = std::max(m_bound, m_lastLag + m_rate * gap);
        const double due = std::min<double>(
            m_frames,
            std::floor(std::chrono::duration<double>(now - m_start).count() * m_rate) + 1.0);
        m_lastLag = std::max(0.0, due - static_cast<double>(m_run.Counted()));
        m_last = now;
    }
    double Bound() const { return m_bound; }

private:
    const StreamingWindow& m_run;
    QTimer m_timer;
    double m_rate;
    long long m_frames;
    Clock::time_point m_start;
    Clock::time_point m_last;
    double m_lastLag = 1.0;  // the first frame is due at once
    double m_bound = 0.0;
};

}  // namespace bench
