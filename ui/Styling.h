#pragma once

#include <QColor>
#include <QFont>

// Dialog colours of every window of the program: grey background, black text. Set once on the
// application before the first window is built.
inline const QColor kDialogGrey(207, 207, 207);
void SetDialogColours();

// The colours of the calibration read-outs. Heading, pitch and roll are drawn in the colours
// the live plot draws them in (ReadingCharts.h).
inline const QColor kSampleYellow(255, 255, 0);
inline const QColor kCalibrationRed(134, 0, 0);
// The port list's entries whose device is there now, beside their bold face.
inline const QColor kPresentPortGreen(0, 100, 0);

// Arial, extra bold, whose character cell (ascent + descent) is `cellHeight` pixels: the
// platform sizes fonts by the cell, Qt by the em, so the em is scaled to the measured cell.
QFont ExtraBoldArial(int cellHeight);
