#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "DeviationFit.h"
#include "Dwell.h"
#include "SwingReport.h"
#include "TiltCheck.h"

QT_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTabWidget;
QT_END_NAMESPACE

// The compass swing: a schedule of reference headings, the live heading held over a dwell, the
// stops taken (by hand or automatically once the heading has been steady for the dwell), the
// five deviation coefficients fitted over them, the deviation card and its verdict, a chart,
// and export of the swing as CSV and of the card as PDF and PNG into the folder `exportFolder`
// names. A second tab checks the heading while the module is tilted. Readings come in through
// addReading, one call per reading.
class SwingWindow : public QWidget {
    Q_OBJECT
public:
    explicit SwingWindow(std::function<QString()> exportFolder, QWidget* parent = nullptr);
    ~SwingWindow() override;

    // One stop of the schedule: its scheduled reference, the reference in use (typed by the
    // operator, or the scheduled one) and what was taken there.
    struct Slot {
        double scheduled = 0.0;
        double reference = 0.0;
        bool typed = false;
        std::optional<TakenStop> taken;
    };

    // 4, 8, 12 or 24 evenly spaced stops from 000. Refused while stops are taken.
    bool SetScheduleCount(int count);
    // A typed list of references ("0, 90, 180, 270"): false with Message() saying why not.
    bool SetTypedSchedule(const QString& list);
    const std::vector<Slot>& Slots() const { return m_slots; }
    int SelectedSlot() const;
    void SelectSlot(int index);
    // Types a reference for the selected stop, as the operator would into the Reference field
    // followed by Enter: false (and a message) when the text is not a heading.
    bool SetReference(const QString& text);
    // Takes the selected stop now, from the dwell as it stands; false when there is nothing
    // to take.
    bool Take();
    void Discard();
    void NewSwing();
    void SetAutomaticTake(bool on);

    void SetDwellSeconds(double seconds);
    void SetSteadyLimit(double degrees);
    void SetTolerance(double degrees);

    DwellState Dwell() const { return m_dwell; }
    std::vector<TakenStop> Taken() const;
    const std::optional<DeviationFit>& Fit() const { return m_fit; }
    QString FitText() const;
    QString VerdictText() const;
    QString Message() const;

    // The swing as CSV, and the card as PDF and PNG, in new files in the export folder: the
    // paths written, or empty with Message() saying why nothing was.
    QString ExportCsv();
    QStringList ExportCard();

    // Tilt check.
    void StartTilt();
    void StopTilt();
    bool TiltRunning() const { return m_tiltRunning; }
    const std::optional<TiltResult>& Tilt() const { return m_tilt; }
    std::optional<double> TiltReference() const { return m_tiltReference; }
    QString TiltText() const;

    QTabWidget* Tabs() const { return m_tabs; }

public slots:
    void addReading(qint64 steadyNs, double pitch, double roll, double heading);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildSchedule(const std::vector<double>& references);
    void Evaluate(std::int64_t ns);
    void TakeSlot(int index, bool automatic);
    void Refit();
    void ShowLive();
    void ShowStops();
    void ShowResult();
    void ShowTitle();
    void UpdateControls();
    void ShowReferenceOfSelected();
    void AnalyseTiltNow();
    void Say(const QString& text);
    double Capture() const;

    std::function<QString()> m_exportFolder;
    std::vector<Slot> m_slots;
    DwellMonitor m_monitor;
    DwellState m_dwell;
    double m_lastHeading = 0.0;
    bool m_hasReading = false;
    std::int64_t m_lastEvaluationNs = 0;
    std::optional<DeviationFit> m_fit;
    QString m_fitError;
    double m_tolerance = 1.0;
    bool m_automatic = true;
    bool m_exported = true;
    bool m_confirmingNew = false;

    struct TiltReading {
        double tilt, heading;
    };
    std::vector<TiltReading> m_tiltReadings;
    bool m_tiltRunning = false;
    std::optional<double> m_tiltReference;
    std::optional<TiltResult> m_tilt;
    std::int64_t m_lastTiltNs = 0;
    double m_tiltTolerance = 1.0;

    QComboBox* m_schedule = nullptr;
    QLineEdit* m_typedList = nullptr;
    QDoubleSpinBox* m_dwellSpin = nullptr;
    QDoubleSpinBox* m_steadySpin = nullptr;
    QDoubleSpinBox* m_toleranceSpin = nullptr;
    QCheckBox* m_automaticBox = nullptr;
    QLabel* m_liveHeading = nullptr;
    QLabel* m_liveStats = nullptr;
    QLabel* m_steadyMark = nullptr;
    QTabWidget* m_tabs = nullptr;
    QTableWidget* m_stops = nullptr;
    QLineEdit* m_reference = nullptr;
    QPushButton* m_take = nullptr;
    QPushButton* m_discard = nullptr;
    QPushButton* m_newSwing = nullptr;
    QLabel* m_result = nullptr;
    QLabel* m_verdict = nullptr;
    QTableWidget* m_card = nullptr;
    QChartView* m_chart = nullptr;
    QPushButton* m_exportCsv = nullptr;
    QPushButton* m_exportCard = nullptr;
    QPushButton* m_tiltButton = nullptr;
    QDoubleSpinBox* m_tiltToleranceSpin = nullptr;
    QLabel* m_tiltSummary = nullptr;
    QTableWidget* m_tiltBands = nullptr;
    QChartView* m_tiltChart = nullptr;
    QLabel* m_message = nullptr;
};

// Shows the owner's swing window, making it on first use: a top-level window of its own that
// the owner's modality does not block, and that lives as long as the owner.
SwingWindow* ShowSwingWindow(QWidget* owner, std::function<QString()> exportFolder);
