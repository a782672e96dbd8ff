#include "Widgets.h"

#include <QEvent>
#include <QFocusEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QStyleOptionSlider>
#include <cmath>
#include <utility>

namespace {

// The largest glyphs Qt's raster engine draws from images of its own.
constexpr int kLargestQtCachedGlyph = 64;

}  // namespace

void FieldEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (onFocusLost)
        onFocusLost(event->reason());
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

bool StaticLabel::DrawsFromImages() const {
    return QFontInfo(font()).pixelSize() > kLargestQtCachedGlyph && !wordWrap() && isEnabled() &&
           textFormat() == Qt::PlainText && !text().contains(QLatin1Char('\n')) &&
           frameWidth() == 0 && margin() == 0 && indent() <= 0;
}

void StaticLabel::paintEvent(QPaintEvent* event) {
    if (!DrawsFromImages()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QString shown = text();
    const std::vector<QPoint> origins = Origins(shown);
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const Glyph& glyph = GlyphFor(shown[i]);
        painter.drawImage(origins[static_cast<std::size_t>(i)] + glyph.offset, glyph.image);
    }
}

void StaticLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
        m_glyphs.clear();
        m_advances.clear();
    }
    QLabel::changeEvent(event);
}

// Where the label would place each character: the text where its own drawing puts a line
// (aligned in the contents rectangle), each character at the advances of those before it,
// kerning included.
std::vector<QPoint> StaticLabel::Origins(const QString& text) {
    const QRect area = contentsRect();
    // Single-line text of one font stands at the same height whatever it says.
    const QFontMetrics metrics(font());
    const int baseline =
        metrics.boundingRect(area, static_cast<int>(alignment()), QStringLiteral("0")).top() +
        metrics.ascent();
    std::vector<qreal> offsets;
    offsets.reserve(static_cast<std::size_t>(text.size()));
    qreal width = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        offsets.push_back(width);
        width += Advance(text[i], i + 1 < text.size() ? text[i + 1] : QChar());
    }
    qreal shift = 0;
    if (alignment() & Qt::AlignRight)
        shift = area.width() - width;
    else if (alignment() & Qt::AlignHCenter)
        shift = (area.width() - width) / 2;
    const int left = static_cast<int>(std::floor(area.x() + shift));
    std::vector<QPoint> origins;
    origins.reserve(offsets.size());
    for (const qreal offset : offsets)
        origins.emplace_back(left + static_cast<int>(std::lround(offset)), baseline);
    return origins;
}

// The advance of `character` when `next` follows it: its width less the kerning of the pair.
qreal StaticLabel::Advance(QChar character, QChar next) {
    const quint32 key = (quint32{character.unicode()} << 16) | next.unicode();
    const auto found = m_advances.constFind(key);
    if (found != m_advances.constEnd())
        return *found;
    const QFontMetricsF metrics(font());
    const qreal advance = next.isNull() ? metrics.horizontalAdvance(QString(character))
                                        : metrics.horizontalAdvance(QString(character) + next) -
                                              metrics.horizontalAdvance(QString(next));
    m_advances.insert(key, advance);
    return advance;
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
