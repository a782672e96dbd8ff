#pragma once

#include <QObject>
#include <QString>
#include <Qt>

#include "Controls.h"

// Text-drawing format flags.
namespace TextFormat {
constexpr unsigned DT_CENTER = 0x1;
constexpr unsigned DT_RIGHT = 0x2;
constexpr unsigned DT_WORDBREAK = 0x10;
constexpr unsigned DT_VCENTER = 0x4;
constexpr unsigned DT_SINGLELINE = 0x20;
constexpr unsigned DT_NOPREFIX = 0x800;
constexpr unsigned DT_PATH_ELLIPSIS = 0x4000;
constexpr unsigned DT_END_ELLIPSIS = 0x8000;
constexpr unsigned DT_WORD_ELLIPSIS = 0x40000;
}  // namespace TextFormat

// The drawing format for a static control's style word.
unsigned DrawTextFormatFromStyle(unsigned style);

// The drawing format in Qt terms: alignment and wrapping flags for QPainter::drawText, how a
// line that does not fit is elided, and whether '&' marks an underlined letter.
struct QtTextFormat {
    int flags = 0;
    Qt::TextElideMode elide = Qt::ElideNone;
};
QtTextFormat QtTextFormatFromDrawText(unsigned format);

// A static text control that draws its text without a background, so whatever its parent shows
// beneath it stays visible around the letters, and that has the parent repaint the area under
// it when its text changes, so nothing of the previous text remains. No label of the main window
// uses it (its labels over pictures take their colours from the window's colour handler); it is
// kept, with its tests, for a label that must let a picture show through its text.
class CClearStatic : public CStatic {
public:
    CClearStatic();
    ~CClearStatic() override;

    void Attach(int id, QWidget* widget, std::function<void()> forget) override;
    void OnSetText(const QString& text) override;
    void OnPaint();

private:
    // Takes over the control's painting while the object is attached.
    class PaintHook : public QObject {
    public:
        explicit PaintHook(CClearStatic* owner) : m_owner(owner) {}

    protected:
        bool eventFilter(QObject* watched, QEvent* event) override;

    private:
        CClearStatic* m_owner;
    };
    PaintHook m_paintHook{this};
};
