#include "ReadingCharts.h"

#include <QChart>
#include <QChartView>
#include <QEvent>
#include <QFontMetrics>
#include <QGraphicsLineItem>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPen>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kMargin = 4;  // around each chart, before the alignment adds to it

struct FixedRange {
    double low, high, step;
};

FixedRange WholeRange(Quantity quantity) {
    switch (quantity) {
        case Quantity::Heading:
            return {0.0, 360.0, 90.0};
        case Quantity::Pitch:
            return {-90.0, 90.0, 30.0};
        case Quantity::Roll:
            break;
    }
    return {-180.0, 180.0, 90.0};
}

// A step of 1, 2 or 5 times a power of ten giving about `ticks` intervals over `span`.
double NiceStep(double span, int ticks) {
    const double raw = span / std::max(ticks, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double factor : {1.0, 2.0, 5.0})
        if (raw <= factor * power)
            return factor * power;
    return 10.0 * power;
}

QString LabelFormat(double step) {
    const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    return QStringLiteral("%.%1f").arg(decimals);
}

// Ticks every `step` from a multiple of it. A range that is a whole number of steps gets fixed
// ticks, which label both ends (dynamic ticks leave the upper end unlabelled).
void SetTicks(QValueAxis* axis, double low, double high, double step) {
    axis->setRange(low, high);
    const double steps = (high - low) / step;
    if (std::abs(steps - std::round(steps)) < 1e-6 &&
        std::abs(low / step - std::round(low / step)) < 1e-6) {
        axis->setTickType(QValueAxis::TicksFixed);
        axis->setTickCount(static_cast<int>(std::lround(steps)) + 1);
    } else {
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setTickAnchor(0.0);
        axis->setTickInterval(step);
    }
    axis->setLabelFormat(LabelFormat(step));
}

}  // namespace

QString QuantityName(Quantity quantity) {
    switch (quantity) {
        case Quantity::Heading:
            return QStringLiteral("Heading");
        case Quantity::Pitch:
            return QStringLiteral("Pitch");
        case Quantity::Roll:
            break;
    }
    return QStringLiteral("Roll");
}

QColor QuantityColour(Quantity quantity) {
    switch (quantity) {
        case Quantity::Heading:
            return kHeadingColour;
        case Quantity::Pitch:
            return kPitchColour;
        case Quantity::Roll:
            break;
    }
    return kRollColour;
}

ReadingCharts::ReadingCharts(QWidget* parent) : QWidget(parent), m_cursorX(kNaN) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const Quantity quantity : kQuantities) {
        Pane& pane = PaneOf(quantity);
        pane.chart = new QChart();
        pane.chart->legend()->hide();
        pane.chart->setMargins(QMargins(kMargin, kMargin, kMargin, kMargin));
        pane.chart->setBackgroundRoundness(0);
        pane.series = new QLineSeries(pane.chart);
        pane.series->setPen(QPen(QuantityColour(quantity), 2));
        pane.chart->addSeries(pane.series);
        pane.x = new QValueAxis(pane.chart);
        pane.y = new QValueAxis(pane.chart);
        pane.chart->addAxis(pane.x, Qt::AlignBottom);
        pane.chart->addAxis(pane.y, Qt::AlignLeft);
        pane.series->attachAxis(pane.x);
        pane.series->attachAxis(pane.y);
        pane.y->setTitleText(QuantityName(quantity) + QStringLiteral(" (°)"));
        const bool bottom = quantity == kQuantities.back();
        pane.x->setLabelsVisible(bottom);
        pane.cursor = new QGraphicsLineItem(pane.chart);
        pane.cursor->setPen(QPen(QColor(90, 90, 90), 1, Qt::DashLine));
        pane.cursor->setZValue(10);
        pane.cursor->hide();
        pane.view = new QChartView(pane.chart, this);
        const auto index = static_cast<std::size_t>(quantity);
        connect(pane.chart, &QChart::plotAreaChanged, this,
                [this, index] { AlignPlotAreas(index); });
        // No antialiasing: every pixel of a line has the series' colour, and it costs less.
        pane.view->setRenderHint(QPainter::Antialiasing, false);
        pane.view->setFrameShape(QFrame::NoFrame);
        pane.view->setMinimumHeight(120);
        pane.view->viewport()->setMouseTracking(true);
        pane.view->viewport()->installEventFilter(this);
        layout->addWidget(pane.view, 1);
        ApplyYRange(quantity);
    }
    SetXAxis(0.0, 1.0, QString());
}

void ReadingCharts::SetXAxis(double from, double to, const QString& title) {
    if (!(to > from))
        to = from + 1.0;
    m_xFrom = from;
    m_xTo = to;
    const double step = NiceStep(to - from, 8);
    for (Pane& pane : m_panes) {
        SetTicks(pane.x, from, to, step);
        pane.x->setTitleText(title);
        pane.x->setTitleVisible(pane.x->labelsVisible());
    }
}

void ReadingCharts::SetSeries(Quantity quantity, const ReducedSeries& series) {
    Pane& pane = PaneOf(quantity);
    pane.data = series;
    pane.hasData = !series.points.empty();
    if (pane.hasData) {
        const auto [low, high] =
            std::minmax_element(series.points.begin(), series.points.end(),
                                [](const PlotPoint& a, const PlotPoint& b) { return a.y < b.y; });
        pane.dataMin = low->y;
        pane.dataMax = high->y;
    }
    ApplyYRange(quantity);
    Redraw(quantity);
}

void ReadingCharts::SetAutoscale(Quantity quantity, bool on) {
    PaneOf(quantity).autoscale = on;
    ApplyYRange(quantity);
    Redraw(quantity);
}

bool ReadingCharts::Autoscale(Quantity quantity) const {
    return PaneOf(quantity).autoscale;
}

std::pair<double, double> ReadingCharts::YRange(Quantity quantity) const {
    const Pane& pane = PaneOf(quantity);
    return {pane.y->min(), pane.y->max()};
}

// Each chart lays itself out around its own axis labels; wider labels on one chart would shift
// its plot area. The margins take up the difference, so that the plot areas share their left
// and right edges and a moment sits at the same x in all three charts. A chart lays itself out
// later than its margins are set, so each one's own edges are taken from its last layout,
// with the margins that layout used.
void ReadingCharts::AlignPlotAreas(std::size_t laidOut) {
    Pane& changed = m_panes[laidOut];
    const QRectF area = changed.chart->plotArea();
    const QMargins margins = changed.chart->margins();
    changed.naturalLeft = area.left() - (margins.left() - kMargin);
    changed.naturalRight = area.right() + (margins.right() - kMargin);
    changed.laidOut = area.width() > 0.0;
    double left = 0.0, right = std::numeric_limits<double>::max();
    for (const Pane& pane : m_panes) {
        if (!pane.laidOut)
            return;
        left = std::max(left, pane.naturalLeft);
        right = std::min(right, pane.naturalRight);
    }
    for (Pane& pane : m_panes) {
        const QMargins wanted(
            kMargin + static_cast<int>(std::lround(left - pane.naturalLeft)), kMargin,
            kMargin + static_cast<int>(std::lround(pane.naturalRight - right)), kMargin);
        if (wanted != pane.chart->margins())
            pane.chart->setMargins(wanted);
    }
}

int ReadingCharts::PlotWidth() const {
    return std::max(1, static_cast<int>(m_panes[0].chart->plotArea().width()));
}

void ReadingCharts::ApplyYRange(Quantity quantity) {
    Pane& pane = PaneOf(quantity);
    if (!pane.autoscale || !pane.hasData) {
        const FixedRange whole = WholeRange(quantity);
        SetTicks(pane.y, whole.low, whole.high, whole.step);
        return;
    }
    // The values on view with a little room, widened to whole ticks; a level line gets a
    // range of a tenth of a degree around it.
    double low = pane.dataMin, high = pane.dataMax;
    if (high - low < 0.1) {
        const double middle = (low + high) / 2.0;
        low = middle - 0.05;
        high = middle + 0.05;
    }
    const double room = (high - low) * 0.05;
    low -= room;
    high += room;
    const double step = NiceStep(high - low, 5);
    SetTicks(pane.y, std::floor(low / step) * step, std::ceil(high / step) * step, step);
}

void ReadingCharts::Redraw(Quantity quantity) {
    Pane& pane = PaneOf(quantity);
    // Qt Charts draws one unbroken line a series. At a break the line leaves through the edge
    // it reached and goes round outside the plot area, where the chart clips it, to come back
    // through the other edge: what shows is a line ending at one edge and one starting at the
    // other, never a stroke across the chart.
    const double yLow = pane.y->min(), yHigh = pane.y->max();
    const double outside = 10.0 * (yHigh - yLow);
    const double xFar = m_xTo + (m_xTo - m_xFrom) + 1.0;
    const double middle = (yLow + yHigh) / 2.0;
    QList<QPointF> points;
    points.reserve(
        static_cast<qsizetype>(pane.data.points.size() + 4 * pane.data.runStarts.size()));
    std::size_t nextBreak = 0;
    for (std::size_t i = 0; i < pane.data.points.size(); ++i) {
        const PlotPoint& p = pane.data.points[i];
        if (nextBreak < pane.data.runStarts.size() && pane.data.runStarts[nextBreak] == i) {
            ++nextBreak;
            if (!points.isEmpty()) {
                const QPointF from = points.back();
                const double outFrom = from.y() > middle ? yHigh + outside : yLow - outside;
                const double outTo = p.y > middle ? yHigh + outside : yLow - outside;
                points.append(QPointF(from.x(), outFrom));
                points.append(QPointF(xFar, outFrom));
                points.append(QPointF(xFar, outTo));
                points.append(QPointF(p.x, outTo));
            }
        }
        points.append(QPointF(p.x, p.y));
    }
    pane.series->replace(points);
    PlaceCursor(pane);
}

QList<QPointF> ReadingCharts::DrawnPoints(Quantity quantity) const {
    return PaneOf(quantity).series->points();
}

void ReadingCharts::SetCursor(double x) {
    m_cursorX = x;
    for (Pane& pane : m_panes)
        PlaceCursor(pane);
}

void ReadingCharts::PlaceCursor(Pane& pane) {
    if (std::isnan(m_cursorX) || m_cursorX < m_xFrom || m_cursorX > m_xTo) {
        pane.cursor->hide();
        return;
    }
    const QRectF area = pane.chart->plotArea();
    const double x = pane.chart->mapToPosition(QPointF(m_cursorX, pane.y->min()), pane.series).x();
    pane.cursor->setLine(x, area.top(), x, area.bottom());
    pane.cursor->show();
}

bool ReadingCharts::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::MouseMove && event->type() != QEvent::Leave)
        return false;
    for (Pane& pane : m_panes) {
        if (watched != pane.view->viewport())
            continue;
        double x = kNaN;
        if (event->type() == QEvent::MouseMove) {
            const QPointF at =
                pane.view->mapToScene(static_cast<QMouseEvent*>(event)->position().toPoint());
            const QPointF inChart = pane.chart->mapFromScene(at);
            if (pane.chart->plotArea().contains(inChart))
                x = pane.chart->mapToValue(inChart, pane.series).x();
        }
        emit Hovered(x);
    }
    return false;
}

QImage ReadingCharts::Render() {
    return grab().toImage();
}
