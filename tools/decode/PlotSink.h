#pragma once

#include <QByteArray>
#include <QSize>
#include <cstddef>

#include "Plot.h"

// Where the decoded readings go for the plot: one reading at a time, in file order.
class ReadingSink {
public:
    virtual ~ReadingSink() = default;
    virtual void Add(const PlotSample& reading) = 0;
};

// Keeps the readings reduced to about two points a pixel column as they come (every column's
// least and greatest value), so its memory does not grow with the readings, and draws them
// with the live plot's charts at the end.
class ReducedPlot final : public ReadingSink {
public:
    explicit ReducedPlot(int columns) : m_plot(columns) {}
    void Add(const PlotSample& reading) override {
        m_plot.Add(reading.pitch, reading.roll, reading.heading);
    }
    bool Empty() const { return m_plot.Count() == 0; }
    // The plot as PNG bytes; empty when it cannot be encoded. Needs a QApplication.
    QByteArray Png(QSize size) const;

private:
    ReadingPlot m_plot;
};
