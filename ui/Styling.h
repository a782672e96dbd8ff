#pragma once

#include <QColor>
#include <QFont>

// Dialog colours of every window of the program: grey background, black text. Set once on the
// application before the first window is built.
inline const QColor kDialogGrey(207, 207, 207);
void SetDialogColours();

// The display colours of the main window.
inline const QColor kRollRed(255, 0, 0);
inline const QColor kPitchBlue(0, 173, 239);
inline const QColor kHeadingGreen(114, 191, 68);
inline const QColor kSampleYellow(255, 255, 0);
inline const QColor kCalibrationRed(134, 0, 0);

// Arial, extra bold, whose character cell (ascent + descent) is `cellHeight` pixels: the
// platform sizes fonts by the cell, Qt by the em, so the em is scaled to the measured cell.
QFont ExtraBoldArial(int cellHeight);
