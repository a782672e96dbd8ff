#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

#include "Widgets.h"

namespace {

// A reading display as the window builds one: 100 px plain text in a colour of its own on
// black. QLabel draws text this large from outlines; StaticLabel from images of each character.
template <class Label>
QImage Rendered(const QString& text, Qt::Alignment alignment) {
    Label label;
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(100);
    font.setWeight(QFont::ExtraBold);
    label.setFont(font);
    label.setTextFormat(Qt::PlainText);
    label.setAlignment(alignment);
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, QColor(0, 200, 80));
    palette.setBrush(QPalette::Window, Qt::black);
    label.setPalette(palette);
    label.setAutoFillBackground(true);
    label.resize(357, 117);
    label.setText(text);
    return label.grab().toImage();
}

bool Ink(const QImage& image, int x, int y) {
    return x >= 0 && y >= 0 && x < image.width() && y < image.height() &&
           qGreen(image.pixel(x, y)) > 100;
}

// Pixels where one image has ink (or none) and the other has the same nowhere within a pixel:
// edges may fall half a pixel apart, a misplaced character does not.
int Misplaced(const QImage& a, const QImage& b) {
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const bool ink = Ink(a, x, y);
            bool matched = false;
            for (int dy = -1; dy <= 1 && !matched; ++dy) {
                for (int dx = -1; dx <= 1 && !matched; ++dx)
                    matched = Ink(b, x + dx, y + dy) == ink;
            }
            count += !matched;
        }
    }
    return count;
}

}  // namespace

// Each character stands where Qt's own text drawing puts it, kerned pairs ("11") included, in
// every alignment the window uses.
TEST(StaticLabel, DrawsEachCharacterWhereQtWould) {
    for (const char* text : {"+29.90", "-11.5", "1111", "359.9", "0.0"}) {
        for (const Qt::Alignment alignment :
             {Qt::AlignHCenter | Qt::AlignVCenter, Qt::AlignLeft | Qt::AlignVCenter,
              Qt::AlignRight | Qt::AlignTop}) {
            const QString shown = QString::fromLatin1(text);
            const QImage ours = Rendered<StaticLabel>(shown, alignment);
            const QImage qts = Rendered<QLabel>(shown, alignment);
            EXPECT_EQ(Misplaced(ours, qts), 0)
                << '"' << text << "\" aligned 0x" << std::hex << alignment.toInt();
        }
    }
}
