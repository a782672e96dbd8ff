#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <vector>

// Heading, pitch and roll against frame index, in the console's colours.

struct PlotSample {
    double pitch = 0, roll = 0, heading = 0;
};

inline const QColor kHeadingColour{114, 191, 68};
inline const QColor kPitchColour{0, 173, 239};
inline const QColor kRollColour{255, 0, 0};

// Needs a QGuiApplication (for the fonts of the labels).
QImage RenderPlot(const std::vector<PlotSample>& samples, QSize size);
