#include "PlotSink.h"

#include <QBuffer>
#include <QImage>

QByteArray ReducedPlot::Png(QSize size) const {
    // Encoded in memory, so that the file is written (and checked) like any other output.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!m_plot.Render(size).save(&buffer, "PNG"))
        return {};
    return bytes;
}
