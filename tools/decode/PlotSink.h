#pragma once

#include <QByteArray>
#include <QSize>
#include <vector>

#include "Plot.h"

// Where the decoded readings go for the plot: one reading at a time, in file order.
class ReadingSink {
public:
    virtual ~ReadingSink() = default;
    virtual void Add(const PlotSample& reading) = 0;
};

// Keeps every reading and draws them all at the end, so its memory grows with the readings;
// a bounded, reduced series can take its place behind ReadingSink.
class CollectingPlot final : public ReadingSink {
public:
    void Add(const PlotSample& reading) override { m_samples.push_back(reading); }
    bool Empty() const { return m_samples.empty(); }
    // The plot as PNG bytes; empty when it cannot be encoded. Needs a QGuiApplication.
    QByteArray Png(QSize size) const;

private:
    std::vector<PlotSample> m_samples;
};
