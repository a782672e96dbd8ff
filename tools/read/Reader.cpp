#include "Reader.h"

#include <QCoreApplication>
#include <QDateTime>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "LineRules.h"

namespace {

// Written by the signal handler, which may do nothing else.
volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void RequestStop(int) {
    g_stopRequested = 1;
}

// Milliseconds of a duration in seconds, for a QTimer: rounded, at least 1, at most a day.
int Milliseconds(double seconds) {
    const double ms = std::clamp(seconds * 1000.0, 1.0, kMaxTimeout * 1000.0);
    return static_cast<int>(std::llround(ms));
}

}  // namespace

int PollPeriodMs(double rate) {
    return Milliseconds(1.0 / std::clamp(rate, kMinRate, kMaxRate));
}

int TimeoutMs(double seconds) {
    return Milliseconds(seconds);
}

void InstallStopSignals() {
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
}

Reader::Reader(const ReadOptions& options, QObject* parent) : QObject(parent), m_options(options) {
    m_session.selectDevice(options.device);
    const unsigned address = options.address;
    m_session.setParameterSource([address] {
        FrameParameters parameters;
        parameters.address = address;
        return parameters;
    });
    connect(&m_session, &ModuleSession::readingReceived, this,
            [this](qint64, double pitch, double roll, double heading) {
                OnReading(pitch, roll, heading);
            });
    connect(&m_session, &ModuleSession::checksumFailed, this, &Reader::OnChecksumFailure);
    connect(&m_session, &ModuleSession::deviceLost, this, &Reader::OnDeviceFailed);
    connect(&m_poll, &QTimer::timeout, this, &Reader::Poll);
    // A signal handler may only set a flag; the event loop looks at it often enough.
    m_stopCheck.setInterval(20);
    connect(&m_stopCheck, &QTimer::timeout, this, [this] {
        if (g_stopRequested)
            Finish(kReadOk);
    });
    // Its own timer: a check at poll ticks would take a slow rate for silence, and with a rate
    // of one a day would come too late.
    m_noAnswer.setSingleShot(true);
    m_noAnswer.setTimerType(Qt::PreciseTimer);
    connect(&m_noAnswer, &QTimer::timeout, this, &Reader::OnNoAnswer);
}

int Reader::Start() {
    const auto speed = std::find(kLineSpeeds.begin(), kLineSpeeds.end(), m_options.baud);
    if (const auto failure = m_session.open(static_cast<int>(speed - kLineSpeeds.begin()))) {
        std::fprintf(stderr, "torva-read: %s: %s\n", m_options.device.toLocal8Bit().constData(),
                     qUtf8Printable(failure->reason));
        return kReadOpenFailed;
    }
    if (!PrintLine("time,pitch,roll,heading\n")) {
        m_session.close();
        return kReadOutputFailed;
    }
    m_clock.start();
    m_stopCheck.start();
    m_poll.start(PollPeriodMs(m_options.rate));
    QTimer::singleShot(0, this, &Reader::Poll);  // first request from inside the event loop
    return kReadOk;
}

void Reader::Poll() {
    if (m_finished)
        return;
    // One request at a time: with two out, a late reading could answer either, and its round
    // trip could not be told. A module slower than the rate is polled as fast as it answers.
    if (m_waiting) {
        if (!m_waitingMissed)
            ++m_missed;
        m_waitingMissed = true;
        return;
    }
    if (const auto failure = m_session.send(CMD_READ)) {
        OnDeviceFailed(failure->reason);
        return;
    }
    m_sentAt = m_clock.nsecsElapsed();
    m_waiting = true;
    m_waitingMissed = false;
    if (!m_noAnswer.isActive())
        m_noAnswer.start(TimeoutMs(m_options.timeout));
}

void Reader::OnNoAnswer() {
    if (m_finished)
        return;
    std::fprintf(stderr, "torva-read: %s: no answer within %g s\n",
                 m_options.device.toLocal8Bit().constData(), m_options.timeout);
    if (m_waiting && !m_waitingMissed)
        ++m_missed;
    Finish(kReadNoAnswer);
}

bool Reader::PrintLine(const char* line) {
    if (std::fputs(line, stdout) >= 0 && std::fflush(stdout) == 0)
        return true;
    std::fprintf(stderr, "torva-read: cannot write the readings to standard output: %s\n",
                 std::strerror(errno));
    return false;
}

void Reader::OnChecksumFailure() {
    if (m_finished)
        return;
    // The answer came, spoilt: the next request may go, while the time-out runs on until a
    // reading comes.
    ++m_checksumFailures;
    m_waiting = false;
}

void Reader::OnReading(double pitch, double roll, double heading) {
    if (m_finished)
        return;
    // Timed from the request it answers: the only one out. A reading with none out (a module in
    // automatic output) has no round trip.
    if (m_waiting)
        m_roundTripsMs.push_back(static_cast<double>(m_clock.nsecsElapsed() - m_sentAt) / 1e6);
    m_waiting = false;
    m_noAnswer.stop();
    const QByteArray time = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toLatin1();
    char line[128];
    std::snprintf(line, sizeof line, "%s,%.2f,%.2f,%.2f\n", time.constData(), pitch, roll, heading);
    if (!PrintLine(line)) {
        Finish(kReadOutputFailed);
        return;
    }
    if (++m_readings == m_options.count)
        Finish(kReadOk);
}

void Reader::OnDeviceFailed(const QString& reason) {
    if (m_finished)
        return;
    std::fprintf(stderr, "torva-read: %s: the device failed or vanished (%s)\n",
                 m_options.device.toLocal8Bit().constData(), reason.toLocal8Bit().constData());
    Finish(kReadDeviceLost);
}

void Reader::Finish(int status) {
    if (m_finished)
        return;
    m_finished = true;
    m_poll.stop();
    m_stopCheck.stop();
    m_noAnswer.stop();
    m_session.close();
    PrintSummary();
    QCoreApplication::exit(status);
}

void Reader::PrintSummary() const {
    std::fprintf(stderr,
                 "torva-read: %lld readings, %lld frames, %lld checksum failures, %lld missed "
                 "answers",
                 m_readings, static_cast<long long>(m_session.frameCount()), m_checksumFailures,
                 m_missed);
    if (m_roundTripsMs.empty()) {
        std::fprintf(stderr, ", no round trip measured\n");
        return;
    }
    std::vector<double> sorted = m_roundTripsMs;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    std::fprintf(stderr, ", round trip ms min %.2f median %.2f max %.2f\n", sorted.front(), median,
                 sorted.back());
}
