#include "SignalClose.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace {

constexpr std::array<int, 3> kCloseSignals = {SIGTERM, SIGINT, SIGHUP};

int g_signalWriteFd = -1;

extern "C" void WriteSignalNumber(int signal) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalWriteFd, &byte, 1);
    errno = savedErrno;
}

}  // namespace

SignalClose::SignalClose(std::function<void()> close, QObject* parent)
    : QObject(parent), m_close(std::move(close)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, m_fds.data()) != 0) {
        m_fds = {-1, -1};
        return;  // the signals keep their default action: the program ends as before
    }
    g_signalWriteFd = m_fds[0];
    m_notifier = new QSocketNotifier(m_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalClose::OnSignalled);

    struct sigaction action {};
    action.sa_handler = WriteSignalNumber;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kCloseSignals.size(); ++i) {
        // A signal ignored from the start (nohup, a background job of a script) stays ignored.
        ::sigaction(kCloseSignals[i], nullptr, &m_previous[i]);
        if (m_previous[i].sa_handler != SIG_IGN)
            ::sigaction(kCloseSignals[i], &action, nullptr);
    }
}

SignalClose::~SignalClose() {
    if (m_fds[0] < 0)
        return;
    for (std::size_t i = 0; i < kCloseSignals.size(); ++i)
        ::sigaction(kCloseSignals[i], &m_previous[i], nullptr);
    g_signalWriteFd = -1;
    delete m_notifier;
    ::close(m_fds[0]);
    ::close(m_fds[1]);
}

void SignalClose::OnSignalled() {
    unsigned char pending[16];
    ssize_t n = 0;
    while ((n = ::read(m_fds[1], pending, sizeof pending)) > 0) {
        if (m_signal == 0)
            m_signal = pending[0];
    }
    // Later signals find the close under way (or a box of it open) and change nothing.
    if (m_signal != 0 && m_close) {
        const auto close = std::move(m_close);
        m_close = nullptr;
        close();
    }
}
