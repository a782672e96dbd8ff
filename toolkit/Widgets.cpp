#include "Widgets.h"

#include <QFontMetrics>
#include <QPainter>

void FieldEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (onFocusLost)
        onFocusLost();
}

void FrameGroupBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int top = title().isEmpty() ? 0 : metrics.height() / 2;
    const QRect frame = rect().adjusted(0, top, -1, -1);
    // Etched: a shadow line with a highlight line just inside and below it.
    const QColor shadow = palette().color(QPalette::Window).darker(150);
    painter.setPen(Qt::white);
    painter.drawRect(frame.adjusted(1, 1, 0, 0));
    painter.setPen(shadow);
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
    if (title().isEmpty())
        return;
    const int gap = metrics.horizontalAdvance(QLatin1Char(' '));
    const int width = metrics.horizontalAdvance(title()) + 2 * gap;
    const int left = (alignment() & Qt::AlignHCenter) ? (rect().width() - width) / 2 : 8;
    const QRect caption(left, 0, width, metrics.height());
    painter.fillRect(caption, palette().color(QPalette::Window));
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(caption, Qt::AlignCenter, title());
}
