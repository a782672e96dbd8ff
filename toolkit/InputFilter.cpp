#include "InputFilter.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

InputPreFilter::InputPreFilter(QWidget* window, std::function<bool(QObject*, QEvent*)> keys,
                               std::function<bool()> dropPress)
    : QObject(window),
      m_window(window),
      m_keys(std::move(keys)),
      m_dropPress(std::move(dropPress)) {
    qApp->installEventFilter(this);
}

InputPreFilter::~InputPreFilter() {
    qApp->removeEventFilter(this);
}

bool InputPreFilter::eventFilter(QObject* watched, QEvent* event) {
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
    if (!widget || widget->window() != m_window)
        return false;
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
        return m_dropPress();
    return m_keys(watched, event);
}
