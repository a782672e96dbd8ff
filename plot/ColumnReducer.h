#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

struct PlotPoint {
    double x = 0.0;
    double y = 0.0;
    friend bool operator==(const PlotPoint&, const PlotPoint&) = default;
};

// A series thinned for drawing, in x order. `runStarts` holds the indexes at which a new run
// begins: the line is not drawn from the point before it (a heading wrapping at 0/360). A run
// that ends or begins at a wrap has a point on the edge it crosses (360 or 0), where a straight
// line between the two readings would cross it.
struct ReducedSeries {
    std::vector<PlotPoint> points;
    std::vector<std::size_t> runStarts;
};

// Thins a series of (x, y) to at most two points a column: the least and the greatest value of
// every column in the order they came, so every extreme survives however many values a column
// holds. Values of a wrapping quantity (`wrapPeriod` > 0, e.g. heading in [0, 360)) that jump by
// more than half the period are a wrap, not a change: the line breaks there, and the values on
// either side of a wrap keep their extremes apart.
//
// Columns are `width` wide from `x0`. A fixed reducer clamps x into its columns; a growing one
// (for a series of unknown length) doubles its column width whenever an x lies beyond the last
// column, merging neighbouring columns, so its memory stays bounded by the column count.
class ColumnReducer {
public:
    enum class Extent { Fixed, Growing };

    ColumnReducer(std::size_t columns, double x0, double width, double wrapPeriod = 0.0,
                  Extent extent = Extent::Fixed);

    // x must not decrease from one call to the next.
    void Add(double x, double y);
    ReducedSeries Result() const;
    double ColumnWidth() const { return m_width; }

private:
    // Consecutive values with no wrap between them, within one column.
    struct Run {
        PlotPoint first, last, min, max;
    };
    // Up to three runs a column: before the first wrap, everything between the first and the
    // last wrap merged, after the last wrap.
    struct Column {
        std::array<Run, 3> runs;
        std::uint8_t count = 0;
        void Append(const Run& run);
    };
    static Run Merge(const Run& a, const Run& b);
    static Column MergeColumns(const Column& a, const Column& b, double wrapPeriod);
    bool IsWrap(double from, double to) const;
    void Grow();

    std::size_t m_count;
    double m_x0;
    double m_width;
    double m_wrapPeriod;
    Extent m_extent;
    std::vector<Column> m_columns;
};
