#include "Plot.h"

#include <QApplication>
#include <algorithm>

namespace {

// A reading a column at first; the columns widen as readings come.
constexpr double kFirstColumnWidth = 1.0;

}  // namespace

ReadingPlot::ReadingPlot(int columns)
    : m_heading(static_cast<std::size_t>(std::max(columns, 1)), 0.0, kFirstColumnWidth, 360.0,
                ColumnReducer::Extent::Growing),
      m_pitch(static_cast<std::size_t>(std::max(columns, 1)), 0.0, kFirstColumnWidth, 0.0,
              ColumnReducer::Extent::Growing),
      m_roll(static_cast<std::size_t>(std::max(columns, 1)), 0.0, kFirstColumnWidth, 0.0,
             ColumnReducer::Extent::Growing) {}

void ReadingPlot::Add(double pitch, double roll, double heading) {
    const auto x = static_cast<double>(m_count++);
    m_heading.Add(x, heading);
    m_pitch.Add(x, pitch);
    m_roll.Add(x, roll);
}

QImage ReadingPlot::Render(QSize size) const {
    ReadingCharts charts;
    charts.resize(size);
    charts.SetXAxis(0.0, std::max(1.0, static_cast<double>(m_count) - 1.0),
                    QStringLiteral("reading index"));
    // Heading over its whole circle; pitch and roll over the range they used.
    charts.SetAutoscale(Quantity::Pitch, true);
    charts.SetAutoscale(Quantity::Roll, true);
    charts.SetSeries(Quantity::Heading, m_heading.Result());
    charts.SetSeries(Quantity::Pitch, m_pitch.Result());
    charts.SetSeries(Quantity::Roll, m_roll.Result());
    // Laid out as a window would be, without making one (a platform window draws warnings
    // from platforms without windows): grabbing a hidden widget sends it its resize events,
    // and the charts then lay themselves out from posted events.
    charts.Render();
    for (int round = 0; round < 3; ++round)
        QApplication::processEvents();
    return charts.Render();
}
