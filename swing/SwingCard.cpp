#include "SwingCard.h"

#include <QBuffer>
#include <QChart>
#include <QGraphicsScene>
#include <QImage>
#include <QLineSeries>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace {

// The card is painted in tenths of a millimetre on an A4 page.
constexpr double kPageWidth = 2100.0;
constexpr double kPageHeight = 2970.0;
constexpr double kPngDotsPerUnit = 0.6;  // about 150 dpi

double Mm(double millimetres) {
    return millimetres * 10.0;
}
const QColor kStopColour(0, 120, 200);
const QColor kCurveColour(200, 60, 30);

QString Signed(double value, int decimals = 2) {
    return QString::fromStdString(DeviationText(value, decimals));
}

QString Heading(double value) {
    return QString::fromStdString(FixedText(value, 1)).rightJustified(5, QLatin1Char('0'));
}

void ClearChart(QChart* chart) {
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes()) {
        chart->removeAxis(axis);
        axis->deleteLater();  // the chart's child still; gone once this event is over
    }
}

QValueAxis* Axis(QChart* chart, Qt::Alignment side, double low, double high, const QString& title) {
    auto* axis = new QValueAxis(chart);
    axis->setRange(low, high);
    axis->setTitleText(title);
    chart->addAxis(axis, side);
    return axis;
}

// A symmetric range about zero that holds every value with a margin, in whole degrees.
double Reach(double largest) {
    return std::max(1.0, std::ceil(largest * 1.2 + 0.2));
}

}  // namespace

void ShowDeviation(QChart* chart, const std::vector<TakenStop>& stops, const DeviationFit* fit) {
    ClearChart(chart);
    chart->legend()->setVisible(true);
    chart->legend()->setAlignment(Qt::AlignBottom);
    double largest = 0.0;
    auto* points = new QScatterSeries(chart);
    points->setName(QStringLiteral("stops taken"));
    points->setColor(kStopColour);
    points->setBorderColor(kStopColour);
    points->setMarkerSize(9.0);
    for (std::size_t i = 0; i < stops.size(); ++i) {
        const double deviation = fit && i < fit->deviations.size()
                                     ? fit->deviations[i]
                                     : DeviationOf(stops[i].reference, stops[i].compass);
        points->append(stops[i].compass, deviation);
        largest = std::max(largest, std::fabs(deviation));
    }
    auto* curve = new QLineSeries(chart);
    if (fit) {
        curve->setName(
            QStringLiteral("fit (%1)").arg(QString::fromStdString(TermsName(fit->terms))));
        for (int d = 0; d <= 360; d += 2) {
            const double value = fit->coefficients.At(d);
            curve->append(d, value);
            largest = std::max(largest, std::fabs(value));
        }
    } else {
        curve->setName(QStringLiteral("no fit yet"));
    }
    curve->setPen(QPen(kCurveColour, 2));
    chart->addSeries(curve);
    chart->addSeries(points);
    QValueAxis* x = Axis(chart, Qt::AlignBottom, 0, 360, QStringLiteral("compass heading (°)"));
    x->setTickCount(9);
    x->setLabelFormat(QStringLiteral("%03.0f"));
    const double reach = Reach(largest);
    QValueAxis* y =
        Axis(chart, Qt::AlignLeft, -reach, reach, QStringLiteral("deviation (°), east +"));
    y->setLabelFormat(QStringLiteral("%+.1f"));
    for (QAbstractSeries* series :
         {static_cast<QAbstractSeries*>(curve), static_cast<QAbstractSeries*>(points)}) {
        series->attachAxis(x);
        series->attachAxis(y);
    }
}

void ShowTiltChanges(QChart* chart, const std::vector<TiltSample>& samples, double tolerance,
                     std::size_t maxPoints) {
    ClearChart(chart);
    chart->legend()->setVisible(false);
    auto* points = new QScatterSeries(chart);
    points->setColor(kStopColour);
    points->setBorderColor(kStopColour);
    points->setMarkerSize(4.0);
    double largestTilt = 10.0, largest = tolerance;
    const std::size_t every =
        std::max<std::size_t>(1, (samples.size() + maxPoints - 1) / maxPoints);
    for (std::size_t i = 0; i < samples.size(); i += every) {
        points->append(samples[i].tilt, samples[i].change);
        largestTilt = std::max(largestTilt, samples[i].tilt);
        largest = std::max(largest, std::fabs(samples[i].change));
    }
    const double tiltEnd = std::ceil(largestTilt / 10.0) * 10.0;
    auto* upper = new QLineSeries(chart);
    auto* lower = new QLineSeries(chart);
    for (QLineSeries* line : {upper, lower}) {
        const double y = line == upper ? tolerance : -tolerance;
        line->append(0, y);
        line->append(tiltEnd, y);
        line->setPen(QPen(kCurveColour, 1, Qt::DashLine));
        chart->addSeries(line);
    }
    chart->addSeries(points);
    QValueAxis* x = Axis(chart, Qt::AlignBottom, 0, tiltEnd, QStringLiteral("tilt (°)"));
    x->setTickCount(static_cast<int>(tiltEnd / 10.0) + 1);
    x->setLabelFormat(QStringLiteral("%.0f"));
    const double reach = Reach(largest);
    QValueAxis* y = Axis(chart, Qt::AlignLeft, -reach, reach, QStringLiteral("heading change (°)"));
    y->setLabelFormat(QStringLiteral("%+.1f"));
    for (QAbstractSeries* series : chart->series()) {
        series->attachAxis(x);
        series->attachAxis(y);
    }
}

void PaintCard(QPainter& painter, const CardContent& c) {
    painter.save();
    painter.fillRect(QRectF(0, 0, kPageWidth, kPageHeight), Qt::white);
    painter.setPen(Qt::black);
    const double left = Mm(15), right = kPageWidth - Mm(15);
    auto font = [&](double points, bool bold = false) {
        QFont f(QStringLiteral("Liberation Sans"));
        f.setPixelSize(static_cast<int>(std::lround(points * 3.528)));  // points in 0.1 mm
        f.setBold(bold);
        painter.setFont(f);
    };
    auto text = [&](double x, double y, double w, const QString& s, int flags = Qt::AlignLeft) {
        painter.drawText(QRectF(x, y, w, Mm(6)), flags | Qt::AlignVCenter, s);
    };

    font(16, true);
    text(left, Mm(12), right - left, QStringLiteral("Compass deviation card"));
    font(8.5);
    text(left, Mm(19), right - left,
         QStringLiteral("Swing of %1: %2 stops, terms %3 fitted")
             .arg(c.when)
             .arg(c.stops.size())
             .arg(QString::fromStdString(TermsName(c.fit.terms))));
    text(left, Mm(24), right - left,
         QStringLiteral("Deviation = magnetic (reference) − compass, east positive: add it to the "
                        "compass heading to get the magnetic heading."));

    // The card: its lines in two columns.
    font(9, true);
    const double top = Mm(33), row = Mm(6.2), column = Mm(28), gap = Mm(6);
    for (int half = 0; half < 2; ++half) {
        const double x = left + half * (3 * column + gap);
        text(x, top, column, QStringLiteral("Compass"), Qt::AlignRight);
        text(x + column, top, column, QStringLiteral("Deviation"), Qt::AlignRight);
        text(x + 2 * column, top, column, QStringLiteral("Magnetic"), Qt::AlignRight);
    }
    painter.drawLine(QPointF(left, top + Mm(6.5)), QPointF(left + 6 * column + gap, top + Mm(6.5)));
    font(9);
    const std::size_t perColumn = (c.card.size() + 1) / 2;
    for (std::size_t i = 0; i < c.card.size(); ++i) {
        const int half = i < perColumn ? 0 : 1;
        const double x = left + half * (3 * column + gap);
        const double y = top + Mm(7.5) + static_cast<double>(i % perColumn) * row;
        const CardEntry& e = c.card[i];
        if (i % 2 == 0)
            painter.fillRect(QRectF(x, y, 3 * column, row), QColor(236, 240, 246));
        text(x, y, column, Heading(e.compass).left(3) + QStringLiteral("°"), Qt::AlignRight);
        text(x + column, y, column, Signed(e.deviation, 1), Qt::AlignRight);
        text(x + 2 * column, y, column, Heading(e.magnetic) + QStringLiteral("°"), Qt::AlignRight);
    }
    double y = top + Mm(8) + static_cast<double>(perColumn) * row + Mm(4);

    // Coefficients, residuals and verdict.
    font(9.5, true);
    static constexpr char kNames[] = "ABCDE";
    QStringList terms;
    for (std::size_t t = 0; t < 5; ++t)
        terms << QStringLiteral("%1 %2").arg(
            QString(QLatin1Char(kNames[t])),
            static_cast<int>(t) < c.fit.terms
                ? QString::fromStdString(FixedText(c.fit.coefficients.terms[t]))
                : QStringLiteral("–"));
    text(left, y, right - left,
         QStringLiteral("Coefficients (°):   ") + terms.join(QStringLiteral("    ")));
    y += Mm(6.5);
    font(9);
    const int worstStop =
        c.fit.largestResidualStop < c.stops.size() ? c.stops[c.fit.largestResidualStop].number : 0;
    text(left, y, right - left,
         QStringLiteral("Residuals: RMS %1°, largest %2° (stop %3)")
             .arg(QString::fromStdString(FixedText(c.fit.rms)),
                  QString::fromStdString(FixedText(c.fit.largestResidual)))
             .arg(worstStop));
    y += Mm(6.5);
    font(10, true);
    painter.setPen(c.verdict.pass ? QColor(0, 120, 40) : QColor(180, 20, 20));
    text(left, y, right - left,
         QStringLiteral("%1 against ±%2°: largest deviation %3 at compass %4°")
             .arg(c.verdict.pass ? QStringLiteral("PASS") : QStringLiteral("FAIL"),
                  QString::fromStdString(FixedText(c.tolerance, 1)),
                  Signed(c.verdict.largestDeviation), Heading(c.verdict.atCompass)));
    painter.setPen(Qt::black);
    y += Mm(9);

    // The chart, laid out at a screen-like size and drawn scaled into the rest of the page.
    QChart chart;
    chart.setBackgroundRoundness(0);
    chart.setMargins(QMargins(2, 2, 2, 2));
    ShowDeviation(&chart, c.stops, &c.fit);
    const QRectF target(left, y, right - left, kPageHeight - Mm(12) - y);
    const QSizeF logical(640.0, 640.0 * target.height() / target.width());
    QGraphicsScene scene;
    scene.addItem(&chart);
    chart.setGeometry(QRectF(QPointF(0, 0), logical));
    scene.setSceneRect(QRectF(QPointF(0, 0), logical));
    scene.render(&painter, target, scene.sceneRect());
    scene.removeItem(&chart);
    painter.restore();
}

QByteArray CardPdf(const CardContent& content) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setResolution(300);
        pdf.setTitle(QStringLiteral("Compass deviation card"));
        pdf.setCreator(QStringLiteral("TORVA"));
        QPainter painter(&pdf);
        painter.scale(pdf.width() / kPageWidth, pdf.height() / kPageHeight);
        PaintCard(painter, content);
    }
    return bytes;
}

QByteArray CardPng(const CardContent& content) {
    QImage image(static_cast<int>(kPageWidth * kPngDotsPerUnit),
                 static_cast<int>(kPageHeight * kPngDotsPerUnit), QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.scale(kPngDotsPerUnit, kPngDotsPerUnit);
        PaintCard(painter, content);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}
