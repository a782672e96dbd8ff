#pragma once

#include <QGroupBox>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <functional>
#include <vector>

// Widgets the template builder makes where Qt's own do not behave as dialog controls do.

// A single-line field that reports losing the focus only after its own focus-out handling, so
// a selection that the report's handler makes (a rejected field selects its text) survives.
class FieldEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    std::function<void(Qt::FocusReason)> onFocusLost;

protected:
    void focusOutEvent(QFocusEvent* event) override;
};

// A group box drawn as dialogs draw one: an etched frame whose top edge runs through the middle
// of the caption, the caption on the dialog's background at the left or centred.
class FrameGroupBox : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A static text control. Qt's raster engine keeps images of glyphs only up to 64 px and fills
// every larger glyph as an outline path, running the font's hinting program again each time:
// the 100 px readings, repainted ten times a second, cost three quarters of the console's CPU
// that way (and Qt 6.4 draws nothing at all when its limit is raised above that size). Large
// single-line text is therefore drawn from an image of each character, made once, placed by
// advances measured once per pair of characters (so kerning is kept) instead of a text layout
// at every paint.
class StaticLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Glyph {
        QImage image;   // the character in the text colour, on transparent
        QPoint offset;  // of the image's top-left corner from the character's origin
    };
    bool DrawsFromImages() const;
    const Glyph& GlyphFor(QChar character);
    qreal Advance(QChar character, QChar next);
    std::vector<QPoint> Origins(const QString& text);

    QHash<QChar, Glyph> m_glyphs;
    QHash<quint32, qreal> m_advances;  // by character and the one after it (kerning)
};

// Scroll bars drawn with plain opaque fills, for the multi-line panes. The default style shades
// a scroll bar with gradients and translucent lines, and Qt's raster engine splits every such
// fill taller than 96 lines over a pool of threads and waits for them: a pane's vertical scroll
// bar, repainted whenever lines are added, cost more in thread hand-offs than the rest of the
// refresh. Opaque fills take the engine's direct path. Everything else comes from the
// application's style.
class FlatScrollBarStyle : public QProxyStyle {
public:
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override;
};
