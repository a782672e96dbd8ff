#pragma once

#include <QFont>
#include <QString>

// The template font: the face a dialog template names, at the pixel size the platform gives its
// point size at 96 dpi, and the dialog base units it makes (dialog units convert to pixels with
// them: x * baseX / 4, y * baseY / 8).
struct TemplateFont {
    QFont font;
    int baseX = 7;
    int baseY = 14;
};
TemplateFont MakeTemplateFont(const QString& face, int pointSize);

// The font the controls show their texts in: the template font's size, Latin letters from a
// clear serif face, everything else (the Chinese texts) from the template face.
QFont ControlFont(const TemplateFont& templateFont);

// Registers the Song-style CJK face for the template font names ("宋体", "SimSun").
void RegisterTemplateFontSubstitutes();
