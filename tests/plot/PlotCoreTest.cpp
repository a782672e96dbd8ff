// The live plot's history, statistics and column reduction, without a window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "ColumnReducer.h"
#include "ReadingHistory.h"
#include "Statistics.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t kSecond = 1'000'000'000;

void ExpectStats(const QuantityStats& s, std::size_t count, double mean, double stddev, double min,
                 double max, double peakToPeak) {
    EXPECT_EQ(s.count, count);
    auto same = [](double got, double want) {
        return std::isnan(want) ? std::isnan(got) : std::abs(got - want) < 1e-4;
    };
    EXPECT_PRED2(same, s.mean, mean);
    EXPECT_PRED2(same, s.stddev, stddev);
    EXPECT_PRED2(same, s.min, min);
    EXPECT_PRED2(same, s.max, max);
    EXPECT_PRED2(same, s.peakToPeak, peakToPeak);
}

TEST(Statistics, KnownAnswersForPlainAndCircularValues) {
    struct Case {
        const char* name;
        bool circular;
        std::vector<double> values;
        double mean, stddev, min, max, peakToPeak;
    };
    const std::vector<Case> cases = {
        {"plain", false, {1, 2, 3, 4}, 2.5, std::sqrt(5.0 / 3.0), 1, 4, 3},
        {"plain, one value", false, {-12.34}, -12.34, 0, -12.34, -12.34, 0},
        {"plain, none", false, {}, kNaN, kNaN, kNaN, kNaN, kNaN},
        {"across north", true, {359.9, 0.1}, 0.0, std::sqrt(0.02), 359.9, 0.1, 0.2},
        {"across north, wider", true, {350, 10, 355, 5}, 0.0, std::sqrt(250.0 / 3), 350, 10, 20},
        {"away from north", true, {270, 280, 290}, 280, 10, 270, 290, 20},
        {"around south", true, {179, 181}, 180, std::sqrt(2.0), 179, 181, 2},
        {"one heading", true, {359.99}, 359.99, 0, 359.99, 359.99, 0},
        {"opposite headings have no mean", true, {0, 180}, kNaN, kNaN, 0, 180, 180},
        {"evenly around", true, {0, 90, 180, 270}, kNaN, kNaN, 0, 270, 270},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QuantityStats s =
            c.circular ? CircularStatistics(c.values) : LinearStatistics(c.values);
        ExpectStats(s, c.values.size(), c.mean, c.stddev, c.min, c.max, c.peakToPeak);
    }
}

TEST(Statistics, SpanOfTheHistoryGivesEachQuantityAndTheRate) {
    // Two seconds at 10 readings/s: pitch rises, roll is level, heading swings across north.
    ReadingHistory history;
    for (int i = 0; i <= 20; ++i)
        history.Append(5 * kSecond + i * kSecond / 10, i * 0.5, -3.25, i % 2 ? 359.5 : 0.5);
    SpanStatistics s = ComputeStatistics(history, 0, history.size());
    EXPECT_EQ(s.count, 21u);
    EXPECT_NEAR(s.rate, 10.0, 1e-9);
    ExpectStats(s.pitch, 21, 5.0, std::sqrt(0.25 * 21 * 22 / 12.0), 0, 10, 10);
    ExpectStats(s.roll, 21, -3.25, 0, -3.25, -3.25, 0);
    EXPECT_NEAR(s.heading.min, 359.5, 1e-4);
    EXPECT_NEAR(s.heading.max, 0.5, 1e-4);
    EXPECT_NEAR(s.heading.peakToPeak, 1.0, 1e-4);
    EXPECT_LT(std::min(s.heading.mean, 360.0 - s.heading.mean), 0.05);

    // A sub-range; one reading has no rate.
    const auto [first, last] = history.Range(5 * kSecond + kSecond, 5 * kSecond + kSecond);
    s = ComputeStatistics(history, first, last);
    EXPECT_EQ(s.count, 1u);
    EXPECT_EQ(s.rate, 0.0);
    ExpectStats(s.pitch, 1, 5.0, 0, 5.0, 5.0, 0);
}

TEST(ReadingHistory, KeepsTenMinutesAtMostCapacityReadingsAndSortedTimes) {
    // Ten minutes at the full line rate fit; older readings go as new ones come.
    ReadingHistory history;
    const int rate = 823;
    std::int64_t t = 0;
    for (int i = 0; i < rate * 660; ++i, t = std::int64_t(i) * kSecond / rate)
        history.Append(t, 1.0, 2.0, 3.0);
    EXPECT_EQ(history.TotalAppended(), std::uint64_t(rate) * 660);
    EXPECT_NEAR(double(history.size()), 600.0 * rate, 2.0);
    EXPECT_GE(history[0].ns, history.back().ns - ReadingHistory::kKeepNs);

    // The sample cap holds whatever the rate.
    ReadingHistory capped(5);
    for (int i = 0; i < 8; ++i)
        capped.Append(i, i, 0, 0);
    ASSERT_EQ(capped.size(), 5u);
    EXPECT_EQ(capped[0].pitch, 3.0f);
    EXPECT_EQ(capped.TotalAppended(), 8u);
    capped.SetCapacity(2);
    EXPECT_EQ(capped.size(), 2u);
    EXPECT_EQ(capped[0].pitch, 6.0f);

    // A reading exactly ten minutes older than the newest stays; one a nanosecond older goes.
    ReadingHistory edge;
    edge.Append(-1, 0, 0, 0);
    edge.Append(0, 1, 0, 0);
    edge.Append(ReadingHistory::kKeepNs, 2, 0, 0);
    ASSERT_EQ(edge.size(), 2u);
    EXPECT_EQ(edge[0].pitch, 1.0f);

    // A time from the past is taken as the newest, so ranges stay sorted.
    edge.Append(5, 3, 0, 0);
    EXPECT_EQ(edge.back().ns, ReadingHistory::kKeepNs);
    EXPECT_EQ(edge.Range(1, ReadingHistory::kKeepNs), (std::pair<std::size_t, std::size_t>{1, 3}));

    // Capacity zero keeps nothing (the history switched off); Clear empties it.
    ReadingHistory off(0);
    off.Append(1, 1, 1, 1);
    EXPECT_TRUE(off.empty());
    history.Clear();
    EXPECT_TRUE(history.empty());
}

// The reduction of a series into columns keeps, in every column, the least and the greatest
// value with their x, and adds nothing else but points on the edges at wraps.
TEST(ColumnReducer, KeepsEveryColumnsExtremesAndBreaksAtWraps) {
    std::mt19937 random(7);
    std::normal_distribution<double> step(0.0, 1.0);
    struct Case {
        const char* name;
        double period;
        ColumnReducer::Extent extent;
    };
    for (const Case c : {Case{"fixed", 0.0, ColumnReducer::Extent::Fixed},
                         Case{"growing", 0.0, ColumnReducer::Extent::Growing},
                         Case{"heading", 360.0, ColumnReducer::Extent::Fixed}}) {
        SCOPED_TRACE(c.name);
        const std::size_t columns = 150, n = columns * 512;
        // A growing reducer starts with one x a column and doubles until all fit.
        const double width = c.extent == ColumnReducer::Extent::Growing ? 1.0 : double(n) / columns;
        ColumnReducer reducer(columns, 0.0, width, c.period, c.extent);
        std::vector<PlotPoint> input;
        double y = 180.0;
        int wraps = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double x = double(i);
            // Heading turns steadily (a wrap every 15000 readings) with a little noise.
            y = c.period > 0 ? std::fmod(i * 0.024 + 0.002 * step(random) + 360.0, 360.0)
                             : y + step(random);
            if (!input.empty() && c.period > 0 && std::abs(y - input.back().y) > 180)
                ++wraps;
            input.push_back({x, y});
            reducer.Add(x, y);
        }
        const ReducedSeries out = reducer.Result();
        const double w = reducer.ColumnWidth();
        EXPECT_EQ(w, double(n) / columns) << "the growing reducer doubled to fit";
        EXPECT_LE(out.points.size(), 2 * columns + 4 * std::size_t(wraps));

        // Each column's extremes, per run between wraps, are among the points drawn.
        std::size_t from = 0;
        while (from < n) {
            std::size_t to = from;
            const auto column = std::size_t(input[from].x / w);
            while (to < n && std::size_t(input[to].x / w) == column &&
                   (to == from || std::abs(input[to].y - input[to - 1].y) < 180))
                ++to;
            const auto [low, high] = std::minmax_element(
                input.begin() + long(from), input.begin() + long(to),
                [](const PlotPoint& a, const PlotPoint& b) { return a.y < b.y; });
            EXPECT_NE(std::find(out.points.begin(), out.points.end(), *low), out.points.end())
                << "column " << column;
            EXPECT_NE(std::find(out.points.begin(), out.points.end(), *high), out.points.end())
                << "column " << column;
            from = to;
        }

        // The line never jumps across a wrap: it ends on one edge and restarts on the other.
        ASSERT_EQ(out.runStarts.size(), std::size_t(wraps));
        std::size_t run = 0;
        for (std::size_t i = 1; i < out.points.size(); ++i) {
            EXPECT_LE(out.points[i - 1].x, out.points[i].x);
            if (run < out.runStarts.size() && out.runStarts[run] == i) {
                EXPECT_EQ(out.points[i - 1].y, 360.0);
                EXPECT_EQ(out.points[i].y, 0.0);
                EXPECT_EQ(out.points[i - 1].x, out.points[i].x);
                ++run;
            } else if (c.period > 0) {
                EXPECT_LT(std::abs(out.points[i].y - out.points[i - 1].y), 180.0);
            }
        }
    }
}

}  // namespace
