#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <optional>
#include <vector>

#include "ModuleSession.h"

// One try of a search: a read request to `address` at entry `speedIndex` of the speed list.
struct ScanTry {
    int speedIndex = 0;
    int address = 0;
    friend bool operator==(const ScanTry&, const ScanTry&) = default;
};

// Added to the time on the wire: the module's own reply time and the scheduling of a loaded
// machine, from the simulator's answer times measured by bench_scan.
constexpr int kAnswerMarginMs = 35;
// The margin of a second try at an address whose reading came after its own try had ended
// (a module slower than the margin, or a machine too busy to read it in time).
constexpr int kLateAnswerMarginMs = 500;

// What to search: where to start (the speed and address the operator has now), which speeds to
// try (entries of the speed list; empty: all six), whether to go on after the first answer, and
// the margin each try adds to the time on the wire.
struct ScanPlan {
    int speedIndex = 2;
    int address = 0;
    std::vector<int> speeds;
    bool wholeBus = false;
    int marginMs = kAnswerMarginMs;
};

enum class ScanEnd : std::uint8_t { Found, NotFound, Cancelled, Failed };

struct ScanResult {
    ScanEnd end = ScanEnd::NotFound;
    std::vector<ScanTry> found;  // every module that answered, in the order found
    int tries = 0;               // requests sent
    qint64 elapsedMs = 0;
};

// The order of the tries: the start first; then the start address at the other speeds (one slip
// of the speed), then every address at the start speed (one slip of the address), then the rest
// speed by speed. Other speeds go nearest the start speed first.
std::vector<ScanTry> ScanOrder(const ScanPlan& plan);

// How long a try waits for its answer at entry `speedIndex`: the read request and the 14-byte
// reading crossing the line at ten bits a byte, plus the margin.
int AnswerWaitMs(int speedIndex, int marginMs = kAnswerMarginMs);

// Searches the selected port of a session for modules: a read request per (speed, address) try,
// one at a time, each waiting at most AnswerWaitMs for a whole reading from the address asked;
// answers from another address, garbage and half frames never count. A reading that comes late,
// from an address asked earlier at this speed, is not taken as it is (it may be another
// module's garbage shaped like a frame): that address is asked once more, next, with a long
// wait. While it runs, the
// session's service tick sends nothing. At the end the line is as it was (closed, or open), and
// if it was open it runs at the speed of the first module found, else at its old speed.
class ModuleScanner : public QObject {
    Q_OBJECT
public:
    explicit ModuleScanner(ModuleSession& session, QObject* parent = nullptr);
    // A search still running is cancelled without a signal.
    ~ModuleScanner() override;

    // Starts the search on the session's selected port, opening it when closed. The failure
    // when it cannot be opened (then nothing was sent and no signal follows).
    [[nodiscard]] std::optional<LineFailure> start(const ScanPlan& plan);
    // Ends a search running: finished() with ScanEnd::Cancelled, or the modules found so far.
    void cancel();
    bool running() const { return m_running; }

signals:
    void progress(int done, int total);
    void found(int speedIndex, int address);
    // The line failed or the device vanished; finished() follows.
    void failed(const LineFailure& failure);
    // The last signal of every search started.
    void finished(const ScanResult& result);

private:
    void nextTry();
    void onAnswer(quint8 address, quint8 code, const QByteArray& frame);
    void onNoAnswer();
    // A reading from `address` that was asked earlier at this speed: ask it again, next.
    void askAgainIfLate(int speedIndex, int address);
    void onDeviceLost(const QString& reason);
    void fail(const LineFailure& failure);
    void finish(ScanEnd end);
    // Puts the line back as it was, at the speed of the first module found.
    void restoreLine();

    ModuleSession& m_session;
    std::vector<ScanTry> m_order;
    std::size_t m_next = 0;  // index of the next try in m_order
    std::optional<ScanTry> m_current;
    std::vector<ScanTry> m_lateTries;  // addresses to ask again after a late answer
    std::vector<bool> m_asked;         // per speed and address: asked during this search
    std::vector<bool> m_askedAgain;    // per speed and address: asked again after a late answer
    ScanPlan m_plan;
    ScanResult m_result;
    bool m_running = false;
    bool m_wasOpen = false;
    bool m_wasHeld = false;
    int m_oldSpeed = 2;
    QTimer m_wait;
    QElapsedTimer m_clock;
};
