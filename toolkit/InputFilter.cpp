#include "InputFilter.h"

#include <QEvent>
#include <QWidget>

CDialogBase::InputPreFilter::InputPreFilter(CDialogBase* dialog)
    : QObject(dialog), m_dialog(dialog) {}

bool CDialogBase::InputPreFilter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            break;
        default:
            return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != m_dialog)
        return false;
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
        return m_dialog->DropsPress();
    return m_dialog->PreTranslateMessage(watched, event);
}
