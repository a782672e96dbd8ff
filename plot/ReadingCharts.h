#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <array>
#include <utility>

#include "ColumnReducer.h"

QT_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QGraphicsLineItem;
class QLineSeries;
class QValueAxis;
QT_END_NAMESPACE

// The quantities in the order their charts are stacked.
enum class Quantity { Heading = 0, Pitch = 1, Roll = 2 };
constexpr std::array<Quantity, 3> kQuantities = {Quantity::Heading, Quantity::Pitch,
                                                 Quantity::Roll};

// The colours of heading, pitch and roll, in the console's three displays and in every plot.
inline const QColor kHeadingColour{114, 191, 68};
inline const QColor kPitchColour{0, 173, 239};
inline const QColor kRollColour{255, 0, 0};

QString QuantityName(Quantity quantity);  // "Heading", "Pitch", "Roll"
QColor QuantityColour(Quantity quantity);

// Heading (0-360), pitch and roll as three stacked charts over one shared x axis, drawn with
// Qt Charts. The plot areas line up, so a moment sits at the same x in all three. Without
// autoscale a chart shows the quantity's whole range (heading 0 to 360, pitch -90 to 90, roll
// -180 to 180); with it, the range of its values on view.
class ReadingCharts : public QWidget {
    Q_OBJECT
public:
    explicit ReadingCharts(QWidget* parent = nullptr);

    // Sets the x axis; call before SetSeries, whose breaks are routed outside this range.
    void SetXAxis(double from, double to, const QString& title);
    void SetSeries(Quantity quantity, const ReducedSeries& series);
    void SetAutoscale(Quantity quantity, bool on);
    bool Autoscale(Quantity quantity) const;
    std::pair<double, double> YRange(Quantity quantity) const;
    // Width of the plot areas in pixels: the column count a reduction should use.
    int PlotWidth() const;
    // A vertical line at x across the three charts; NaN hides it.
    void SetCursor(double x);
    // The points the heading, pitch or roll line is drawn through (for tests).
    QList<QPointF> DrawnPoints(Quantity quantity) const;
    QImage Render();

signals:
    // The x under the mouse in a plot area, NaN when the mouse left them.
    void Hovered(double x);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Pane {
        QChartView* view = nullptr;
        QChart* chart = nullptr;
        QLineSeries* series = nullptr;
        QValueAxis* x = nullptr;
        QValueAxis* y = nullptr;
        QGraphicsLineItem* cursor = nullptr;
        bool autoscale = false;
        bool hasData = false;
        double dataMin = 0.0, dataMax = 0.0;
        ReducedSeries data;
        // The plot area's edges as the chart's own labels leave them, without alignment.
        bool laidOut = false;
        double naturalLeft = 0.0, naturalRight = 0.0;
    };
    Pane& PaneOf(Quantity quantity) { return m_panes[static_cast<std::size_t>(quantity)]; }
    const Pane& PaneOf(Quantity quantity) const {
        return m_panes[static_cast<std::size_t>(quantity)];
    }
    void ApplyYRange(Quantity quantity);
    void Redraw(Quantity quantity);
    void PlaceCursor(Pane& pane);
    void AlignPlotAreas(std::size_t laidOut);

    std::array<Pane, 3> m_panes;
    double m_xFrom = 0.0, m_xTo = 1.0;
    double m_cursorX;
};
