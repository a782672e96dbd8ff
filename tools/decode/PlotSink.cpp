#include "PlotSink.h"

#include <QBuffer>
#include <QImage>

QByteArray CollectingPlot::Png(QSize size) const {
    // Encoded in memory, so that the file is written (and checked) like any other output.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!RenderPlot(m_samples, size).save(&buffer, "PNG"))
        return {};
    return bytes;
}
