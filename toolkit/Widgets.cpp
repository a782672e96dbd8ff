#include "Widgets.h"

#include <QEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QStyleOptionSlider>
#include <QTextLayout>
#include <cmath>
#include <utility>

namespace {

// The largest glyphs Qt's raster engine draws from images of its own.
constexpr int kLargestQtCachedGlyph = 64;

}  // namespace

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

void StaticLabel::paintEvent(QPaintEvent* event) {
    const QString shown = text();
    if (QFontInfo(font()).pixelSize() <= kLargestQtCachedGlyph || wordWrap() || !isEnabled() ||
        textFormat() != Qt::PlainText || shown.contains(QLatin1Char('\n')) || frameWidth() != 0 ||
        margin() != 0 || indent() > 0) {
        QLabel::paintEvent(event);
        return;
    }
    // Placed where the label would place the text: the same rectangle, each character where
    // the laid-out line puts it.
    const QFontMetrics metrics(font());
    const QRect area = metrics.boundingRect(contentsRect(), static_cast<int>(alignment()), shown);
    QTextLayout layout(shown, font());
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    const int baseline = area.top() + metrics.ascent();
    QPainter painter(this);
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const Glyph& glyph = GlyphFor(shown[i]);
        const int x =
            area.left() + static_cast<int>(std::lround(line.cursorToX(static_cast<int>(i))));
        painter.drawImage(QPoint(x, baseline) + glyph.offset, glyph.image);
    }
}

void StaticLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange)
        m_glyphs.clear();
    QLabel::changeEvent(event);
}

const StaticLabel::Glyph& StaticLabel::GlyphFor(QChar character) {
    const auto found = m_glyphs.constFind(character);
    if (found != m_glyphs.constEnd())
        return *found;
    const QString text(character);
    const QRect box =
        QFontMetricsF(font()).boundingRect(text).toAlignedRect().adjusted(-2, -2, 2, 2);
    Glyph glyph{QImage(box.size().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied),
                box.topLeft()};
    glyph.image.fill(Qt::transparent);
    QPainter painter(&glyph.image);
    painter.setFont(font());
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(QPointF(-box.left(), -box.top()), text);
    painter.end();
    return *m_glyphs.insert(character, std::move(glyph));
}

void FlatScrollBarStyle::drawComplexControl(ComplexControl control,
                                            const QStyleOptionComplex* option, QPainter* painter,
                                            const QWidget* widget) const {
    const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_ScrollBar || bar == nullptr) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const QColor window = bar->palette.color(QPalette::Window);
    const QColor face = bar->palette.color(QPalette::Button);
    const QColor outline = window.darker(140);
    // A part: a one-pixel outline around a face, both opaque.
    const auto drawPart = [&](const QRect& rect, const QColor& fill) {
        painter->fillRect(rect, outline);
        painter->fillRect(rect.adjusted(1, 1, -1, -1), fill);
    };
    painter->fillRect(bar->rect, window.darker(106));  // the groove

    const bool horizontal = bar->orientation == Qt::Horizontal;
    const bool enabled = (bar->state & State_Enabled) && bar->maximum > bar->minimum;
    const QRect slider = subControlRect(control, bar, SC_ScrollBarSlider, widget);
    if (enabled && slider.isValid()) {
        const bool pressed =
            (bar->state & State_Sunken) && (bar->activeSubControls & SC_ScrollBarSlider);
        drawPart(slider, pressed ? face.darker(115) : face);
    }
    const std::pair<SubControl, PrimitiveElement> buttons[] = {
        {SC_ScrollBarSubLine, horizontal ? PE_IndicatorArrowLeft : PE_IndicatorArrowUp},
        {SC_ScrollBarAddLine, horizontal ? PE_IndicatorArrowRight : PE_IndicatorArrowDown},
    };
    for (const auto& [part, arrow] : buttons) {
        const QRect rect = subControlRect(control, bar, part, widget);
        if (!rect.isValid())
            continue;
        const bool pressed = (bar->state & State_Sunken) && (bar->activeSubControls & part);
        drawPart(rect, pressed ? face.darker(115) : face);
        QStyleOption arrowOption = *bar;
        arrowOption.rect = rect.adjusted(2, 2, -2, -2);
        if (!enabled)
            arrowOption.state &= ~State_Enabled;
        proxy()->drawPrimitive(arrow, &arrowOption, painter, widget);
    }
}
