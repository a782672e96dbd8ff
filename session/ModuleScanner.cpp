#include "ModuleScanner.h"

#include <QSignalBlocker>
#include <algorithm>
#include <cstdlib>

#include "LineRules.h"
#include "Response.h"

namespace {

constexpr int kSpeedCount = static_cast<int>(kLineSpeeds.size());
constexpr int kAddressCount = 256;
// The read request (68 04 address 04 checksum) out and the reading back.
constexpr int kTryBytes = 5 + static_cast<int>(kReadingFrameSize);

bool Listed(int speedIndex) {
    return speedIndex >= 0 && speedIndex < kSpeedCount;
}

std::size_t Slot(int speedIndex, int address) {
    return static_cast<std::size_t>(speedIndex * kAddressCount + (address & 0xFF));
}

}  // namespace

std::vector<ScanTry> ScanOrder(const ScanPlan& plan) {
    std::vector<int> speeds = plan.speeds;
    if (speeds.empty()) {
        for (int i = 0; i < kSpeedCount; ++i)
            speeds.push_back(i);
    }
    std::erase_if(speeds, [](int s) { return !Listed(s); });
    std::sort(speeds.begin(), speeds.end());
    speeds.erase(std::unique(speeds.begin(), speeds.end()), speeds.end());
    if (speeds.empty())
        return {};
    const int start = std::find(speeds.begin(), speeds.end(), plan.speedIndex) != speeds.end()
                          ? plan.speedIndex
                          : speeds.front();
    const int first = plan.address & 0xFF;
    // Nearest the start speed first; of two as near, the slower.
    std::stable_sort(speeds.begin(), speeds.end(),
                     [start](int a, int b) { return std::abs(a - start) < std::abs(b - start); });

    std::vector<ScanTry> order;
    order.reserve(speeds.size() * kAddressCount);
    for (const int speed : speeds)  // the start speed itself comes first
        order.push_back({speed, first});
    for (int address = 0; address < kAddressCount; ++address) {
        if (address != first)
            order.push_back({start, address});
    }
    for (const int speed : speeds) {
        if (speed == start)
            continue;
        for (int address = 0; address < kAddressCount; ++address) {
            if (address != first)
                order.push_back({speed, address});
        }
    }
    return order;
}

int AnswerWaitMs(int speedIndex, int marginMs) {
    const qint32 speed = kLineSpeeds[static_cast<std::size_t>(std::clamp(speedIndex, 0, 5))];
    const int wireMs = (kTryBytes * 10 * 1000 + speed - 1) / speed;
    return wireMs + std::max(marginMs, 0);
}

ModuleScanner::ModuleScanner(ModuleSession& session, QObject* parent)
    : QObject(parent), m_session(session) {
    m_wait.setSingleShot(true);
    m_wait.setTimerType(Qt::PreciseTimer);
    connect(&m_wait, &QTimer::timeout, this, &ModuleScanner::onNoAnswer);
    connect(&m_session, &ModuleSession::answerReceived, this, &ModuleScanner::onAnswer);
    connect(&m_session, &ModuleSession::deviceLost, this, &ModuleScanner::onDeviceLost);
}

ModuleScanner::~ModuleScanner() {
    if (m_running) {
        const QSignalBlocker quiet(this);
        cancel();
    }
}

std::optional<LineFailure> ModuleScanner::start(const ScanPlan& plan) {
    if (m_running)
        return LineFailure{QStringLiteral("A search is already running."),
                           QStringLiteral("already searching")};
    m_plan = plan;
    m_order = ScanOrder(plan);
    if (m_order.empty())
        return LineFailure{QStringLiteral("No speed to search."), QStringLiteral("no speed")};
    m_wasOpen = m_session.isOpen();
    m_oldSpeed = m_session.speedIndex();
    if (!m_wasOpen) {
        if (auto failure = m_session.open(m_order.front().speedIndex))
            return failure;
    }
    m_wasHeld = m_session.serviceHeld();
    m_session.holdService(true);
    m_next = 0;
    m_current.reset();
    m_lateTries.clear();
    m_asked.assign(static_cast<std::size_t>(kSpeedCount * kAddressCount), false);
    m_askedAgain = m_asked;
    m_result = ScanResult{};
    m_running = true;
    m_clock.start();
    // The first try from the event loop, so that whoever started the search hears every signal.
    QMetaObject::invokeMethod(this, &ModuleScanner::nextTry, Qt::QueuedConnection);
    return std::nullopt;
}

void ModuleScanner::cancel() {
    if (m_running)
        finish(m_result.found.empty() ? ScanEnd::Cancelled : ScanEnd::Found);
}

void ModuleScanner::nextTry() {
    if (!m_running)
        return;
    const bool again = !m_lateTries.empty();
    if (!again && m_next >= m_order.size()) {
        finish(m_result.found.empty() ? ScanEnd::NotFound : ScanEnd::Found);
        return;
    }
    ScanTry attempt;
    if (again) {
        attempt = m_lateTries.front();
        m_lateTries.erase(m_lateTries.begin());
    } else {
        attempt = m_order[m_next++];
    }
    if (attempt.speedIndex != m_session.speedIndex()) {
        if (const auto failure = m_session.setSpeed(attempt.speedIndex)) {
            fail(*failure);
            return;
        }
    }
    // A frame begun by an earlier try's garbage must not swallow this try's answer.
    m_session.discardPartialFrame();
    m_current = attempt;
    if (const auto failure = m_session.sendTo(CMD_READ, static_cast<quint8>(attempt.address))) {
        fail(*failure);
        return;
    }
    ++m_result.tries;
    m_asked[Slot(attempt.speedIndex, attempt.address)] = true;
    m_wait.start(
        AnswerWaitMs(attempt.speedIndex,
                     again ? std::max(m_plan.marginMs, kLateAnswerMarginMs) : m_plan.marginMs));
}

void ModuleScanner::onAnswer(quint8 address, quint8 code, const QByteArray&) {
    if (!m_running || !m_current || code != ANS_READ)
        return;
    if (address != m_current->address) {
        askAgainIfLate(m_current->speedIndex, address);
        return;
    }
    m_wait.stop();
    const ScanTry hit = *m_current;
    m_current.reset();
    m_result.found.push_back(hit);
    emit found(hit.speedIndex, hit.address);
    if (!m_running)
        return;  // a listener cancelled
    emit progress(static_cast<int>(m_next), static_cast<int>(m_order.size()));
    if (!m_running)
        return;
    if (!m_plan.wholeBus) {
        finish(ScanEnd::Found);
        return;
    }
    // From the event loop: the rest of the read that brought the answer is taken first.
    QMetaObject::invokeMethod(this, &ModuleScanner::nextTry, Qt::QueuedConnection);
}

void ModuleScanner::askAgainIfLate(int speedIndex, int address) {
    const std::size_t slot = Slot(speedIndex, address);
    if (!m_asked[slot] || m_askedAgain[slot])
        return;
    const ScanTry late{speedIndex, address};
    if (std::find(m_result.found.begin(), m_result.found.end(), late) != m_result.found.end())
        return;
    m_askedAgain[slot] = true;
    m_lateTries.push_back(late);
}

void ModuleScanner::onNoAnswer() {
    if (!m_running)
        return;
    m_current.reset();
    emit progress(static_cast<int>(m_next), static_cast<int>(m_order.size()));
    nextTry();
}

void ModuleScanner::onDeviceLost(const QString& reason) {
    if (!m_running)
        return;
    fail({QStringLiteral("%1 has gone away during the search (%2).")
              .arg(m_session.portLabel(), reason),
          reason});
}

void ModuleScanner::fail(const LineFailure& failure) {
    m_wait.stop();
    m_current.reset();
    emit failed(failure);
    finish(ScanEnd::Failed);
}

void ModuleScanner::finish(ScanEnd end) {
    if (!m_running)
        return;
    m_running = false;
    m_wait.stop();
    m_current.reset();
    m_session.holdService(m_wasHeld);
    if (end != ScanEnd::Failed)
        restoreLine();
    m_result.end = end;
    m_result.elapsedMs = m_clock.elapsed();
    emit finished(m_result);
}

void ModuleScanner::restoreLine() {
    if (!m_wasOpen) {
        m_session.close();
        return;
    }
    const int speed = m_result.found.empty() ? m_oldSpeed : m_result.found.front().speedIndex;
    if (m_session.isOpen() && Listed(speed) && speed != m_session.speedIndex())
        (void)m_session.setSpeed(speed);  // a failure here shows at the next request
    m_session.discardPartialFrame();
}
