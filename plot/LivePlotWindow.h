#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <utility>

#include "ReadingHistory.h"
#include "Statistics.h"

QT_BEGIN_NAMESPACE
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;
QT_END_NAMESPACE
class ExportFile;
class ReadingCharts;

// The live plot: heading, pitch and roll of the last 10 s, 1 min or 10 min of the history as
// three charts, the statistics of the span on view beside them, a read-out of the reading under
// the mouse, and export of the span on view as CSV or PNG into the folder `exportFolder` names.
// It draws only while it is shown; paused, it shows a copy of the history taken at the pause
// while new readings keep arriving in the history itself.
class LivePlotWindow : public QWidget {
    Q_OBJECT
public:
    LivePlotWindow(ReadingHistory& history, std::function<QString()> exportFolder,
                   QWidget* parent = nullptr);
    ~LivePlotWindow() override;

    // The spans offered, in seconds, and the one chosen.
    static constexpr std::array<int, 3> kSpans = {10, 60, 600};
    void SetSpanSeconds(int seconds);
    int SpanSeconds() const;

    void SetPaused(bool paused);
    bool IsPaused() const { return m_paused; }
    void Clear();

    // What is on view after the last refresh: its readings [first, last) of Source(), the
    // moment at its right edge (steady clock) and their statistics.
    const ReadingHistory& Source() const { return m_paused ? m_frozen : m_history; }
    std::pair<std::size_t, std::size_t> ViewReadings() const { return {m_first, m_last}; }
    std::int64_t ViewEndNs() const { return m_viewEndNs; }
    const SpanStatistics& Statistics() const { return m_stats; }
    int Refreshes() const { return m_refreshes; }

    ReadingCharts* Charts() const { return m_charts; }
    QString ReadOut() const;
    QString Message() const;

    // Write the span on view to a new file in the export folder, never replacing a file nor
    // following a link; the path written, or empty with Message() saying why nothing was (a
    // file that could not be written whole is removed).
    QString ExportCsv();
    QString ExportPng();

public slots:
    void Refresh();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ShowStatistics();
    void ShowHovered(double x);
    void RestartTimer();
    // A new export file in the export folder; false with the message shown when none.
    bool CreateExportFile(ExportFile& file, const QString& suffix);
    // Closes the file; false with the message shown (and the file removed) when it or any
    // write before (`written`) failed.
    bool FinishExportFile(ExportFile& file, bool written);

    ReadingHistory& m_history;
    ReadingHistory m_frozen;
    std::function<QString()> m_exportFolder;
    bool m_paused = false;
    std::int64_t m_viewEndNs = 0;
    std::size_t m_first = 0, m_last = 0;
    SpanStatistics m_stats;
    int m_refreshes = 0;

    ReadingCharts* m_charts = nullptr;
    QComboBox* m_span = nullptr;
    QPushButton* m_pause = nullptr;
    std::array<QCheckBox*, 3> m_autoscale{};
    std::array<QLabel*, 3> m_statLabels{};
    QLabel* m_summary = nullptr;
    QLabel* m_readOut = nullptr;
    QLabel* m_message = nullptr;
    QTimer* m_timer = nullptr;
};

// Shows the owner's live plot window of `history`, making it on first use: a top-level window
// of its own that the owner's modality does not block, and that lives as long as the owner
// (which keeps the history for as long).
LivePlotWindow* ShowLivePlot(QWidget* owner, ReadingHistory& history,
                             std::function<QString()> exportFolder);
