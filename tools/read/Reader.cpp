#include "Reader.h"

#include <QCoreApplication>
#include <QDateTime>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "CommandTable.h"
#include "LineRules.h"
#include "Response.h"

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void RequestStop(int) {
    g_stopRequested = 1;
}

QByteArray ReadRequest(unsigned address) {
    FrameParameters parameters;
    parameters.address = address;
    const CommandFrame& frame = StampCommandRow(CMD_READ, parameters);
    return QByteArray(reinterpret_cast<const char*>(frame.bytes.data()),
                      static_cast<qsizetype>(frame.size()));
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
    connect(&m_poll, &QTimer::timeout, this, &Reader::Poll);
    connect(&m_port, &QSerialPort::readyRead, this, &Reader::OnReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &Reader::OnError);
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
    const QByteArray device = m_options.device.toLocal8Bit();
    m_port.setPortName(m_options.device);
    ApplyLineSettings(m_port, m_options.baud);
    if (!m_port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "torva-read: %s: %s\n", device.constData(),
                     qUtf8Printable(OpenFailureReason(m_port, m_options.device)));
        return kReadOpenFailed;
    }
    if (!PrintLine("time,pitch,roll,heading\n")) {
        m_port.close();
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
    m_port.write(ReadRequest(m_options.address));
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

void Reader::OnReadyRead() {
    const QByteArray bytes = m_port.readAll();
    for (char c : bytes) {
        if (m_finished)
            return;
        if (FeedByte(static_cast<std::uint8_t>(c)) != FeedOutcome::Complete)
            continue;
        ++m_frames;
        if (!AssembledFrameChecksumHolds()) {
            // The answer came, spoilt: the next request may go, while the time-out runs on
            // until a reading comes.
            ++m_checksumFailures;
            m_waiting = false;
            continue;
        }
        const std::uint8_t* f = AssembledFrame();
        if (f[3] != ANS_READ)
            continue;
        // Too short to hold three values, or digits above 9: no reading.
        const std::optional<Reading> reading = ReadingOfFrame(f, f[1] + 1u);
        if (!reading)
            continue;
        // Timed from the request it answers: the only one out. A reading with none out (a
        // module in automatic output) has no round trip.
        if (m_waiting)
            m_roundTripsMs.push_back(static_cast<double>(m_clock.nsecsElapsed() - m_sentAt) / 1e6);
        m_waiting = false;
        m_noAnswer.stop();
        const QByteArray time = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toLatin1();
        char line[128];
        std::snprintf(line, sizeof line, "%s,%.2f,%.2f,%.2f\n", time.constData(), reading->pitch,
                      reading->roll, reading->heading);
        if (!PrintLine(line)) {
            Finish(kReadOutputFailed);
            return;
        }
        if (++m_readings == m_options.count)
            Finish(kReadOk);
    }
}

void Reader::OnError(QSerialPort::SerialPortError error) {
    if (m_finished || error == QSerialPort::NoError || !m_port.isOpen())
        return;
    if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError ||
        error == QSerialPort::WriteError) {
        std::fprintf(stderr, "torva-read: %s: the device failed or vanished (%s)\n",
                     m_options.device.toLocal8Bit().constData(),
                     m_port.errorString().toLocal8Bit().constData());
        Finish(kReadDeviceLost);
    }
}

void Reader::Finish(int status) {
    if (m_finished)
        return;
    m_finished = true;
    m_poll.stop();
    m_stopCheck.stop();
    m_noAnswer.stop();
    if (m_port.isOpen())
        m_port.close();
    PrintSummary();
    QCoreApplication::exit(status);
}

void Reader::PrintSummary() const {
    std::fprintf(stderr,
                 "torva-read: %lld readings, %lld frames, %lld checksum failures, %lld missed "
                 "answers",
                 m_readings, m_frames, m_checksumFailures, m_missed);
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
