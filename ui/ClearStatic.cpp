#include "ClearStatic.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QStringList>
#include <QWidget>

using namespace TextFormat;
using namespace StaticStyle;

unsigned DrawTextFormatFromStyle(unsigned style) {
    unsigned format = 0;
    if (style & SS_RIGHT)
        format |= DT_RIGHT;
    if (style & SS_CENTER)
        format |= DT_CENTER;
    if (style & SS_CENTERIMAGE)
        format |= DT_VCENTER | DT_SINGLELINE;
    if (style & SS_NOPREFIX)
        format |= DT_NOPREFIX;
    if (style & (SS_ENDELLIPSIS | SS_PATHELLIPSIS))
        format |= DT_WORD_ELLIPSIS;
    if (style & SS_ENDELLIPSIS)
        format |= DT_END_ELLIPSIS;
    if (style & SS_PATHELLIPSIS)
        format |= DT_PATH_ELLIPSIS;
    // Type-field bits 0x4 and 0x8, SS_CENTERIMAGE and both ellipsis bits rule out wrapping.
    if ((style & 0xC20Cu) == 0)
        format |= DT_WORDBREAK;
    return format;
}

QtTextFormat QtTextFormatFromDrawText(unsigned format) {
    QtTextFormat out;
    // Centring wins over right alignment when both are asked for, as in the platform's drawing.
    if (format & DT_CENTER)
        out.flags |= Qt::AlignHCenter;
    else if (format & DT_RIGHT)
        out.flags |= Qt::AlignRight;
    else
        out.flags |= Qt::AlignLeft;
    if (format & DT_SINGLELINE) {
        out.flags |= Qt::TextSingleLine;
        out.flags |= (format & DT_VCENTER) ? Qt::AlignVCenter : Qt::AlignTop;
    } else {
        out.flags |= Qt::AlignTop;
    }
    if (format & DT_WORDBREAK)
        out.flags |= Qt::TextWordWrap;
    if (!(format & DT_NOPREFIX))
        out.flags |= Qt::TextShowMnemonic;
    if (format & DT_PATH_ELLIPSIS)
        out.elide = Qt::ElideMiddle;
    else if (format & (DT_END_ELLIPSIS | DT_WORD_ELLIPSIS))
        out.elide = Qt::ElideRight;
    return out;
}

CClearStatic::CClearStatic() = default;

CClearStatic::~CClearStatic() {
    if (QWidget* widget = GetWidget())
        widget->removeEventFilter(&m_paintHook);
}

void CClearStatic::Attach(int id, QWidget* widget, std::function<void()> forget) {
    CStatic::Attach(id, widget, std::move(forget));
    if (widget) {
        widget->setAutoFillBackground(false);
        widget->installEventFilter(&m_paintHook);
    }
}

void CClearStatic::OnSetText(const QString& text) {
    QWidget* widget = GetWidget();
    if (widget && widget->parentWidget())
        widget->parentWidget()->update(widget->geometry());
    CStatic::OnSetText(text);
}

void CClearStatic::OnPaint() {
    QWidget* widget = GetWidget();
    if (!widget)
        return;
    QPainter painter(widget);  // the widget's font and text colour
    const QRect client = widget->rect();
    const QString text = GetWindowText();
    const QtTextFormat format = QtTextFormatFromDrawText(DrawTextFormatFromStyle(GetStyle()));
    QString shown = text;
    if (format.elide != Qt::ElideNone && !text.contains(QLatin1Char('\n'))) {
        shown = painter.fontMetrics().elidedText(text, format.elide, client.width(),
                                                 format.flags & Qt::TextShowMnemonic);
    }
    painter.drawText(client, format.flags, shown);
}

bool CClearStatic::PaintHook::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && watched == m_owner->GetWidget()) {
        m_owner->OnPaint();
        return true;  // no background and no label painting of its own
    }
    return false;
}
