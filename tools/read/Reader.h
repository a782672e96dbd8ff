#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <vector>

// Exit statuses of torva-read.
constexpr int kReadOk = 0;
constexpr int kReadUsage = 1;
constexpr int kReadOpenFailed = 2;
constexpr int kReadNoAnswer = 3;
constexpr int kReadDeviceLost = 4;

struct ReadOptions {
    QString device;
    int baud = 9600;
    unsigned address = 0;
    double rate = 10.0;    // requests per second
    long long count = 0;   // readings to print; 0 = until stopped
    double timeout = 3.0;  // seconds without a reading before giving up
};

// Polls one module: a read request per tick, answers through the console's assembler, one CSV
// line per reading on stdout, a summary on stderr at the end.
class Reader : public QObject {
    Q_OBJECT
public:
    explicit Reader(const ReadOptions& options, QObject* parent = nullptr);
    // Opens the port and starts polling; false (with the message printed) when it cannot.
    bool Start();
    // Ends polling, closes the port, prints the summary and quits the event loop with `status`.
    void Finish(int status);

private:
    void Poll();
    void OnReadyRead();
    void OnError(QSerialPort::SerialPortError error);
    void PrintSummary() const;

    ReadOptions m_options;
    QSerialPort m_port;
    QTimer m_poll;
    QTimer m_stopCheck;
    QElapsedTimer m_clock;
    qint64 m_sentAt = 0;         // ns on m_clock of the last request
    qint64 m_lastReadingAt = 0;  // ns on m_clock of the last reading (or of the start)
    bool m_awaiting = false;     // a request is out without its reading
    bool m_finished = false;
    long long m_readings = 0;
    long long m_frames = 0;
    long long m_checksumFailures = 0;
    long long m_missed = 0;
    std::vector<double> m_roundTripsMs;
};

// Set from the signal handler; the reader stops at its next check.
void InstallStopSignals();
