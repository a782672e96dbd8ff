#include "ColumnReducer.h"

#include <algorithm>
#include <cmath>

namespace {

bool JumpIsWrap(double from, double to, double period) {
    return period > 0.0 && std::abs(to - from) > period / 2.0;
}

}  // namespace

ColumnReducer::ColumnReducer(std::size_t columns, double x0, double width, double wrapPeriod,
                             Extent extent)
    : m_count(std::max<std::size_t>(columns, 1)),
      m_x0(x0),
      m_width(width > 0.0 ? width : 1.0),
      m_wrapPeriod(wrapPeriod),
      m_extent(extent),
      m_columns(m_count) {}

bool ColumnReducer::IsWrap(double from, double to) const {
    return JumpIsWrap(from, to, m_wrapPeriod);
}

ColumnReducer::Run ColumnReducer::Merge(const Run& a, const Run& b) {
    Run r;
    r.first = a.first;
    r.last = b.last;
    r.min = b.min.y < a.min.y ? b.min : a.min;
    r.max = b.max.y > a.max.y ? b.max : a.max;
    return r;
}

void ColumnReducer::Column::Append(const Run& run) {
    if (count == 3) {
        runs[1] = Merge(runs[1], runs[2]);
        runs[2] = run;
        return;
    }
    runs[count++] = run;
}

ColumnReducer::Column ColumnReducer::MergeColumns(const Column& a, const Column& b,
                                                  double wrapPeriod) {
    if (a.count == 0)
        return b;
    Column out = a;
    for (std::uint8_t i = 0; i < b.count; ++i) {
        Run& tail = out.runs[out.count - 1];
        if (i == 0 && !JumpIsWrap(tail.last.y, b.runs[0].first.y, wrapPeriod))
            tail = Merge(tail, b.runs[0]);
        else
            out.Append(b.runs[i]);
    }
    return out;
}

void ColumnReducer::Grow() {
    for (std::size_t i = 0; i < m_count; ++i) {
        const std::size_t a = 2 * i, b = 2 * i + 1;
        Column merged;
        if (a < m_count)
            merged =
                b < m_count ? MergeColumns(m_columns[a], m_columns[b], m_wrapPeriod) : m_columns[a];
        m_columns[i] = merged;
    }
    m_width *= 2.0;
}

void ColumnReducer::Add(double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y))
        return;
    double position = std::floor((x - m_x0) / m_width);
    if (m_extent == Extent::Growing) {
        while (position >= static_cast<double>(m_count)) {
            Grow();
            position = std::floor((x - m_x0) / m_width);
        }
    }
    const auto index =
        static_cast<std::size_t>(std::clamp(position, 0.0, static_cast<double>(m_count - 1)));
    Column& column = m_columns[index];
    const PlotPoint p{x, y};
    if (column.count > 0) {
        Run& tail = column.runs[column.count - 1];
        if (!IsWrap(tail.last.y, y)) {
            tail.last = p;
            if (y < tail.min.y)
                tail.min = p;
            if (y > tail.max.y)
                tail.max = p;
            return;
        }
    }
    column.Append(Run{p, p, p, p});
}

ReducedSeries ColumnReducer::Result() const {
    ReducedSeries out;
    auto emit = [&out](const PlotPoint& p) {
        if (out.points.empty() || !(out.points.back() == p))
            out.points.push_back(p);
    };
    // The line leaves through one edge where the straight line between the two readings would
    // cross it, and comes back through the other.
    auto wrap = [&](const PlotPoint& from, const PlotPoint& to) {
        const double period = m_wrapPeriod;
        const bool upwards = to.y < from.y;  // e.g. 359 -> 1 passes 360
        const double edge = upwards ? period : 0.0;
        const double target = to.y + (upwards ? period : -period);
        const double share = target != from.y ? (edge - from.y) / (target - from.y) : 0.0;
        const double xc = from.x + std::clamp(share, 0.0, 1.0) * (to.x - from.x);
        emit(from);
        emit(PlotPoint{xc, edge});
        out.runStarts.push_back(out.points.size());
        out.points.push_back(PlotPoint{xc, upwards ? 0.0 : period});
        out.points.push_back(to);
    };
    const Run* previous = nullptr;
    for (const Column& column : m_columns) {
        for (std::uint8_t i = 0; i < column.count; ++i) {
            const Run& run = column.runs[i];
            if (previous && IsWrap(previous->last.y, run.first.y))
                wrap(previous->last, run.first);
            const bool minFirst = run.min.x <= run.max.x;
            emit(minFirst ? run.min : run.max);
            emit(minFirst ? run.max : run.min);
            previous = &run;
        }
    }
    return out;
}
