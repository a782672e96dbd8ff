#include "SwingWindow.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "Angles.h"
#include "DeclinationDialog.h"
#include "ExportFile.h"
#include "SwingCard.h"

namespace {

constexpr std::int64_t kEvaluateEveryNs = 100'000'000;  // the live figures, ten times a second
constexpr std::int64_t kTiltEveryNs = 500'000'000;      // the tilt analysis, twice a second
constexpr double kLevelDegrees = 2.0;                   // a reading this close to level is level
constexpr std::size_t kMaxTiltReadings = 200'000;
constexpr double kFarFromReference = 20.0;
constexpr double kRadians =
    std::numbers::pi / 180.0;  // a take this far off its reference is doubtful
const std::array<int, 4> kScheduleCounts = {4, 8, 12, 24};

QString Heading(double degrees) {
    return QString::fromStdString(FixedText(WrapHeading(degrees), 1))
        .rightJustified(5, QLatin1Char('0'));
}

QString Fixed(double value, int decimals = 2) {
    return QString::fromStdString(FixedText(value, decimals));
}

QString Signed(double value, int decimals = 2) {
    return QString::fromStdString(DeviationText(value, decimals));
}

QDoubleSpinBox* Spin(QWidget* parent, const char* name, double low, double high, double step,
                     double value, const QString& suffix) {
    auto* spin = new QDoubleSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(low, high);
    spin->setSingleStep(step);
    spin->setDecimals(1);
    spin->setValue(value);
    spin->setSuffix(suffix);
    spin->setKeyboardTracking(false);
    spin->setLocale(QLocale::c());
    return spin;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

QTableWidget* Table(QWidget* parent, const char* name, const QStringList& headers) {
    auto* table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->setVisible(false);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    return table;
}

void SetCell(QTableWidget* table, int row, int column, const QString& text) {
    QTableWidgetItem* item = table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        table->setItem(row, column, item);
    }
    if (item->text() != text)
        item->setText(text);
}

QChartView* ChartView(QWidget* parent, const char* name) {
    auto* chart = new QChart;
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(4, 4, 4, 4));
    auto* view = new QChartView(chart, parent);
    view->setObjectName(QString::fromLatin1(name));
    view->setMinimumSize(360, 240);
    return view;
}

}  // namespace

SwingWindow::SwingWindow(std::function<QString()> exportFolder, QWidget* parent)
    : QWidget(parent, Qt::Window), m_exportFolder(std::move(exportFolder)) {
    setObjectName(QStringLiteral("swing"));
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    // The schedule and the settings.
    m_schedule = new QComboBox(this);
    m_schedule->setObjectName(QStringLiteral("schedule"));
    for (const int count : kScheduleCounts)
        m_schedule->addItem(QStringLiteral("%1 stops").arg(count), count);
    m_schedule->addItem(QStringLiteral("typed list"), 0);
    m_schedule->setCurrentIndex(1);
    m_typedList = new QLineEdit(this);
    m_typedList->setObjectName(QStringLiteral("typedList"));
    m_typedList->setPlaceholderText(QStringLiteral("e.g. 0, 90, 180, 270"));
    m_typedList->setEnabled(false);
    m_dwellSpin = Spin(this, "dwell", 1.0, 120.0, 1.0, 5.0, QStringLiteral(" s"));
    m_steadySpin = Spin(this, "steady", 0.1, 10.0, 0.1, 0.5, QStringLiteral("°"));
    m_steadySpin->setPrefix(QStringLiteral("±"));
    m_toleranceSpin = Spin(this, "tolerance", 0.1, 30.0, 0.1, 1.0, QStringLiteral("°"));
    m_toleranceSpin->setPrefix(QStringLiteral("±"));
    m_automaticBox = new QCheckBox(QStringLiteral("&Automatic take"), this);
    m_automaticBox->setObjectName(QStringLiteral("automatic"));
    m_automaticBox->setChecked(true);
    m_automaticBox->setToolTip(
        QStringLiteral("Take a stop by itself once the heading has been steady for the dwell "
                       "near a reference not yet taken"));
    auto* settings = new QHBoxLayout;
    settings->addWidget(new QLabel(QStringLiteral("Schedule"), this));
    settings->addWidget(m_schedule);
    settings->addWidget(m_typedList, 1);
    settings->addSpacing(12);
    auto* dwellLabel = new QLabel(QStringLiteral("D&well"), this);
    dwellLabel->setBuddy(m_dwellSpin);
    settings->addWidget(dwellLabel);
    settings->addWidget(m_dwellSpin);
    settings->addWidget(new QLabel(QStringLiteral("Steady within"), this));
    settings->addWidget(m_steadySpin);
    settings->addWidget(new QLabel(QStringLiteral("Tolerance"), this));
    settings->addWidget(m_toleranceSpin);
    settings->addWidget(m_automaticBox);

    // The live heading over the dwell.
    m_liveHeading = new QLabel(QStringLiteral("---.--°"), this);
    m_liveHeading->setObjectName(QStringLiteral("liveHeading"));
    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 2.2);
    big.setBold(true);
    m_liveHeading->setFont(big);
    m_liveStats = new QLabel(this);
    m_liveStats->setObjectName(QStringLiteral("liveStats"));
    m_liveStats->setFont(fixed);
    m_steadyMark = new QLabel(this);
    m_steadyMark->setObjectName(QStringLiteral("steadyMark"));
    auto* live = new QHBoxLayout;
    live->addWidget(m_liveHeading);
    auto* liveRight = new QVBoxLayout;
    liveRight->addWidget(m_liveStats);
    liveRight->addWidget(m_steadyMark);
    live->addLayout(liveRight, 1);

    // The swing tab: stops, taking, result, card, chart and export.
    auto* swingTab = new QWidget(this);
    m_stops = Table(swingTab, "stops",
                    {QStringLiteral("Stop"), QStringLiteral("Reference"), QStringLiteral("Compass"),
                     QStringLiteral("Deviation"), QStringLiteral("Residual"),
                     QStringLiteral("Spread"), QStringLiteral("Steady")});
    m_reference = new QLineEdit(swingTab);
    m_reference->setObjectName(QStringLiteral("reference"));
    m_reference->setToolTip(QStringLiteral(
        "The selected stop's magnetic reference heading; type a sighted or GNSS reference and "
        "press Enter to use it instead of the schedule's"));
    m_take = Button(swingTab, "take", QStringLiteral("&Take"));
    m_discard = Button(swingTab, "discard", QStringLiteral("&Discard"));
    m_newSwing = Button(swingTab, "newSwing", QStringLiteral("&New swing"));
    auto* taking = new QHBoxLayout;
    taking->addWidget(new QLabel(QStringLiteral("Reference"), swingTab));
    taking->addWidget(m_reference);
    taking->addWidget(m_take);
    taking->addWidget(m_discard);
    taking->addStretch(1);
    taking->addWidget(m_newSwing);
    auto* convention = new QLabel(
        QStringLiteral("Deviation = magnetic (reference) − compass, east (E) positive: add it to "
                       "the compass heading to get the magnetic heading."),
        swingTab);
    convention->setWordWrap(true);
    m_result = new QLabel(swingTab);
    m_result->setObjectName(QStringLiteral("result"));
    m_result->setFont(fixed);
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_verdict = new QLabel(swingTab);
    m_verdict->setObjectName(QStringLiteral("verdict"));
    m_verdict->setWordWrap(true);
    QFont bold = font();
    bold.setBold(true);
    m_verdict->setFont(bold);
    m_card =
        Table(swingTab, "card",
              {QStringLiteral("Compass"), QStringLiteral("Deviation"), QStringLiteral("Magnetic"),
               QStringLiteral("Compass"), QStringLiteral("Deviation"), QStringLiteral("Magnetic")});
    m_card->setSelectionMode(QAbstractItemView::NoSelection);
    m_card->setFocusPolicy(Qt::NoFocus);
    m_card->setRowCount(12);
    m_chart = ChartView(swingTab, "deviationChart");
    m_exportCsv = Button(swingTab, "exportCsv", QStringLiteral("Export &CSV"));
    m_exportCard = Button(swingTab, "exportCard", QStringLiteral("Export card (&PDF, PNG)"));
    auto* exports = new QHBoxLayout;
    exports->addWidget(m_exportCsv);
    exports->addWidget(m_exportCard);
    exports->addStretch(1);

    auto* leftColumn = new QVBoxLayout;
    leftColumn->addWidget(m_stops, 3);
    leftColumn->addLayout(taking);
    leftColumn->addWidget(convention);
    leftColumn->addWidget(m_result);
    leftColumn->addWidget(m_verdict);
    auto* rightColumn = new QVBoxLayout;
    rightColumn->addWidget(m_chart, 3);
    rightColumn->addWidget(new QLabel(QStringLiteral("Deviation card (from the fit)"), swingTab));
    rightColumn->addWidget(m_card, 2);
    rightColumn->addLayout(exports);
    auto* swingLayout = new QHBoxLayout(swingTab);
    swingLayout->addLayout(leftColumn, 1);
    swingLayout->addLayout(rightColumn, 1);

    // The tilt tab.
    auto* tiltTab = new QWidget(this);
    m_tiltButton = Button(tiltTab, "tiltStart", QStringLiteral("&Start tilt check"));
    m_tiltToleranceSpin = Spin(tiltTab, "tiltTolerance", 0.1, 30.0, 0.1, 1.0, QStringLiteral("°"));
    m_tiltToleranceSpin->setPrefix(QStringLiteral("±"));
    auto* tiltControls = new QHBoxLayout;
    tiltControls->addWidget(m_tiltButton);
    tiltControls->addWidget(new QLabel(QStringLiteral("Tolerance"), tiltTab));
    tiltControls->addWidget(m_tiltToleranceSpin);
    tiltControls->addStretch(1);
    auto* tiltHelp = new QLabel(
        QStringLiteral("Hold the heading, start level, then tilt through pitch and roll. The "
                       "level readings give the reference; each band of 10° of tilt shows the "
                       "largest change of heading from it."),
        tiltTab);
    tiltHelp->setWordWrap(true);
    m_tiltSummary = new QLabel(tiltTab);
    m_tiltSummary->setObjectName(QStringLiteral("tiltSummary"));
    m_tiltSummary->setWordWrap(true);
    m_tiltBands = Table(tiltTab, "tiltBands",
                        {QStringLiteral("Tilt"), QStringLiteral("Readings"),
                         QStringLiteral("Largest change"), QStringLiteral("Within")});
    m_tiltChart = ChartView(tiltTab, "tiltChart");
    auto* tiltLeft = new QVBoxLayout;
    tiltLeft->addLayout(tiltControls);
    tiltLeft->addWidget(tiltHelp);
    tiltLeft->addWidget(m_tiltSummary);
    tiltLeft->addWidget(m_tiltBands, 1);
    auto* tiltLayout = new QHBoxLayout(tiltTab);
    tiltLayout->addLayout(tiltLeft, 1);
    tiltLayout->addWidget(m_tiltChart, 1);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabs"));
    m_tabs->addTab(swingTab, QStringLiteral("Swing"));
    m_tabs->addTab(tiltTab, QStringLiteral("Tilt check"));

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(settings);
    layout->addLayout(live);
    layout->addWidget(m_tabs, 1);
    layout->addWidget(m_message);

    connect(m_schedule, &QComboBox::activated, this, [this](int index) {
        const int count = m_schedule->itemData(index).toInt();
        m_typedList->setEnabled(count == 0);
        if (count > 0)
            SetScheduleCount(count);
        else
            m_typedList->setFocus();
    });
    connect(m_typedList, &QLineEdit::returnPressed, this,
            [this] { SetTypedSchedule(m_typedList->text()); });
    connect(m_dwellSpin, &QDoubleSpinBox::valueChanged, this, &SwingWindow::SetDwellSeconds);
    connect(m_steadySpin, &QDoubleSpinBox::valueChanged, this, &SwingWindow::SetSteadyLimit);
    connect(m_toleranceSpin, &QDoubleSpinBox::valueChanged, this, &SwingWindow::SetTolerance);
    connect(m_automaticBox, &QCheckBox::toggled, this, [this](bool on) { m_automatic = on; });
    connect(m_stops, &QTableWidget::currentCellChanged, this,
            [this] { ShowReferenceOfSelected(); });
    connect(m_reference, &QLineEdit::returnPressed, this,
            [this] { SetReference(m_reference->text()); });
    connect(m_take, &QPushButton::clicked, this, &SwingWindow::Take);
    connect(m_discard, &QPushButton::clicked, this, &SwingWindow::Discard);
    connect(m_newSwing, &QPushButton::clicked, this, &SwingWindow::NewSwing);
    connect(m_exportCsv, &QPushButton::clicked, this, &SwingWindow::ExportCsv);
    connect(m_exportCard, &QPushButton::clicked, this, &SwingWindow::ExportCard);
    connect(m_tiltButton, &QPushButton::clicked, this,
            [this] { m_tiltRunning ? StopTilt() : StartTilt(); });
    connect(m_tiltToleranceSpin, &QDoubleSpinBox::valueChanged, this, [this](double value) {
        m_tiltTolerance = value;
        AnalyseTiltNow();
    });

    SetScheduleCount(8);
    ShowLive();
    m_stops->setFocus();
    resize(1150, 800);
    setMinimumSize(900, 640);
}

SwingWindow::~SwingWindow() = default;

// ---- Schedule and stops ----------------------------------------------------------------------

void SwingWindow::BuildSchedule(const std::vector<double>& references) {
    m_slots.clear();
    for (const double r : references)
        m_slots.push_back({r, r, false, std::nullopt});
    m_stops->setRowCount(static_cast<int>(m_slots.size()));
    m_monitor.Clear();
    Refit();
    SelectSlot(0);
}

bool SwingWindow::SetScheduleCount(int count) {
    if (std::find(kScheduleCounts.begin(), kScheduleCounts.end(), count) == kScheduleCounts.end())
        return false;
    if (!Taken().empty()) {
        Say(QStringLiteral("Stops are taken: start a New swing before changing the schedule."));
        return false;
    }
    std::vector<double> references;
    for (int i = 0; i < count; ++i)
        references.push_back(360.0 * i / count);
    m_schedule->setCurrentIndex(m_schedule->findData(count));
    m_typedList->setEnabled(false);
    BuildSchedule(references);
    Say(QStringLiteral("%1 stops, every %2°.").arg(count).arg(360 / count));
    return true;
}

bool SwingWindow::SetTypedSchedule(const QString& list) {
    if (!Taken().empty()) {
        Say(QStringLiteral("Stops are taken: start a New swing before changing the schedule."));
        return false;
    }
    std::vector<double> references;
    const QStringList parts =
        list.split(QRegularExpression(QStringLiteral("[,;\\s]+")), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const auto value = ParseDegrees(part);
        if (!value || *value < 0.0 || *value > 360.0) {
            Say(QStringLiteral("“%1” is not a heading: type the references as degrees from 0 to "
                               "360, separated by commas (e.g. 0, 90, 180, 270).")
                    .arg(part));
            m_typedList->selectAll();
            return false;
        }
        const double r = WrapHeading(*value);
        for (const double other : references) {
            if (HeadingDistance(r, other) < kSameHeadingDegrees) {
                Say(QStringLiteral("%1° and %2° are two stops at one heading: give each stop a "
                                   "heading of its own.")
                        .arg(Heading(other), Heading(r)));
                m_typedList->selectAll();
                return false;
            }
        }
        references.push_back(r);
    }
    if (references.empty()) {
        Say(QStringLiteral("Type the references of the stops, e.g. 0, 90, 180, 270."));
        return false;
    }
    m_schedule->setCurrentIndex(m_schedule->findData(0));
    m_typedList->setEnabled(true);
    BuildSchedule(references);
    Say(QStringLiteral("%1 stops from the typed list.").arg(references.size()));
    return true;
}

int SwingWindow::SelectedSlot() const {
    return m_stops->currentRow();
}

void SwingWindow::SelectSlot(int index) {
    if (index >= 0 && index < static_cast<int>(m_slots.size()))
        m_stops->setCurrentCell(index, 0);
    ShowReferenceOfSelected();
}

void SwingWindow::ShowReferenceOfSelected() {
    const int i = SelectedSlot();
    if (i < 0 || i >= static_cast<int>(m_slots.size())) {
        m_reference->clear();
        return;
    }
    m_reference->setText(Heading(m_slots[static_cast<std::size_t>(i)].reference));
    UpdateControls();
}

bool SwingWindow::SetReference(const QString& text) {
    const int i = SelectedSlot();
    if (i < 0 || i >= static_cast<int>(m_slots.size()))
        return false;
    Slot& slot = m_slots[static_cast<std::size_t>(i)];
    QString note;
    double reference = slot.scheduled;
    bool typed = false;
    if (!text.trimmed().isEmpty()) {
        const auto value = ParseDegrees(text);
        if (!value || *value < 0.0 || *value > 360.0) {
            Say(QStringLiteral("“%1” is not a reference heading: type the magnetic heading of "
                               "stop %2 in degrees from 0 to 360; nothing was changed.")
                    .arg(text.trimmed(), QString::number(i + 1)));
            m_reference->setFocus();
            m_reference->selectAll();
            return false;
        }
        reference = WrapHeading(*value);
        typed = true;
        if (*value == 360.0 || (*value == 0.0 && std::signbit(*value)))
            note = QStringLiteral("%1 is north: stop %2 takes 000.0°. ")
                       .arg(text.trimmed(), QString::number(i + 1));
    }
    for (std::size_t k = 0; k < m_slots.size(); ++k) {
        if (static_cast<int>(k) != i &&
            HeadingDistance(m_slots[k].reference, reference) < kSameHeadingDegrees)
            note += QStringLiteral(
                        "Stops %1 and %2 are both at %3°: two stops at one heading "
                        "count as one for the fit. ")
                        .arg(std::min<int>(i, static_cast<int>(k)) + 1)
                        .arg(std::max<int>(i, static_cast<int>(k)) + 1)
                        .arg(Heading(reference));
    }
    slot.reference = reference;
    slot.typed = typed && HeadingDistance(reference, slot.scheduled) > 1e-9;
    if (slot.taken) {
        slot.taken->reference = slot.reference;
        slot.taken->typedReference = slot.typed;
        m_exported = false;
    }
    m_reference->setText(Heading(reference));
    Refit();
    Say(note + QStringLiteral("Stop %1: reference %2°%3.")
                   .arg(i + 1)
                   .arg(Heading(reference))
                   .arg(slot.typed ? QStringLiteral(" (typed)") : QString()));
    return true;
}

std::vector<TakenStop> SwingWindow::Taken() const {
    std::vector<TakenStop> taken;
    for (const Slot& slot : m_slots)
        if (slot.taken)
            taken.push_back(*slot.taken);
    return taken;
}

double SwingWindow::Capture() const {
    // Near enough to a reference to be its stop: well inside half the spacing of the stops,
    // and at most 10 degrees (a larger deviation needs a Take by hand).
    double spacing = 360.0;
    for (std::size_t i = 0; i < m_slots.size(); ++i)
        for (std::size_t k = i + 1; k < m_slots.size(); ++k)
            spacing =
                std::min(spacing, HeadingDistance(m_slots[i].reference, m_slots[k].reference));
    return std::min(10.0, 0.4 * spacing);
}

bool SwingWindow::Take() {
    const int i = SelectedSlot();
    if (i < 0 || i >= static_cast<int>(m_slots.size())) {
        Say(QStringLiteral("Select the stop to take in the list."));
        return false;
    }
    if (m_dwell.count == 0) {
        Say(m_hasReading ? QStringLiteral("No reading since the last stop was taken: wait for "
                                          "the heading at this stop, then take it.")
                         : QStringLiteral("No reading has arrived: open the port and start "
                                          "polling (GO), then take the stop."));
        return false;
    }
    TakeSlot(i, false);
    return true;
}

void SwingWindow::TakeSlot(int index, bool automatic) {
    Slot& slot = m_slots[static_cast<std::size_t>(index)];
    const bool retake = slot.taken.has_value();
    TakenStop t;
    t.number = index + 1;
    t.reference = slot.reference;
    t.typedReference = slot.typed;
    t.compass = m_dwell.mean;
    t.spread = m_dwell.spread;
    t.farthest = m_dwell.farthest;
    t.readings = m_dwell.count;
    t.steady = m_dwell.steady;
    t.pitch = m_dwell.pitch;
    t.roll = m_dwell.roll;
    t.when =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
    slot.taken = t;
    m_exported = false;
    m_confirmingNew = false;

    QString text = QStringLiteral("%1 stop %2 at %3°: compass %4°, deviation %5.")
                       .arg(automatic ? QStringLiteral("Took")
                            : retake  ? QStringLiteral("Retook")
                                      : QStringLiteral("Took"))
                       .arg(index + 1)
                       .arg(Heading(t.reference), Heading(t.compass),
                            Signed(DeviationOf(t.reference, t.compass)));
    if (automatic)
        text += QStringLiteral(" (steady for %1 s)").arg(Fixed(m_monitor.Dwell(), 1));
    if (!t.steady) {
        text += QStringLiteral(
                    " It was taken while the heading was not steady (readings up to %1° from "
                    "their mean over %2 s; steady means within ±%3° over %4 s). It is kept and "
                    "marked; select it and Take again to retake it, or Discard it.")
                    .arg(Fixed(t.farthest), Fixed(m_dwell.seconds, 1),
                         Fixed(m_monitor.SteadyLimit(), 1), Fixed(m_monitor.Dwell(), 1));
    }
    if (HeadingDistance(t.reference, t.compass) > kFarFromReference)
        text += QStringLiteral(
                    " The compass reads %1° away from the reference: is this the "
                    "right stop?")
                    .arg(Fixed(HeadingDistance(t.reference, t.compass), 1));
    // The next stop not yet taken.
    for (std::size_t k = 1; k <= m_slots.size(); ++k) {
        const std::size_t next = (static_cast<std::size_t>(index) + k) % m_slots.size();
        if (!m_slots[next].taken) {
            SelectSlot(static_cast<int>(next));
            break;
        }
    }
    if (automatic) {
        // The next take, automatic or by hand, needs a dwell of its own.
        m_monitor.Clear();
        m_dwell = m_monitor.State();
        ShowLive();
    }
    Refit();
    Say(text);
}

void SwingWindow::Discard() {
    const int i = SelectedSlot();
    if (i < 0 || i >= static_cast<int>(m_slots.size()) ||
        !m_slots[static_cast<std::size_t>(i)].taken) {
        Say(QStringLiteral("Select a stop that has been taken to discard it."));
        return;
    }
    m_slots[static_cast<std::size_t>(i)].taken.reset();
    m_exported = false;
    Refit();
    Say(QStringLiteral("Stop %1 discarded.").arg(i + 1));
}

void SwingWindow::NewSwing() {
    const std::size_t taken = Taken().size();
    if (taken > 0 && !m_exported && !m_confirmingNew) {
        m_confirmingNew = true;
        Say(QStringLiteral("The %1 stops taken have not been exported: click New swing again to "
                           "discard them.")
                .arg(taken));
        return;
    }
    m_confirmingNew = false;
    for (Slot& slot : m_slots) {
        slot.taken.reset();
        slot.reference = slot.scheduled;
        slot.typed = false;
    }
    m_exported = true;
    m_monitor.Clear();
    Refit();
    SelectSlot(0);
    Say(QStringLiteral("A new swing: no stop taken."));
}

void SwingWindow::SetAutomaticTake(bool on) {
    m_automaticBox->setChecked(on);
}

void SwingWindow::SetDwellSeconds(double seconds) {
    m_monitor.SetDwell(seconds);
    if (m_dwellSpin->value() != seconds)
        m_dwellSpin->setValue(seconds);
}

void SwingWindow::SetSteadyLimit(double degrees) {
    m_monitor.SetSteadyLimit(degrees);
    if (m_steadySpin->value() != degrees)
        m_steadySpin->setValue(degrees);
}

void SwingWindow::SetTolerance(double degrees) {
    m_tolerance = degrees;
    if (m_toleranceSpin->value() != degrees)
        m_toleranceSpin->setValue(degrees);
    ShowResult();
}

// ---- Readings --------------------------------------------------------------------------------

void SwingWindow::addReading(qint64 steadyNs, double pitch, double roll, double heading) {
    if (!std::isfinite(pitch) || !std::isfinite(roll) || !std::isfinite(heading))
        return;
    m_monitor.Add(steadyNs, pitch, roll, heading);
    m_lastHeading = heading;
    m_hasReading = true;
    if (m_tiltRunning) {
        if (m_tiltReadings.size() < kMaxTiltReadings) {
            m_tiltReadings.push_back({TiltAngle(pitch, roll), heading});
        } else {
            StopTilt();
            Say(QStringLiteral("The tilt check holds %1 readings, as many as it keeps: it was "
                               "stopped.")
                    .arg(kMaxTiltReadings));
        }
        if (steadyNs - m_lastTiltNs >= kTiltEveryNs) {
            m_lastTiltNs = steadyNs;
            AnalyseTiltNow();
        }
    }
    if (steadyNs - m_lastEvaluationNs >= kEvaluateEveryNs || steadyNs < m_lastEvaluationNs)
        Evaluate(steadyNs);
}

void SwingWindow::Evaluate(std::int64_t ns) {
    m_lastEvaluationNs = ns;
    m_dwell = m_monitor.State();
    ShowLive();
    if (!m_automatic || !m_dwell.steady)
        return;
    int best = -1;
    double bestDistance = Capture();
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].taken)
            continue;
        const double distance = HeadingDistance(m_slots[i].reference, m_dwell.mean);
        if (distance <= bestDistance) {
            bestDistance = distance;
            best = static_cast<int>(i);
        }
    }
    if (best >= 0)
        TakeSlot(best, true);
}

// ---- Showing ---------------------------------------------------------------------------------

void SwingWindow::ShowLive() {
    if (!m_hasReading) {
        m_liveHeading->setText(QStringLiteral("---.--°"));
        m_liveStats->setText(QStringLiteral("No reading yet: open the port and start polling."));
        m_steadyMark->setText(QString());
        return;
    }
    m_liveHeading->setText(Fixed(m_lastHeading) + QStringLiteral("°"));
    const DwellState& d = m_dwell;
    m_liveStats->setText(
        QStringLiteral("mean %1°  spread %2°  farthest %3°  over %4 s, %5 readings")
            .arg(Fixed(d.mean), Fixed(d.spread, 3), Fixed(d.farthest), Fixed(d.seconds, 1))
            .arg(d.count));
    QString mark;
    QString colour;
    if (d.steady) {
        mark = QStringLiteral("● Steady: within ±%1° for %2 s")
                   .arg(Fixed(m_monitor.SteadyLimit(), 1), Fixed(m_monitor.Dwell(), 1));
        colour = QStringLiteral("#107c10");
    } else if (!d.whole) {
        mark = QStringLiteral("○ Gathering: %1 of %2 s")
                   .arg(Fixed(d.seconds, 1), Fixed(m_monitor.Dwell(), 1));
        colour = QStringLiteral("#8a6d00");
    } else {
        mark = QStringLiteral("● Not steady: readings up to %1° from the mean (steady means ±%2°)")
                   .arg(Fixed(d.farthest), Fixed(m_monitor.SteadyLimit(), 1));
        colour = QStringLiteral("#c42b1c");
    }
    m_steadyMark->setText(mark);
    m_steadyMark->setStyleSheet(QStringLiteral("color: %1; font-weight: bold").arg(colour));
}

void SwingWindow::Refit() {
    const std::vector<TakenStop> taken = Taken();
    m_fit.reset();
    m_fitError.clear();
    if (!taken.empty()) {
        FitOutcome outcome = FitDeviation(StopsOf(taken));
        if (outcome.fit)
            m_fit = std::move(outcome.fit);
        else
            m_fitError = QString::fromStdString(outcome.error);
    }
    ShowStops();
    ShowResult();
    ShowTitle();
    UpdateControls();
}

void SwingWindow::ShowStops() {
    m_stops->setRowCount(static_cast<int>(m_slots.size()));
    std::size_t takenIndex = 0;
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        const Slot& slot = m_slots[i];
        const int row = static_cast<int>(i);
        SetCell(m_stops, row, 0, QString::number(i + 1));
        SetCell(m_stops, row, 1,
                Heading(slot.reference) + (slot.typed ? QStringLiteral(" typed") : QString()));
        if (!slot.taken) {
            for (int c = 2; c < 7; ++c)
                SetCell(m_stops, row, c, c == 2 ? QStringLiteral("–") : QString());
            continue;
        }
        const TakenStop& t = *slot.taken;
        SetCell(m_stops, row, 2, Heading(t.compass));
        const bool fitted = m_fit && takenIndex < m_fit->residuals.size();
        SetCell(m_stops, row, 3, Signed(DeviationOf(t.reference, t.compass)));
        SetCell(m_stops, row, 4,
                fitted ? Fixed(m_fit->residuals[takenIndex]) : QStringLiteral("–"));
        SetCell(m_stops, row, 5, Fixed(t.spread, 3));
        SetCell(m_stops, row, 6, t.steady ? QStringLiteral("yes") : QStringLiteral("NO"));
        ++takenIndex;
    }
}

void SwingWindow::ShowResult() {
    const std::vector<TakenStop> taken = Taken();
    ShowDeviation(m_chart->chart(), taken, m_fit ? &*m_fit : nullptr);
    if (!m_fit) {
        m_result->setText(m_fitError.isEmpty() ? QStringLiteral("No stop taken yet.")
                                               : QStringLiteral("No fit: %1.").arg(m_fitError));
        m_verdict->setText(QString());
        for (int r = 0; r < m_card->rowCount(); ++r)
            for (int c = 0; c < m_card->columnCount(); ++c)
                SetCell(m_card, r, c, QString());
        return;
    }
    m_result->setText(FitText());
    const SwingVerdict verdict = JudgeSwing(*m_fit, StopsOf(taken), m_tolerance);
    m_verdict->setText(VerdictText());
    m_verdict->setStyleSheet(
        QStringLiteral("color: %1")
            .arg(verdict.pass ? QStringLiteral("#107c10") : QStringLiteral("#c42b1c")));
    const std::vector<CardEntry> card = DeviationCard(m_fit->coefficients);
    const int rows = static_cast<int>((card.size() + 1) / 2);
    m_card->setRowCount(rows);
    for (std::size_t i = 0; i < card.size(); ++i) {
        const int row = static_cast<int>(i) % rows;
        const int column = static_cast<int>(i) / rows * 3;
        SetCell(m_card, row, column, Heading(card[i].compass).left(3) + QStringLiteral("°"));
        SetCell(m_card, row, column + 1, Signed(card[i].deviation, 1));
        SetCell(m_card, row, column + 2, Heading(card[i].magnetic) + QStringLiteral("°"));
    }
}

QString SwingWindow::FitText() const {
    if (!m_fit)
        return m_fitError;
    const DeviationFit& f = *m_fit;
    static constexpr char kNames[] = "ABCDE";
    QStringList terms;
    for (std::size_t t = 0; t < 5; ++t)
        terms << QStringLiteral("%1 %2").arg(
            QString(QLatin1Char(kNames[t])),
            static_cast<int>(t) < f.terms
                ? QString::fromStdString(FixedText(f.coefficients.terms[t])).rightJustified(6)
                : QStringLiteral("     –"));
    const std::vector<TakenStop> taken = Taken();
    QString text =
        QStringLiteral(
            "Fitted %1 over %2 stops:\n%3\nResiduals: RMS %4°, largest %5° "
            "(stop %6)")
            .arg(QString::fromStdString(TermsName(f.terms)))
            .arg(taken.size())
            .arg(terms.join(QStringLiteral("  ")), Fixed(f.rms), Fixed(f.largestResidual))
            .arg(f.largestResidualStop < taken.size() ? taken[f.largestResidualStop].number : 0);
    if (!f.note.empty())
        text += QStringLiteral("\nNot fitted: %1.").arg(QString::fromStdString(f.note));
    return text;
}

QString SwingWindow::VerdictText() const {
    if (!m_fit)
        return QString();
    const std::vector<TakenStop> taken = Taken();
    const SwingVerdict v = JudgeSwing(*m_fit, StopsOf(taken), m_tolerance);
    QString text = v.pass ? QStringLiteral(
                                "PASS: the deviation stays within ±%1° (largest %2 at compass "
                                "%3°).")
                          : QStringLiteral(
                                "FAIL: the deviation reaches %2 at compass %3°, beyond ±%1°; "
                                "steer by the card or compensate the compass.");
    text = text.arg(Fixed(m_tolerance, 1), Signed(v.largestDeviation), Heading(v.atCompass));
    if (m_fit->largestResidual > m_tolerance)
        text += QStringLiteral(
                    " The stops lie up to %1° off the fitted curve, beyond the "
                    "tolerance: check the references, or iron that moves.")
                    .arg(Fixed(m_fit->largestResidual));
    return text;
}

void SwingWindow::ShowTitle() {
    setWindowTitle(QStringLiteral("TORVA - Compass swing (%1 of %2 stops)")
                       .arg(Taken().size())
                       .arg(m_slots.size()));
}

void SwingWindow::UpdateControls() {
    const bool anyTaken = !Taken().empty();
    m_schedule->setEnabled(!anyTaken);
    m_typedList->setEnabled(!anyTaken && m_schedule->currentData().toInt() == 0);
    const int i = SelectedSlot();
    m_discard->setEnabled(i >= 0 && i < static_cast<int>(m_slots.size()) &&
                          m_slots[static_cast<std::size_t>(i)].taken);
    m_exportCsv->setEnabled(m_fit.has_value());
    m_exportCard->setEnabled(m_fit.has_value());
}

QString SwingWindow::Message() const {
    return m_message->text();
}

void SwingWindow::Say(const QString& text) {
    m_message->setText(text);
}

void SwingWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

// ---- Export ----------------------------------------------------------------------------------

QString SwingWindow::ExportCsv() {
    if (!m_fit) {
        Say(QStringLiteral("Take at least one stop first; nothing was exported."));
        return QString();
    }
    const QDateTime now = QDateTime::currentDateTime();
    const std::vector<TakenStop> taken = Taken();
    const std::string csv =
        SwingCsv(taken, *m_fit, DeviationCard(m_fit->coefficients),
                 JudgeSwing(*m_fit, StopsOf(taken), m_tolerance), m_tolerance,
                 now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString());
    const QString folder = m_exportFolder ? m_exportFolder() : QString();
    const NewFileResult result = WriteNewFile(
        folder.toStdString(),
        "Swing-" + now.toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString(), ".csv", csv);
    if (result.path.empty()) {
        Say(QStringLiteral("Nothing was exported: %1.").arg(QString::fromStdString(result.error)));
        return QString();
    }
    m_exported = true;
    m_confirmingNew = false;
    const QString path = QString::fromStdString(result.path);
    Say(QStringLiteral("Exported %1 stops, the coefficients and the card to %2")
            .arg(taken.size())
            .arg(path));
    return path;
}

QStringList SwingWindow::ExportCard() {
    if (!m_fit) {
        Say(QStringLiteral("Take at least one stop first; nothing was exported."));
        return {};
    }
    const QDateTime now = QDateTime::currentDateTime();
    CardContent content;
    content.when = now.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    content.stops = Taken();
    content.fit = *m_fit;
    content.card = DeviationCard(m_fit->coefficients);
    content.verdict = JudgeSwing(*m_fit, StopsOf(content.stops), m_tolerance);
    content.tolerance = m_tolerance;
    const QString folder = m_exportFolder ? m_exportFolder() : QString();
    const std::string stem =
        "Swing-" + now.toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString() + "-card";
    QStringList written;
    for (const auto& [suffix, bytes] : {std::pair{std::string(".pdf"), CardPdf(content)},
                                        std::pair{std::string(".png"), CardPng(content)}}) {
        if (bytes.isEmpty()) {
            Say(QStringLiteral("The card could not be drawn as %1; %2")
                    .arg(QString::fromStdString(suffix),
                         written.isEmpty() ? QStringLiteral("nothing was exported.")
                                           : QStringLiteral("wrote only %1.")
                                                 .arg(written.join(QStringLiteral(", ")))));
            return written;
        }
        const NewFileResult result = WriteNewFile(
            folder.toStdString(), stem, suffix,
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        if (result.path.empty()) {
            Say(QStringLiteral("%1 %2").arg(
                written.isEmpty() ? QStringLiteral("Nothing was exported:")
                                  : QStringLiteral("Wrote %1, but not the rest:")
                                        .arg(written.join(QStringLiteral(", "))),
                QString::fromStdString(result.error) + QLatin1Char('.')));
            return written;
        }
        written << QString::fromStdString(result.path);
    }
    Say(QStringLiteral("Saved the card to %1").arg(written.join(QStringLiteral(" and "))));
    return written;
}

// ---- Tilt check ------------------------------------------------------------------------------

void SwingWindow::StartTilt() {
    m_tiltReadings.clear();
    m_tiltReference.reset();
    m_tilt.reset();
    m_tiltRunning = true;
    m_lastTiltNs = 0;
    m_tiltButton->setText(QStringLiteral("&Stop tilt check"));
    AnalyseTiltNow();
    Say(
        QStringLiteral("Tilt check started: hold the heading, start level, then tilt through "
                       "pitch and roll."));
}

void SwingWindow::StopTilt() {
    if (!m_tiltRunning)
        return;
    m_tiltRunning = false;
    m_tiltButton->setText(QStringLiteral("&Start tilt check"));
    AnalyseTiltNow();
    Say(QStringLiteral("Tilt check stopped after %1 %2.")
            .arg(m_tiltReadings.size())
            .arg(m_tiltReadings.size() == 1 ? QStringLiteral("reading")
                                            : QStringLiteral("readings")));
}

void SwingWindow::AnalyseTiltNow() {
    // The reference: the circular mean heading of the level readings.
    double sumSin = 0.0, sumCos = 0.0;
    std::size_t level = 0;
    for (const TiltReading& r : m_tiltReadings) {
        if (r.tilt <= kLevelDegrees) {
            sumSin += std::sin(r.heading * kRadians);
            sumCos += std::cos(r.heading * kRadians);
            ++level;
        }
    }
    m_tiltReference.reset();
    m_tilt.reset();
    std::vector<TiltSample> samples;
    if (level > 0 && std::hypot(sumSin, sumCos) > 1e-9 * static_cast<double>(level)) {
        m_tiltReference = WrapHeading(std::atan2(sumSin, sumCos) / kRadians);
        for (const TiltReading& r : m_tiltReadings)
            samples.push_back({r.tilt, WrapSigned(r.heading - *m_tiltReference)});
        m_tilt = AnalyseTilt(samples, m_tiltTolerance);
    }
    ShowTiltChanges(m_tiltChart->chart(), samples, m_tiltTolerance);
    m_tiltSummary->setText(TiltText());
    const int rows = m_tilt ? static_cast<int>(m_tilt->bands.size()) : 0;
    m_tiltBands->setRowCount(rows);
    for (int i = 0; i < rows; ++i) {
        const TiltBand& b = m_tilt->bands[static_cast<std::size_t>(i)];
        SetCell(m_tiltBands, i, 0, QStringLiteral("%1–%2°").arg(Fixed(b.from, 0), Fixed(b.to, 0)));
        SetCell(m_tiltBands, i, 1, QString::number(b.count));
        SetCell(m_tiltBands, i, 2,
                QString::fromStdString(FixedText(b.largest)) + QStringLiteral("°"));
        SetCell(m_tiltBands, i, 3, b.pass ? QStringLiteral("yes") : QStringLiteral("NO"));
    }
}

QString SwingWindow::TiltText() const {
    if (m_tiltReadings.empty())
        return m_tiltRunning ? QStringLiteral("Waiting for readings.")
                             : QStringLiteral("Not started.");
    if (!m_tiltReference)
        return QStringLiteral(
                   "%1 readings, none level yet: bring the module level (within %2°) "
                   "so the check has a heading to compare with.")
            .arg(m_tiltReadings.size())
            .arg(Fixed(kLevelDegrees, 0));
    const TiltResult& t = *m_tilt;
    QString text = QStringLiteral(
                       "Reference %1° from the level readings; %2 readings up to %3° "
                       "of tilt; %4° of heading change per 10° of tilt.\n")
                       .arg(Heading(*m_tiltReference))
                       .arg(m_tiltReadings.size())
                       .arg(Fixed(t.largestTilt, 1), Fixed(t.perTenDegrees));
    text += t.pass ? QStringLiteral("PASS: within ±%1° in every band of tilt.")
                         .arg(Fixed(m_tiltTolerance, 1))
                   : QStringLiteral("FAIL: beyond ±%1° from %2° of tilt on.")
                         .arg(Fixed(m_tiltTolerance, 1), Fixed(t.passesUpTo, 0));
    return text;
}

SwingWindow* ShowSwingWindow(QWidget* owner, std::function<QString()> exportFolder) {
    auto* window = owner->findChild<SwingWindow*>(QString(), Qt::FindDirectChildrenOnly);
    if (!window)
        window = new SwingWindow(std::move(exportFolder), owner);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
