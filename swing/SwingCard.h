#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

#include "DeviationFit.h"
#include "SwingReport.h"
#include "TiltCheck.h"

QT_BEGIN_NAMESPACE
class QChart;
class QPainter;
class QRectF;
QT_END_NAMESPACE

// The charts of the swing window and the deviation card it exports, on Qt Charts and QPainter.

// The stops' deviations against the compass heading (points) and the fitted curve (line), over
// 0 to 360 degrees; fills `chart`, replacing what it showed.
void ShowDeviation(QChart* chart, const std::vector<TakenStop>& stops, const DeviationFit* fit);

// Heading change against tilt, at most `maxPoints` of the samples (evenly picked).
void ShowTiltChanges(QChart* chart, const std::vector<TiltSample>& samples, double tolerance,
                     std::size_t maxPoints = 3000);

struct CardContent {
    QString when;  // local date and time of the swing
    std::vector<TakenStop> stops;
    DeviationFit fit;
    std::vector<CardEntry> card;
    SwingVerdict verdict;
    double tolerance = 1.0;
};

// The card on an A4 page (portrait, 210 x 297 units of a millimetre each): title, convention,
// the card's lines, the coefficients, the verdict, the stops and the chart.
void PaintCard(QPainter& painter, const CardContent& content);
// The card as a PDF document (Qt's own writer) and as a PNG picture, in memory.
QByteArray CardPdf(const CardContent& content);
QByteArray CardPng(const CardContent& content);
