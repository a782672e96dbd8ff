#include "LivePlotWindow.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <string_view>
#include <tuple>

#include "ColumnReducer.h"
#include "ExportFile.h"
#include "ReadingCharts.h"
#include "ReadingsCsv.h"

namespace {

// Redraw about once every two pixel columns of time, at most ten times and at least once a
// second: on the 10-minute span a redraw scans the whole history for the statistics.
constexpr int kFastestRefreshMs = 100;
constexpr int kSlowestRefreshMs = 1000;

QString SpanText(int seconds) {
    return seconds < 60 ? QStringLiteral("%1 s").arg(seconds)
                        : QStringLiteral("%1 min").arg(seconds / 60);
}

QString Degrees(double value) {
    if (std::isnan(value))
        return QStringLiteral("–");
    return QString::fromStdString(DegreesText(value)) + QStringLiteral("°");
}

QString StatisticsText(const QuantityStats& s) {
    const QString rows[] = {
        QStringLiteral("n    %1").arg(s.count),
        QStringLiteral("mean %1").arg(Degrees(s.mean), 9),
        QStringLiteral("std  %1").arg(Degrees(s.stddev), 9),
        QStringLiteral("min  %1").arg(Degrees(s.min), 9),
        QStringLiteral("max  %1").arg(Degrees(s.max), 9),
        QStringLiteral("p-p  %1").arg(Degrees(s.peakToPeak), 9),
    };
    QStringList lines;
    for (const QString& row : rows)
        lines << row;
    return lines.join(QLatin1Char('\n'));
}

const QuantityStats& StatsOf(const SpanStatistics& s, Quantity quantity) {
    switch (quantity) {
        case Quantity::Heading:
            return s.heading;
        case Quantity::Pitch:
            return s.pitch;
        case Quantity::Roll:
            break;
    }
    return s.roll;
}

const QString kHoverHint = QStringLiteral("Point at a chart to read the time and values there.");

}  // namespace

LivePlotWindow::LivePlotWindow(ReadingHistory& history, std::function<QString()> exportFolder,
                               QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_history(history),
      m_frozen(history.Capacity()),
      m_exportFolder(std::move(exportFolder)) {
    setWindowTitle(QStringLiteral("TORVA - Live plot"));
    setObjectName(QStringLiteral("livePlot"));

    m_span = new QComboBox(this);
    m_span->setObjectName(QStringLiteral("span"));
    for (const int seconds : kSpans)
        m_span->addItem(SpanText(seconds), seconds);
    m_span->setCurrentIndex(1);
    m_pause = new QPushButton(QStringLiteral("Pause"), this);
    m_pause->setObjectName(QStringLiteral("pause"));
    auto* clear = new QPushButton(QStringLiteral("Clear"), this);
    clear->setObjectName(QStringLiteral("clear"));
    auto* exportCsv = new QPushButton(QStringLiteral("Export CSV"), this);
    exportCsv->setObjectName(QStringLiteral("exportCsv"));
    auto* exportPng = new QPushButton(QStringLiteral("Export PNG"), this);
    exportPng->setObjectName(QStringLiteral("exportPng"));
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summary"));

    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(QStringLiteral("Span"), this));
    controls->addWidget(m_span);
    controls->addWidget(m_pause);
    controls->addWidget(clear);
    controls->addSpacing(16);
    controls->addWidget(exportCsv);
    controls->addWidget(exportPng);
    controls->addSpacing(16);
    controls->addWidget(m_summary, 1);

    m_charts = new ReadingCharts(this);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    auto* side = new QVBoxLayout;
    for (const Quantity quantity : kQuantities) {
        const auto i = static_cast<std::size_t>(quantity);
        auto* box =
            new QGroupBox(quantity == Quantity::Heading ? QStringLiteral("Heading (circular)")
                                                        : QuantityName(quantity),
                          this);
        auto* boxLayout = new QVBoxLayout(box);
        m_autoscale[i] = new QCheckBox(QStringLiteral("Autoscale"), box);
        m_autoscale[i]->setObjectName(QuantityName(quantity).toLower() + QStringLiteral("Auto"));
        m_statLabels[i] = new QLabel(box);
        m_statLabels[i]->setObjectName(QuantityName(quantity).toLower() + QStringLiteral("Stats"));
        m_statLabels[i]->setFont(fixed);
        m_statLabels[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        QPalette palette = m_statLabels[i]->palette();
        palette.setColor(QPalette::WindowText, QuantityColour(quantity).darker(130));
        m_statLabels[i]->setPalette(palette);
        boxLayout->addWidget(m_autoscale[i]);
        boxLayout->addWidget(m_statLabels[i]);
        boxLayout->addStretch(1);
        side->addWidget(box, 1);
        connect(m_autoscale[i], &QCheckBox::toggled, this,
                [this, quantity](bool on) { m_charts->SetAutoscale(quantity, on); });
    }
    auto* middle = new QHBoxLayout;
    middle->addWidget(m_charts, 1);
    middle->addLayout(side);

    m_readOut = new QLabel(kHoverHint, this);
    m_readOut->setObjectName(QStringLiteral("readOut"));
    m_readOut->setFont(fixed);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_message->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addLayout(middle, 1);
    layout->addWidget(m_readOut);
    layout->addWidget(m_message);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &LivePlotWindow::Refresh);
    connect(m_span, &QComboBox::currentIndexChanged, this, [this] {
        RestartTimer();
        Refresh();
    });
    connect(m_pause, &QPushButton::clicked, this, [this] { SetPaused(!m_paused); });
    connect(clear, &QPushButton::clicked, this, &LivePlotWindow::Clear);
    connect(exportCsv, &QPushButton::clicked, this, &LivePlotWindow::ExportCsv);
    connect(exportPng, &QPushButton::clicked, this, &LivePlotWindow::ExportPng);
    connect(m_charts, &ReadingCharts::Hovered, this, &LivePlotWindow::ShowHovered);

    resize(1100, 760);
    setMinimumSize(720, 520);
}

LivePlotWindow::~LivePlotWindow() = default;

void LivePlotWindow::SetSpanSeconds(int seconds) {
    const int index = m_span->findData(seconds);
    if (index >= 0)
        m_span->setCurrentIndex(index);
}

int LivePlotWindow::SpanSeconds() const {
    return m_span->currentData().toInt();
}

void LivePlotWindow::SetPaused(bool paused) {
    if (paused == m_paused)
        return;
    m_paused = paused;
    m_pause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    if (paused) {
        // A copy, so that what is on view stays whole however long the pause lasts.
        m_frozen = m_history;
        m_viewEndNs = SteadyNowNs();
    } else {
        m_frozen.Clear();
    }
    RestartTimer();
    Refresh();
}

void LivePlotWindow::Clear() {
    m_history.Clear();
    m_frozen.Clear();
    Refresh();
}

void LivePlotWindow::RestartTimer() {
    m_timer->stop();
    if (m_paused || !isVisible())
        return;
    const double twoColumnsMs = 2000.0 * SpanSeconds() / std::max(1, m_charts->PlotWidth());
    m_timer->start(
        std::clamp(static_cast<int>(twoColumnsMs), kFastestRefreshMs, kSlowestRefreshMs));
}

void LivePlotWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
    RestartTimer();
}

void LivePlotWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_timer->stop();  // nothing is drawn for a hidden window
}

void LivePlotWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void LivePlotWindow::Refresh() {
    const ReadingHistory& source = Source();
    if (!m_paused)
        m_viewEndNs = SteadyNowNs();
    const int span = SpanSeconds();
    const std::int64_t fromNs = m_viewEndNs - static_cast<std::int64_t>(span) * 1'000'000'000;
    std::tie(m_first, m_last) = source.Range(fromNs, m_viewEndNs);

    const auto columns = static_cast<std::size_t>(m_charts->PlotWidth());
    const double width = static_cast<double>(span) / static_cast<double>(columns);
    ColumnReducer heading(columns, -span, width, 360.0);
    ColumnReducer pitch(columns, -span, width);
    ColumnReducer roll(columns, -span, width);
    const auto end = source.begin() + static_cast<std::ptrdiff_t>(m_last);
    for (auto it = source.begin() + static_cast<std::ptrdiff_t>(m_first); it != end; ++it) {
        const double x = static_cast<double>(it->ns - m_viewEndNs) / 1e9;
        heading.Add(x, it->heading);
        pitch.Add(x, it->pitch);
        roll.Add(x, it->roll);
    }
    m_charts->SetXAxis(-span, 0.0,
                       m_paused ? QStringLiteral("time (s) before the pause")
                                : QStringLiteral("time (s) before now"));
    m_charts->SetSeries(Quantity::Heading, heading.Result());
    m_charts->SetSeries(Quantity::Pitch, pitch.Result());
    m_charts->SetSeries(Quantity::Roll, roll.Result());

    m_stats = ComputeStatistics(source, m_first, m_last);
    ShowStatistics();
    ++m_refreshes;
}

void LivePlotWindow::ShowStatistics() {
    for (const Quantity quantity : kQuantities)
        m_statLabels[static_cast<std::size_t>(quantity)]->setText(
            StatisticsText(StatsOf(m_stats, quantity)));
    QString summary = QStringLiteral("%1 readings on view, %2 readings/s")
                          .arg(QLocale::c().toString(static_cast<qulonglong>(m_stats.count)))
                          .arg(m_stats.rate, 0, 'f', 1);
    if (m_paused)
        summary += QStringLiteral(" (paused)");
    m_summary->setText(summary);
}

void LivePlotWindow::ShowHovered(double x) {
    const ReadingHistory& source = Source();
    if (std::isnan(x) || m_first >= m_last) {
        m_charts->SetCursor(std::nan(""));
        m_readOut->setText(kHoverHint);
        return;
    }
    // The reading on view nearest to the time under the mouse.
    const auto at = m_viewEndNs + static_cast<std::int64_t>(std::llround(x * 1e9));
    std::size_t i = std::clamp(source.Range(at, m_viewEndNs).first, m_first, m_last - 1);
    if (i > m_first && std::llabs(source[i - 1].ns - at) <= std::llabs(source[i].ns - at))
        --i;
    const StampedReading& r = source[i];
    const double seconds = static_cast<double>(r.ns - m_viewEndNs) / 1e9;
    const std::string wall = LocalTimeText(r.ns + WallClockOffsetNs());
    m_charts->SetCursor(seconds);
    m_readOut->setText(QStringLiteral("%1 s  %2   heading %3  pitch %4  roll %5")
                           .arg(seconds, 0, 'f', 3)
                           .arg(QString::fromStdString(wall.substr(wall.find(' ') + 1)))
                           .arg(Degrees(r.heading), Degrees(r.pitch), Degrees(r.roll)));
}

QString LivePlotWindow::ReadOut() const {
    return m_readOut->text();
}

QString LivePlotWindow::Message() const {
    return m_message->text();
}

bool LivePlotWindow::CreateExportFile(ExportFile& file, const QString& suffix) {
    const QString folder = m_exportFolder ? m_exportFolder() : QString();
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        m_message->setText(
            QStringLiteral("Cannot create the folder %1; nothing was exported.").arg(folder));
        return false;
    }
    const QString stem = QStringLiteral("Plot-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!file.Create(QFile::encodeName(folder).toStdString(), stem.toStdString(),
                     suffix.toStdString())) {
        m_message->setText(QStringLiteral("Cannot create %1 (%2); nothing was exported.")
                               .arg(QFile::decodeName(file.Path().c_str()),
                                    QString::fromLocal8Bit(file.Error().c_str())));
        return false;
    }
    return true;
}

bool LivePlotWindow::FinishExportFile(ExportFile& file, bool written) {
    if (file.Finish() && written)
        return true;
    m_message->setText(
        QStringLiteral("Cannot write %1 (%2); the incomplete file was removed and nothing was "
                       "exported.")
            .arg(QFile::decodeName(file.Path().c_str()),
                 QString::fromLocal8Bit(file.Error().c_str())));
    return false;
}

QString LivePlotWindow::ExportCsv() {
    ExportFile file;
    if (!CreateExportFile(file, QStringLiteral(".csv")))
        return QString();
    const bool written =
        WriteReadingsCsv([&file](std::string_view text) { return file.Write(text); }, Source(),
                         m_first, m_last, WallClockOffsetNs());
    if (!FinishExportFile(file, written))
        return QString();
    const QString path = QFile::decodeName(file.Path().c_str());
    m_message->setText(
        QStringLiteral("Exported %1 readings to %2").arg(m_last - m_first).arg(path));
    return path;
}

QString LivePlotWindow::ExportPng() {
    // Encoded whole before the file is made: what goes to the disk is then checked write by
    // write, which an image writer's own file handling does not do.
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !m_charts->Render().save(&buffer, "PNG")) {
        m_message->setText(
            QStringLiteral("Cannot encode the charts as PNG; nothing was exported."));
        return QString();
    }
    ExportFile file;
    if (!CreateExportFile(file, QStringLiteral(".png")))
        return QString();
    const bool written =
        file.Write(std::string_view(png.constData(), static_cast<std::size_t>(png.size())));
    if (!FinishExportFile(file, written))
        return QString();
    const QString path = QFile::decodeName(file.Path().c_str());
    m_message->setText(QStringLiteral("Saved the charts to %1").arg(path));
    return path;
}

LivePlotWindow* ShowLivePlot(QWidget* owner, ReadingHistory& history,
                             std::function<QString()> exportFolder) {
    auto* window = owner->findChild<LivePlotWindow*>(QString(), Qt::FindDirectChildrenOnly);
    if (!window)
        window = new LivePlotWindow(history, std::move(exportFolder), owner);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
