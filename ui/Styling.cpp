#include "Styling.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPalette>
#include <cmath>

void SetDialogColours() {
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, kDialogGrey);
    palette.setColor(QPalette::Button, kDialogGrey);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::ButtonText, Qt::black);
    // Disabled buttons and lists show greyed text, as the platform's controls do.
    const QColor greyed(128, 128, 128);
    for (const auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        palette.setColor(QPalette::Disabled, role, greyed);
    QApplication::setPalette(palette);
    // Disabled edit boxes (the Send log, the frame rate) stay readable: black on grey. Disabled
    // lists keep the greyed text that tells the operator they cannot be changed.
    palette.setColor(QPalette::Disabled, QPalette::Base, kDialogGrey);
    palette.setColor(QPalette::Disabled, QPalette::Text, Qt::black);
    for (const char* editClass : {"QLineEdit", "QPlainTextEdit"})
        QApplication::setPalette(palette, editClass);
}

QFont ExtraBoldArial(int cellHeight) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::ExtraBold);
    font.setPixelSize(cellHeight);
    const int measured = QFontMetrics(font).height();
    if (measured > 0 && measured != cellHeight) {
        const int scaled =
            static_cast<int>(std::lround(static_cast<double>(cellHeight) * cellHeight / measured));
        font.setPixelSize(std::max(1, scaled));
    }
    return font;
}
