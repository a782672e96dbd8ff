#include "Plot.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <array>
#include <cmath>

namespace {

// A step of 1, 2 or 5 times a power of ten giving about `ticks` intervals over `span`.
double NiceStep(double span, int ticks) {
    const double raw = span / std::max(ticks, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0, 10.0})
        if (raw <= factor * power)
            return factor * power;
    return 10.0 * power;
}

QString TickText(double value, double step) {
    const int decimals = step >= 1.0 ? 0 : int(std::ceil(-std::log10(step)));
    return QString::number(value, 'f', decimals);
}

}  // namespace

QImage RenderPlot(const std::vector<PlotSample>& samples, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font = painter.font();
    font.setPixelSize(std::clamp(size.height() / 45, 9, 16));
    painter.setFont(font);
    const QFontMetrics metrics(font);

    // Plot area: room for tick labels and axis titles on the left and below, legend right.
    const int legendWidth = metrics.horizontalAdvance(QStringLiteral("Heading")) + 50;
    const QPoint topLeft(
        metrics.horizontalAdvance(QStringLiteral("-0000.0")) + metrics.height() + 16,
        metrics.height() + 12);
    const QPoint bottomRight(size.width() - legendWidth - 10,
                             size.height() - 2 * metrics.height() - 16);
    const QRect plot(topLeft, bottomRight);
    if (plot.width() < 10 || plot.height() < 10)
        return image;  // too small for anything but the background

    // Value range over all three series, widened to whole ticks.
    double low = 0.0, high = 360.0;
    if (!samples.empty()) {
        low = high = samples.front().heading;
        for (const PlotSample& s : samples)
            for (double v : {s.pitch, s.roll, s.heading}) {
                low = std::min(low, v);
                high = std::max(high, v);
            }
    }
    if (high - low < 1.0) {
        low -= 1.0;
        high += 1.0;
    }
    const double yStep = NiceStep(high - low, 8);
    low = std::floor(low / yStep) * yStep;
    high = std::ceil(high / yStep) * yStep;
    const int count = std::max<int>(int(samples.size()), 2);
    const double xSpan = count - 1;
    auto xAt = [&](double index) { return plot.left() + index / xSpan * plot.width(); };
    auto yAt = [&](double value) {
        return plot.bottom() - (value - low) / (high - low) * plot.height();
    };

    // Grid, ticks and tick labels.
    const QColor grid(225, 225, 225);
    const QColor ink(40, 40, 40);
    for (double v = low; v <= high + yStep / 2; v += yStep) {
        const int y = int(std::lround(yAt(v)));
        painter.setPen(grid);
        painter.drawLine(plot.left(), y, plot.right(), y);
        painter.setPen(ink);
        painter.drawLine(plot.left() - 5, y, plot.left(), y);
        const QRect label(0, y - metrics.height() / 2, plot.left() - 8, metrics.height());
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter, TickText(v, yStep));
    }
    const double xStep = std::max(1.0, NiceStep(xSpan, 10));
    for (double i = 0; i <= xSpan + 0.5; i += xStep) {
        const int x = int(std::lround(xAt(i)));
        painter.setPen(grid);
        painter.drawLine(x, plot.top(), x, plot.bottom());
        painter.setPen(ink);
        painter.drawLine(x, plot.bottom(), x, plot.bottom() + 5);
        const QRect label(x - 40, plot.bottom() + 7, 80, metrics.height());
        painter.drawText(label, Qt::AlignHCenter | Qt::AlignTop, TickText(i, xStep));
    }
    painter.setPen(ink);
    painter.drawRect(plot);

    // Axis titles with units.
    painter.drawText(
        QRect(plot.left(), size.height() - metrics.height() - 6, plot.width(), metrics.height()),
        Qt::AlignHCenter, QStringLiteral("frame index"));
    painter.save();
    painter.translate(4, plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRect(-plot.height() / 2, 0, plot.height(), metrics.height()),
                     Qt::AlignHCenter, QStringLiteral("angle (degrees)"));
    painter.restore();
    painter.drawText(QRect(plot.left(), 4, plot.width(), metrics.height()), Qt::AlignHCenter,
                     QStringLiteral("Heading, pitch and roll"));

    // The series, without antialiasing so that every drawn pixel has the series' colour.
    struct Series {
        QString name;
        QColor colour;
        double PlotSample::*member;
    };
    const std::array<Series, 3> series{
        {{QStringLiteral("Heading"), kHeadingColour, &PlotSample::heading},
         {QStringLiteral("Pitch"), kPitchColour, &PlotSample::pitch},
         {QStringLiteral("Roll"), kRollColour, &PlotSample::roll}}};
    painter.setClipRect(plot.adjusted(1, 1, -1, -1));
    for (const Series& s : series) {
        painter.setPen(QPen(s.colour, 2));
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const QPointF here(xAt(double(i)), yAt(samples[i].*s.member));
            if (samples.size() == 1)
                painter.drawPoint(here);
            else if (i > 0)
                painter.drawLine(QPointF(xAt(double(i - 1)), yAt(samples[i - 1].*s.member)), here);
        }
    }
    painter.setClipping(false);

    // Legend beside the plot area.
    int y = plot.top() + 4;
    for (const Series& s : series) {
        const int x = plot.right() + 14;
        painter.fillRect(QRect(x, y + metrics.height() / 2 - 2, 24, 4), s.colour);
        painter.setPen(ink);
        painter.drawText(QPoint(x + 30, y + metrics.ascent()), s.name);
        y += metrics.height() + 6;
    }
    return image;
}
