#pragma once

#include <QImage>
#include <QSize>
#include <cstddef>
#include <vector>

#include "ColumnReducer.h"
#include "ReadingCharts.h"  // the colours kHeadingColour, kPitchColour, kRollColour

// Heading, pitch and roll against the reading's index, drawn with the live plot's charts.

// The least height the three charts fit in (120 pixels each): asked for less, the image would
// come out taller than asked.
constexpr int kMinPlotHeight = 360;

struct PlotSample {
    double pitch = 0, roll = 0, heading = 0;
};

// Takes readings one at a time and keeps them reduced to a fixed number of columns, so its
// memory does not grow with the number of readings.
class ReadingPlot {
public:
    explicit ReadingPlot(int columns);
    void Add(double pitch, double roll, double heading);
    std::size_t Count() const { return m_count; }
    // Needs a QApplication.
    QImage Render(QSize size) const;

private:
    ColumnReducer m_heading, m_pitch, m_roll;
    std::size_t m_count = 0;
};
