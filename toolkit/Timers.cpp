// Window timers by id. Each tick runs OnTimer through the handler table's error reporting.
#include <QTimer>

#include "Dialog.h"

void CDialogBase::SetTimer(int id, int milliseconds) {
    QTimer*& timer = m_timers[id];
    if (!timer) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, id] { DispatchTimer(id); });
    }
    timer->start(milliseconds);
}

void CDialogBase::KillTimer(int id) {
    const auto it = m_timers.find(id);
    if (it != m_timers.end())
        it->second->stop();
}

void CDialogBase::DispatchTimer(int id) {
    if (m_bDestroyed)
        return;
    RunGuarded([this, id] { OnTimer(id); });
}
