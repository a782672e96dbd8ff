#pragma once

#include <QByteArray>
#include <QSize>
#include <cstddef>

#include "Plot.h"

// Takes the decoded readings for the plot one at a time, in file order, and keeps them reduced to
// about two points a pixel column as they come (every column's least and greatest value), so its
// memory does not grow with the readings; draws them with the live plot's charts at the end.
class ReducedPlot {
public:
    explicit ReducedPlot(int columns) : m_plot(columns) {}
    void Add(const PlotSample& reading) {
        m_plot.Add(reading.pitch, reading.roll, reading.heading);
    }
    bool Empty() const { return m_plot.Count() == 0; }
    // The plot as PNG bytes; empty when it cannot be encoded. Needs a QApplication.
    QByteArray Png(QSize size) const;

private:
    ReadingPlot m_plot;
};
