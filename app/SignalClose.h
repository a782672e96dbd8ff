#pragma once

#include <signal.h>

#include <QObject>
#include <array>
#include <functional>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into an orderly close run from the event loop. The handler
// does nothing but write the signal's number into a socket pair; a notifier on the other end
// calls `close` once, from whichever event loop is running (a message box's included). A
// signal that was ignored when the program started stays ignored. One object at a time; it
// restores the previous handlers when it goes.
class SignalClose : public QObject {
public:
    explicit SignalClose(std::function<void()> close, QObject* parent = nullptr);
    ~SignalClose() override;
    SignalClose(const SignalClose&) = delete;
    SignalClose& operator=(const SignalClose&) = delete;

    // The signal that asked for the close; 0 when none did.
    int Signal() const { return m_signal; }

private:
    void OnSignalled();

    std::function<void()> m_close;
    int m_signal = 0;
    std::array<int, 2> m_fds{-1, -1};
    QSocketNotifier* m_notifier = nullptr;
    std::array<struct sigaction, 3> m_previous{};
};
