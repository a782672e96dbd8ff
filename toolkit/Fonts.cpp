#include "Fonts.h"

#include <QFontMetrics>
#include <QStringList>
#include <cmath>

void RegisterTemplateFontSubstitutes() {
    const QString song = QStringLiteral("AR PL UMing CN");
    QFont::insertSubstitution(QStringLiteral("宋体"), song);
    QFont::insertSubstitution(QStringLiteral("SimSun"), song);
}

TemplateFont MakeTemplateFont(const QString& face, int pointSize) {
    RegisterTemplateFontSubstitutes();
    TemplateFont made;
    made.font = QFont(face);
    // Sized as the platform sizes the template font's character cell at 96 dpi (10 pt -> 14 px).
    made.font.setPixelSize(static_cast<int>(std::ceil(pointSize * 96.0 / 72.0)));
    const QFontMetrics metrics(made.font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int baseX = (letters / 26 + 1) / 2;
    const int baseY = metrics.height();
    if (baseX > 0 && baseY > 0) {
        made.baseX = baseX;
        made.baseY = baseY;
    }
    return made;
}

QFont ControlFont(const TemplateFont& templateFont) {
    // The Song face's own Latin letters are thin at 14 px and its "l" reads as "1"; a serif of
    // the same build keeps the look while every letter is plain. Chinese texts fall through to
    // the Song face, which alone has their glyphs. The dialog units stay those of the template
    // face, so the window keeps its size.
    QFont font = templateFont.font;
    font.setFamilies(QStringList{QStringLiteral("Liberation Serif"), templateFont.font.family()});
    return font;
}
