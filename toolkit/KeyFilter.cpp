#include "KeyFilter.h"

#include <QEvent>
#include <QWidget>

CDialogBase::KeyPreFilter::KeyPreFilter(CDialogBase* dialog) : QObject(dialog), m_dialog(dialog) {}

bool CDialogBase::KeyPreFilter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
            break;
        default:
            return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != m_dialog)
        return false;
    return m_dialog->PreTranslateMessage(watched, event);
}
