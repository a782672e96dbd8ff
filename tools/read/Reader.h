#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <vector>

#include "ModuleSession.h"

// Exit statuses of torva-read.
constexpr int kReadOk = 0;
constexpr int kReadUsage = 1;
constexpr int kReadOpenFailed = 2;
constexpr int kReadNoAnswer = 3;
constexpr int kReadDeviceLost = 4;
constexpr int kReadOutputFailed = 5;

// The range of --rate and --timeout: from one request a day to 100 a second, and up to a day
// without an answer. Within it, the poll period and the time-out fit a timer's milliseconds.
constexpr double kMinRate = 1.0 / 86400.0;
constexpr double kMaxRate = 100.0;
constexpr double kMaxTimeout = 86400.0;

struct ReadOptions {
    QString device;
    int baud = 9600;
    unsigned address = 0;
    double rate = 10.0;    // requests per second, kMinRate to kMaxRate
    long long count = 0;   // readings to print; 0 = until stopped
    double timeout = 3.0;  // seconds a request may wait for its reading, up to kMaxTimeout
};

// Milliseconds from one request to the next, and of the time-out; at least 1.
int PollPeriodMs(double rate);
int TimeoutMs(double seconds);

// Polls one module through a module session: a read request per tick while none is waiting for
// its answer, one CSV line per reading on stdout, a summary on stderr at the end.
class Reader : public QObject {
    Q_OBJECT
public:
    explicit Reader(const ReadOptions& options, QObject* parent = nullptr);
    // Opens the port, prints the header line and starts polling: kReadOk, or the exit status
    // (with the message printed) when it cannot.
    int Start();
    // Ends polling, closes the port, prints the summary and quits the event loop with `status`.
    void Finish(int status);

private:
    void Poll();
    void OnReading(double pitch, double roll, double heading);
    void OnChecksumFailure();
    void OnDeviceFailed(const QString& reason);
    void OnNoAnswer();
    // Writes a line to standard output at once; false (with the message printed) on failure.
    bool PrintLine(const char* line);
    void PrintSummary() const;

    ReadOptions m_options;
    ModuleSession m_session;
    QTimer m_poll;
    QTimer m_stopCheck;
    QTimer m_noAnswer;  // runs from the first request since the last reading
    QElapsedTimer m_clock;
    qint64 m_sentAt = 0;           // ns on m_clock of the last request
    bool m_waiting = false;        // the last request is out without its answer
    bool m_waitingMissed = false;  // ... and a tick has passed since: counted as missed
    bool m_finished = false;
    long long m_readings = 0;
    long long m_checksumFailures = 0;
    long long m_missed = 0;
    std::vector<double> m_roundTripsMs;
};

// Set from the signal handler; the reader stops at its next check.
void InstallStopSignals();
