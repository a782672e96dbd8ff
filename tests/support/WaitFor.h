#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>

// Serves Qt events until `condition` holds or `timeoutMs` passes; returns the condition.
// This waits for an outcome (bytes crossing a pseudo-terminal), it does not sleep for a time.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 2000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::usleep(200);
    }
    return true;
}

// Serves the events that are already due, a few rounds.
inline void ServeEvents(int rounds = 5) {
    for (int i = 0; i < rounds; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}
