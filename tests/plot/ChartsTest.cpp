// The charts draw a heading that wraps at 0/360 as a break, never as a stroke across the chart.
#include <gtest/gtest.h>

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QImage>
#include <cmath>
#include <cstdlib>

#include "ColumnReducer.h"
#include "ReadingCharts.h"

namespace {

bool NearColour(const QColor& c, const QColor& want) {
    return std::abs(c.red() - want.red()) <= 70 && std::abs(c.green() - want.green()) <= 70 &&
           std::abs(c.blue() - want.blue()) <= 70;
}

TEST(ReadingCharts, HeadingWrapsAreDrawnAsBreaksReachingBothEdges) {
    ReadingCharts charts;
    charts.resize(900, 600);
    charts.show();
    QApplication::processEvents();

    // Heading turning 36 degrees a second for 30 s: wraps at 10 s and 20 s.
    const int columns = charts.PlotWidth();
    ColumnReducer reducer(std::size_t(columns), -30.0, 30.0 / columns, 360.0);
    for (int i = 0; i < 3000; ++i) {
        const double t = -30.0 + i * 0.01;
        reducer.Add(t, std::fmod(36.0 * (t + 30.0) + 1e-9, 360.0));
    }
    const ReducedSeries series = reducer.Result();
    ASSERT_EQ(series.runStarts.size(), 2u);
    charts.SetXAxis(-30.0, 0.0, QStringLiteral("time (s)"));
    charts.SetSeries(Quantity::Heading, series);
    QApplication::processEvents();
    const QImage image = charts.Render();

    // The heading chart's plot area within the image.
    QChartView* view = charts.findChildren<QChartView*>().front();
    QChart* chart = view->chart();
    auto toImage = [&](double x, double y) {
        const QPointF inChart = chart->mapToPosition(QPointF(x, y), chart->series().front());
        return view->mapTo(&charts, view->mapFromScene(chart->mapToScene(inChart)));
    };
    const QPoint top = toImage(-20.0, 360.0), bottom = toImage(-20.0, 0.0);
    ASSERT_GT(bottom.y() - top.y(), 50);
    for (const double wrap : {-20.0, -10.0}) {
        SCOPED_TRACE(wrap);
        const int x = toImage(wrap, 0.0).x();
        int nearTop = 0, nearBottom = 0, across = 0;
        for (int dx = -2; dx <= 2; ++dx) {
            for (int y = top.y(); y <= bottom.y(); ++y) {
                if (!NearColour(image.pixelColor(x + dx, y), kHeadingColour))
                    continue;
                const double share = double(y - top.y()) / (bottom.y() - top.y());
                if (share < 0.1)
                    ++nearTop;
                else if (share > 0.9)
                    ++nearBottom;
                else
                    ++across;
            }
        }
        EXPECT_GT(nearTop, 0) << "the line does not reach 360 before the wrap";
        EXPECT_GT(nearBottom, 0) << "the line does not start from 0 after the wrap";
        EXPECT_EQ(across, 0) << "a stroke across the chart at the wrap";
    }
}

}  // namespace
