// The handler table: notifications of the controls to member functions, and a field's focus loss
// (and the click it cancels when the field is rejected).
#include <QMetaObject>
#include <utility>

#include "Dialog.h"

void CDialogBase::Bind(int id, Notification code, std::function<void()> handler) {
    m_handlers[{id, code}] = std::move(handler);
}

void CDialogBase::Dispatch(int id, Notification code) {
    if (m_bDestroyed)
        return;
    if (m_nExchangeDepth > 0 &&
        (code == Notification::Changed || code == Notification::KillFocus)) {
        return;  // a refresh must never start a commit
    }
    // A field loses the focus to our own box while the box is up; that is no commit.
    if (m_openBox && code == Notification::KillFocus)
        return;
    const auto it = m_handlers.find({id, code});
    if (it == m_handlers.end()) {
        // OK and Cancel end the dialog unless the dialog handles them itself.
        if (code == Notification::Clicked && (id == IDOK || id == IDCANCEL))
            done(id == IDOK ? Accepted : Rejected);
        return;
    }
    const std::function<void()> handler = it->second;  // the table may not change under us
    handler();
}

void CDialogBase::FieldLostFocus(int id, Qt::FocusReason reason) {
    const int rejected = m_nRejectedCommits;
    Dispatch(id, Notification::KillFocus);
    // A click that took the focus from a field whose commit it then rejected goes no further:
    // the field has the focus back, and the control clicked must not act on the old value. Only
    // the press being delivered now is cancelled, never a later one.
    if (reason == Qt::MouseFocusReason && m_nRejectedCommits != rejected) {
        m_bCancelClick = true;
        QMetaObject::invokeMethod(
            this, [this] { m_bCancelClick = false; }, Qt::QueuedConnection);
    }
}

bool CDialogBase::DropsPress() {
    return std::exchange(m_bCancelClick, false);
}
