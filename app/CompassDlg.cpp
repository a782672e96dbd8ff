#include "CompassDlg.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "AboutDlg.h"
#include "DeclinationDialog.h"
#include "FindModuleDialog.h"
#include "LivePlotWindow.h"
#include "MainTemplate.h"
#include "PortsDialog.h"
#include "ReadingCharts.h"
#include "Styling.h"
#include "SwingWindow.h"
#include "resource.h"

namespace {

// A reading in one of the displays' printf formats.
QString FormatReading(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return QString::fromLatin1(buffer);
}

// Roll and pitch carry a sign; a zero read as "-0" is shown as +0.00 like any zero.
QString SignedReading(double value) {
    if (value == 0.0)
        value = 0.0;
    return FormatReading(value >= 0.0 ? "+%.2f" : "%.2f", value);
}

// The heading without a sign of its own; a zero read as "-0" is shown as 0.0 like any zero.
QString HeadingReading(double value) {
    if (value == 0.0)
        value = 0.0;
    return FormatReading("%.1f", value);
}

// Sets a role of one entry of the port list without the list hearing of it: a change to the
// selected entry would otherwise put its text back into the field over what the operator typed.
void SetEntryData(QComboBox& list, int index, const QVariant& value, int role) {
    if (list.itemData(index, role) == value)
        return;
    const QSignalBlocker quiet(list.model());
    list.setItemData(index, value, role);
}

// Calls `shown` each time the watched widget is shown (its parent's child, owned by it).
class ShowWatch : public QObject {
public:
    ShowWatch(QWidget* watched, std::function<void()> shown)
        : QObject(watched), m_shown(std::move(shown)) {
        watched->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show)
            m_shown();
        return false;
    }

private:
    std::function<void()> m_shown;
};

}  // namespace

CCompassDlg::CCompassDlg(QWidget* parent)
    : CDialogBase(MainWindowTemplate(), parent),
      m_strSaveFolder(DefaultSaveFolder()),
      m_hIcon(LoadIconResource(IDR_MAINFRAME)),
      m_brCalibration(kCalibrationRed) {
    static const HandlerEntry<CCompassDlg> kMessageMap[] = {
        {IDC_BTN_OPENCOM, Notification::Clicked, &CCompassDlg::OnOpenCom},
        {IDC_BTN_RECORD, Notification::Clicked, &CCompassDlg::OnRecord},
        {IDC_EDIT_NEW_ADDRESS, Notification::Changed, &CCompassDlg::OnCommitFields},
        {IDC_BTN_SETADDR, Notification::Clicked, &CCompassDlg::OnSetAddress},
        {IDC_EDIT_ADDRESS, Notification::Changed, &CCompassDlg::OnCommitFields},
        {IDC_BTN_SET_BAUD, Notification::Clicked, &CCompassDlg::OnSetBaudRate},
        {IDC_BTN_SETZERO, Notification::Clicked, &CCompassDlg::OnSetZero},
        {IDC_BTN_CANCELZERO, Notification::Clicked, &CCompassDlg::OnCancelZero},
        {IDC_BTN_AUTOOUT, Notification::Clicked, &CCompassDlg::OnAutoOut},
        {IDC_BTN_CATECHISM, Notification::Clicked, &CCompassDlg::OnCatechism},
        {IDC_BTN_CLEAR_SEND, Notification::Clicked, &CCompassDlg::OnClearSend},
        {IDC_BTN_CLEAR_RECEIVED, Notification::Clicked, &CCompassDlg::OnClearReceived},
        {IDC_BTN_CAL_START, Notification::Clicked, &CCompassDlg::OnCalStart},
        {IDC_BTN_GOSTOP, Notification::Clicked, &CCompassDlg::OnGoStop},
        {IDC_BTN_MMODE, Notification::Clicked, &CCompassDlg::OnMMode},
        {IDC_BTN_CAL_SAVE, Notification::Clicked, &CCompassDlg::OnCalSave},
        {IDC_BTN_BROWSE, Notification::Clicked, &CCompassDlg::OnBrowseFolder},
        {IDC_BTN_HORIZON, Notification::Clicked, &CCompassDlg::OnHorizon},
        {IDC_BTN_VERTICAL, Notification::Clicked, &CCompassDlg::OnVertical},
        {IDC_BTN_SETMAG, Notification::Clicked, &CCompassDlg::OnSetMag},
        {IDC_EDIT_DECLINATION, Notification::KillFocus, &CCompassDlg::OnCommitFields},
        {IDC_BTN_MANUAL, Notification::Clicked, &CCompassDlg::OnManual},
        {IDC_BTN_AMODE, Notification::Clicked, &CCompassDlg::OnAMode},
        {IDC_BTN_CAL_STOP, Notification::Clicked, &CCompassDlg::OnCalStop},
        {IDC_COMBO_PORT, Notification::SelChange, &CCompassDlg::OnSelChangePort},
    };
    BindHandlers(kMessageMap);
    // Requests carry what the fields held at their last commit.
    m_session.setParameterSource([this] {
        FrameParameters parameters;
        parameters.address = m_nAddress;
        parameters.newAddress = m_nNewAddress;
        parameters.baudIndex = m_cboModuleBaud.GetCurSel();
        parameters.declination = m_dDeclination;
        return parameters;
    });
    ConnectSession();
    ConnectAdapterWait();
}

CCompassDlg::~CCompassDlg() {
    DestroyWindow();
}

void CCompassDlg::ConnectSession() {
    ModuleSession* session = &m_session;
    // Every send but Set Mag.'s refreshes the fields; the declination line shows at the next.
    connect(session, &ModuleSession::sent, this, [this](CommandRow row) {
        if (row != CMD_SET_DECLINATION)
            UpdateData(false);
    });
    connect(session, &ModuleSession::sendFailed, this,
            [this](const LineFailure& failure) { ErrorBox(failure.description); });
    connect(session, &ModuleSession::pollServed, this, &CCompassDlg::ShowReadings);
    connect(session, &ModuleSession::inputTaken, this, [this] { UpdateData(false); });
    connect(session, &ModuleSession::readingReceived, this,
            [this](qint64, double pitch, double roll, double heading) {
                m_dPitch = pitch;
                m_dRoll = roll;
                m_dHeading = heading;
            });
    connect(session, &ModuleSession::addressAccepted, this,
            [this](quint32 address) { m_nAddress = address; });
    connect(session, &ModuleSession::acknowledged, this, [this](quint8, bool success) {
        if (success)
            MessageBox(QStringLiteral("Successful!"), QStringLiteral("Success"));
        else
            MessageBox(QStringLiteral("Error!"), QStringLiteral("Error"));
    });
    connect(session, &ModuleSession::sampleCounted, this, [this](int samples) {
        MessageBeep();
        SetDlgItemText(IDC_STATIC_SAMPLES, QString::number(samples));
        m_btnManual.EnableWindow(true);
        m_btnManual.SetWindowText(QStringLiteral("Manual"));
    });
    connect(session, &ModuleSession::coverageReported, this,
            [this](int x, int y, int z) { ShowCoverage(x, y, z); });
    connect(session, &ModuleSession::calibrationSaved, this, [this] {
        MessageBeep();
        ShowCoverage(0, 0, 0);
        SetDlgItemText(IDC_STATIC_SAMPLES, QStringLiteral("0"));
    });
    connect(session, &ModuleSession::calibrationFailed, this, &CCompassDlg::ShowCalibrationError);
    connect(session, &ModuleSession::sampleTimedOut, this, [this] {
        m_btnManual.EnableWindow(true);
        MessageBox(QStringLiteral("Time out ! Try again!"), QStringLiteral("Try again"));
    });
    connect(session, &ModuleSession::frameRate, this, [this](int frames) {
        char text[32];
        std::snprintf(text, sizeof text, "%4dHz", frames);
        m_editRate.SetWindowText(QString::fromLatin1(text));
    });
    connect(session, &ModuleSession::deviceLost, this, &CCompassDlg::OnDeviceLost);
    connect(session, &ModuleSession::recordingStopped, this, [this](RecordStop outcome) {
        if (outcome != RecordStop::Stopped)
            MessageBox(QStringLiteral("creat file is fail!!"));
    });
    connect(session, &ModuleSession::recordNotice, this, &CCompassDlg::ShowRecordNotice);
}

void CCompassDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Control(pDX, IDC_BTN_AMODE, m_btnAMode);
    DDX_Control(pDX, IDC_BTN_MANUAL, m_btnManual);
    DDX_Control(pDX, IDC_BTN_SETMAG, m_btnSetMag);
    DDX_Control(pDX, IDC_BTN_CAL_SAVE, m_btnCalSave);
    DDX_Control(pDX, IDC_BTN_MMODE, m_btnMMode);
    DDX_Control(pDX, IDC_BTN_CAL_START, m_btnCalStart);
    DDX_Control(pDX, IDC_BTN_GOSTOP, m_btnGoStop);
    DDX_Control(pDX, IDC_BTN_RECORD, m_btnRecord);
    DDX_Control(pDX, IDC_EDIT_RATE, m_editRate);
    DDX_Control(pDX, IDC_BTN_CATECHISM, m_btnCatechism);
    DDX_Control(pDX, IDC_BTN_AUTOOUT, m_btnAutoOut);
    DDX_Control(pDX, IDC_BTN_CANCELZERO, m_btnCancelZero);
    DDX_Control(pDX, IDC_COMBO_MODULE_BAUD, m_cboModuleBaud);
    DDX_Control(pDX, IDC_STATIC_PORT_STATE, m_staticPortState);
    DDX_Control(pDX, IDC_BTN_SETZERO, m_btnSetZero);
    DDX_Control(pDX, IDC_BTN_OPENCOM, m_btnOpenCom);
    DDX_Control(pDX, IDC_COMBO_PORT, m_cboPort);
    DDX_Control(pDX, IDC_COMBO_BAUD, m_cboBaud);
    // The panes show the session's logs; the Received pane may be typed into, and a commit
    // takes what it shows back.
    DDX_Pane(pDX, IDC_EDIT_RECEIVED, m_session.log().receivedText(),
             [this](const std::string& text) { m_session.setReceivedText(text); });
    DDX_Pane(pDX, IDC_EDIT_SEND, m_session.log().sendText(), {});
    DDX_Text(pDX, IDC_EDIT_ADDRESS, m_nAddress);
    DDX_Text(pDX, IDC_EDIT_NEW_ADDRESS, m_nNewAddress);
    DDX_Text(pDX, IDC_EDIT_DECLINATION, m_dDeclination);
}

bool CCompassDlg::OnInitDialog() {
    CDialogBase::OnInitDialog();

    AppendSystemMenu(0, QString());
    AppendSystemMenu(IDM_LIVEPLOT, QStringLiteral("Live plot\tCtrl+L"));
    AppendSystemMenu(IDM_SWING, QStringLiteral("Compass swing\tCtrl+K"));
    AppendSystemMenu(IDM_DECLINATION, QStringLiteral("Declination from position..."));
    AppendSystemMenu(IDM_FINDMODULE, QStringLiteral("Find module..."));
    AppendSystemMenu(IDM_PORTS, QStringLiteral("Ports..."));
    AppendSystemMenu(IDM_REOPEN, QStringLiteral("Reopen when the adapter returns"));
    for (QAction* action : GetSystemMenu()->actions()) {
        if (action->data().toInt() == IDM_REOPEN) {
            action->setCheckable(true);  // off at start
            connect(action, &QAction::toggled, &m_session, &ModuleSession::setReopenOnReturn);
        }
    }
    AppendSystemMenu(IDM_ABOUTBOX, QStringLiteral("关于 TORVA(&A)..."));
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this), &QShortcut::activated, this,
            [this] { OnSysCommand(IDM_LIVEPLOT); });
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_K), this), &QShortcut::activated, this,
            [this] { OnSysCommand(IDM_SWING); });

    m_fontReadings = ExtraBoldArial(100);
    m_fontSamples = ExtraBoldArial(105);
    m_fontLabels = ExtraBoldArial(25);
    struct FontUse {
        const QFont* font;
        std::vector<int> ids;
    };
    const FontUse fonts[] = {
        {&m_fontReadings, {IDC_STATIC_ROLL, IDC_STATIC_PITCH, IDC_STATIC_HEADING}},
        {&m_fontSamples, {IDC_STATIC_SAMPLES}},
        {&m_fontLabels,
         {IDC_STATIC_CALIBRATION, IDC_BTN_GOSTOP, IDC_STATIC_HEAD_LABEL, IDC_STATIC_PITCH_LABEL,
          IDC_STATIC_ROLL_LABEL}},
    };
    for (const FontUse& use : fonts) {
        for (const int id : use.ids)
            GetDlgItem(id)->setFont(*use.font);
    }
    // In the large font "Calibration" is wider than its box; the space to its right is free, so
    // the label grows to show the whole word instead of cutting off its last letter.
    QWidget* calibration = GetDlgItem(IDC_STATIC_CALIBRATION);
    calibration->resize(std::max(calibration->width(), calibration->sizeHint().width()),
                        calibration->height());

    // Title bar, task bar and the iconified window.
    setWindowIcon(m_hIcon->icon);

    m_cboPort.SetCurSel(0);
    m_cboBaud.SetCurSel(2);
    m_cboModuleBaud.SetCurSel(2);
    // The tooltips take an inventory of the machine's devices, which reads every process's
    // open files: taken at the start and whenever the drop-down is shown or devices change
    // while it is, not at every change of a device behind the operator's back.
    DescribePorts();
    ShowPresentPorts(m_portWatcher.PresentPorts());
    connect(&m_portWatcher, &PortWatcher::presentPortsChanged, this,
            &CCompassDlg::ShowPresentPorts);
    if (auto* ports = qobject_cast<QComboBox*>(m_cboPort.GetWidget())) {
        new ShowWatch(ports->view(), [this] { DescribePorts(); });
        connect(&m_portWatcher, &PortWatcher::devicesChanged, this, [this, ports] {
            if (ports->view()->isVisible())
                DescribePorts();
        });
    }

    m_btnGoStop.EnableWindow(false);

    m_hIconPortOpen = LoadIconResource(IDI_PORT_OPEN);
    m_hIconPortClosed = LoadIconResource(IDI_PORT_CLOSED);
    m_staticPortState.SetIcon(m_hIconPortClosed);

    m_btnManual.EnableWindow(false);

    m_session.start();  // the 100 ms poll and the 1 s frame rate
    return true;
}

void CCompassDlg::OnOpenCom() {
    if (m_bPortOpen == 0) {
        if (const auto failure = m_session.selectPort(m_cboPort.GetCurSel() + 1)) {
            ErrorBox(failure->description);
            return;
        }
        if (m_session.isOpen())
            m_session.close();
        if (m_session.isOpen()) {
            m_staticPortState.SetIcon(m_hIconPortClosed);
            MessageBox(QStringLiteral("NO FOUND THE PORT"));
            m_btnOpenCom.SetWindowText(QStringLiteral("Open"));
            m_session.close();
            m_dRoll = m_dPitch = m_dHeading = 0.0;
            return;
        }
        // No speed selected: the line keeps the speed in force.
        if (const auto failure = m_session.open(m_cboBaud.GetCurSel())) {
            ErrorBox(failure->description);
            return;
        }
        m_cboBaud.EnableWindow(false);
        m_cboPort.EnableWindow(false);
        m_bPortOpen = 1;
        m_btnGoStop.EnableWindow(true);
        m_staticPortState.SetIcon(m_hIconPortOpen);
        m_btnOpenCom.SetWindowText(QStringLiteral("Close"));
    } else {
        CloseAdapterMessage();
        m_bPortOpen = 0;
        m_staticPortState.SetIcon(m_hIconPortClosed);
        m_cboBaud.EnableWindow(true);
        m_cboPort.EnableWindow(true);
        m_btnGoStop.EnableWindow(false);
        m_bPolling = 0;
        m_session.setPolling(false);
        m_btnOpenCom.SetWindowText(QStringLiteral("Open"));
        m_session.close();
        m_dRoll = m_dPitch = m_dHeading = 0.0;
        SetDlgItemText(IDC_STATIC_ROLL, FormatReading("%.2f", m_dRoll));
        SetDlgItemText(IDC_STATIC_PITCH, FormatReading("%.2f", m_dPitch));
        SetDlgItemText(IDC_STATIC_HEADING, FormatReading("%.1f", m_dHeading));
        m_btnGoStop.SetWindowText(QStringLiteral("GO"));
    }
}

void CCompassDlg::OnSelChangePort() {
    // The session knows the chosen port before any open, so that its messages (a calibration
    // button clicked before the port was opened) name the port and device the operator chose.
    const int index = m_cboPort.GetCurSel();
    if (index >= 0 && !m_session.isOpen())
        (void)m_session.selectPort(index + 1);  // 1..20: always a port
}

void CCompassDlg::OnDeviceLost() {
    CloseAdapterMessage();
    const QString port = m_session.portLabel();
    if (m_bPortOpen)
        OnOpenCom();  // back to Closed exactly as a click on Close does
    MessageBox(QStringLiteral("%1 has gone away: the device was unplugged or stopped answering. "
                              "The port is closed; reconnect the device and open the port again.")
                   .arg(port));
}

// ---- The port list and a replugged adapter --------------------------------------------------

void CCompassDlg::ShowPresentPorts(const QList<int>& present) {
    auto* ports = qobject_cast<QComboBox*>(m_cboPort.GetWidget());
    if (!ports)
        return;
    QFont bold = ports->font();
    bold.setBold(true);
    for (int i = 0; i < ports->count(); ++i) {
        const bool there = present.contains(i + 1);
        SetEntryData(*ports, i, there ? QVariant(bold) : QVariant(), Qt::FontRole);
        SetEntryData(*ports, i, there ? QVariant(QBrush(kPresentPortGreen)) : QVariant(),
                     Qt::ForegroundRole);
    }
    // The drop-down stays as wide as its widest entry, now in bold.
    QAbstractItemView* list = ports->view();
    int widest = 0;
    for (int i = 0; i < ports->count(); ++i)
        widest = std::max(widest, list->sizeHintForIndex(ports->model()->index(i, 0)).width());
    list->setMinimumWidth(
        std::max(list->minimumWidth(),
                 widest + 2 * list->frameWidth() +
                     ports->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list)));
    list->viewport()->update();
}

void CCompassDlg::DescribePorts() {
    auto* ports = qobject_cast<QComboBox*>(m_cboPort.GetWidget());
    if (!ports)
        return;
    const QList<SerialDevice> devices = ListSerialDevices(m_session.portMap());
    for (int i = 0; i < ports->count(); ++i)
        SetEntryData(*ports, i, PortToolTip(i + 1, m_session.portMap(), devices), Qt::ToolTipRole);
}

void CCompassDlg::ConnectAdapterWait() {
    // A look as soon as the devices change, besides the session's own looks.
    connect(&m_portWatcher, &PortWatcher::devicesChanged, &m_session,
            &ModuleSession::lookForAdapter);
    connect(&m_session, &ModuleSession::waitingForAdapter, this, [this](const QString& reason) {
        m_staticPortState.SetIcon(m_hIconPortClosed);
        ShowAdapterMessage(
            QStringLiteral("%1 has gone away (%2). Polling and recording stay on: the port "
                           "opens again when the same adapter returns. Close the port to stop "
                           "waiting.")
                .arg(m_session.portLabel(), reason));
    });
    connect(&m_session, &ModuleSession::differentAdapter, this, [this](const QString& why) {
        ShowAdapterMessage(QStringLiteral("%1 It was not opened: only the adapter that went "
                                          "away is opened again. Plug that one back in, or "
                                          "close the port to stop waiting.")
                               .arg(why));
    });
    connect(&m_session, &ModuleSession::reopenFailed, this, [this](const QString& why) {
        ShowAdapterMessage(QStringLiteral("%1 The console tries again every half second; close "
                                          "the port to stop waiting.")
                               .arg(why));
    });
    connect(&m_session, &ModuleSession::adapterReturned, this, [this] {
        CloseAdapterMessage();
        m_staticPortState.SetIcon(m_hIconPortOpen);
    });
}

// Not modal: the operator may leave it open while the console goes on polling and recording.
void CCompassDlg::ShowAdapterMessage(const QString& text) {
    if (!m_adapterMessage) {
        m_adapterMessage =
            new QMessageBox(QMessageBox::Warning, ApplicationTitle(), text, QMessageBox::Ok, this);
        m_adapterMessage->setObjectName(QStringLiteral("adapterMessage"));
        m_adapterMessage->setWindowModality(Qt::NonModal);
        m_adapterMessage->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_adapterMessage->setText(text);
    m_adapterMessage->show();
}

void CCompassDlg::CloseAdapterMessage() {
    if (m_adapterMessage)
        m_adapterMessage->close();
}

std::optional<CtlColor> CCompassDlg::OnCtlColor(int id) {
    const QBrush black(Qt::black);
    switch (id) {
        case IDC_STATIC_ROLL:
        case IDC_STATIC_ROLL_LABEL:
            return CtlColor{kRollColour, black};
        case IDC_STATIC_PITCH:
        case IDC_STATIC_PITCH_LABEL:
            return CtlColor{kPitchColour, black};
        case IDC_STATIC_HEADING:
        case IDC_STATIC_HEAD_LABEL:
            return CtlColor{kHeadingColour, black};
        case IDC_STATIC_SAMPLES:
            return CtlColor{kSampleYellow, m_brCalibration};
        case IDC_STATIC_X:
        case IDC_STATIC_Y:
        case IDC_STATIC_Z:
        case IDC_STATIC_SAMPLE_LABEL:
        case IDC_STATIC_RESULT:
            return CtlColor{Qt::white, m_brCalibration};
        default:
            return std::nullopt;
    }
}

void CCompassDlg::OnSysCommand(int commandId) {
    if ((commandId & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.DoModal();
    } else if ((commandId & 0xFFF0) == IDM_LIVEPLOT) {
        // Exports go to the record folder.
        ShowLivePlot(this, m_session.history(),
                     [this] { return QString::fromStdString(m_strSaveFolder); });
    } else if ((commandId & 0xFFF0) == IDM_SWING) {
        SwingWindow* swing =
            ShowSwingWindow(this, [this] { return QString::fromStdString(m_strSaveFolder); });
        connect(&m_session, &ModuleSession::readingReceived, swing, &SwingWindow::addReading,
                Qt::UniqueConnection);
    } else if ((commandId & 0xFFF0) == IDM_PORTS) {
        ShowPortsDialog(this, m_session.portMap(), m_portWatcher);
    } else if ((commandId & 0xFFF0) == IDM_DECLINATION) {
        const bool first = !findChild<DeclinationDialog*>(QString(), Qt::FindDirectChildrenOnly);
        DeclinationDialog* dialog = ShowDeclinationDialog(this);
        // "Use" puts the value into the declination field as if typed there and committed.
        if (first)
            connect(dialog, &DeclinationDialog::UseDeclination, this, [this](const QString& text) {
                SetDlgItemText(IDC_EDIT_DECLINATION, text);
                OnCommitFields();
            });
    } else if ((commandId & 0xFFF0) == IDM_FINDMODULE) {
        OnFindModule();
    }
}

void CCompassDlg::OnFindModule() {
    const bool first = !findChild<FindModuleDialog*>(QString(), Qt::FindDirectChildrenOnly);
    FindModuleDialog* dialog =
        ShowFindModuleDialog(this, m_session, [this] { return FindModulePlan(); });
    // What answered becomes the computer-side speed and the address, as if chosen and typed.
    if (first)
        connect(dialog, &FindModuleDialog::moduleFound, this, [this](int speedIndex, int address) {
            m_cboBaud.SetCurSel(speedIndex);
            m_nAddress = static_cast<std::uint32_t>(address);
            UpdateData(false);
        });
}

std::optional<ScanPlan> CCompassDlg::FindModulePlan() {
    // The search starts where the operator stands: the committed address, the chosen speed.
    if (!UpdateData(true))
        return std::nullopt;
    if (!m_session.isOpen()) {
        if (const auto failure = m_session.selectPort(m_cboPort.GetCurSel() + 1)) {
            ErrorBox(failure->description);
            return std::nullopt;
        }
    }
    ScanPlan plan;
    plan.speedIndex = m_cboBaud.GetCurSel() >= 0 ? m_cboBaud.GetCurSel() : m_session.speedIndex();
    plan.address = static_cast<int>(m_nAddress & 0xFF);
    return plan;
}

bool CCompassDlg::PreTranslateMessage(QObject*, QEvent* event) {
    // Enter goes nowhere: it must not press a button, close the window or reach an edit box.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease ||
        event->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        return key == Qt::Key_Return || key == Qt::Key_Enter;
    }
    return false;
}

void CCompassDlg::OnCommitFields() {
    UpdateData(true);
}

void CCompassDlg::OnDestroy() {
    // The timers stop and the port closes; a recording gets its pending lines and its end line.
    m_session.finish();
}

// ---- Sending -------------------------------------------------------------------------------

bool CCompassDlg::SendNow(CommandRow row) {
    if (const auto failure = m_session.send(row)) {
        ErrorBox(failure->description);
        return false;
    }
    return true;
}

void CCompassDlg::OnSetZero() {
    m_session.queueCommand(PendingCommand::SetZero);
}
void CCompassDlg::OnCancelZero() {
    m_session.queueCommand(PendingCommand::CancelZero);
}
void CCompassDlg::OnSetAddress() {
    m_session.queueCommand(PendingCommand::SetAddress);
}
void CCompassDlg::OnSetBaudRate() {
    m_session.queueCommand(PendingCommand::SetBaudRate);
}
void CCompassDlg::OnAutoOut() {
    m_session.queueCommand(PendingCommand::AutoOutput);
}
void CCompassDlg::OnCatechism() {
    m_session.queueCommand(PendingCommand::AnswerMode);
}
void CCompassDlg::OnHorizon() {
    m_session.queueCommand(PendingCommand::MountHorizontal);
}
void CCompassDlg::OnVertical() {
    m_session.queueCommand(PendingCommand::MountVertical);
}

void CCompassDlg::OnSetMag() {
    // From 160 degrees up the value would reach into the sign nibble and reach the module as a
    // different declination: refuse it rather than send a wrong value.
    if (!DeclinationInRange(m_dDeclination)) {
        MessageBox(
            QStringLiteral("The declination must lie between -159.9 and 159.9 degrees; "
                           "nothing was sent."));
        return;
    }
    SendNow(CMD_SET_DECLINATION);
}

void CCompassDlg::OnGoStop() {
    m_bPolling = m_bPolling == 0 ? 1 : 0;
    m_session.setPolling(m_bPolling != 0);
    m_btnGoStop.SetWindowText(m_bPolling ? QStringLiteral("STOP") : QStringLiteral("GO"));
    // Calibration set-up and Set Mag. wait while the module is being polled.
    for (CButton* button :
         {&m_btnAMode, &m_btnCalStart, &m_btnMMode, &m_btnCalSave, &m_btnSetMag}) {
        button->EnableWindow(m_bPolling == 0);
    }
}

// ---- Calibration ---------------------------------------------------------------------------

void CCompassDlg::OnCalStart() {
    if (SendNow(CMD_CAL_START))
        ShowCoverage(0, 0, 0);
}

void CCompassDlg::OnCalStop() {
    SendNow(CMD_CAL_STOP);
}

void CCompassDlg::OnCalSave() {
    SendNow(CMD_CAL_SAVE);
}

void CCompassDlg::OnAMode() {
    m_btnManual.EnableWindow(false);
    SendNow(CMD_CAL_A_MODE);
}

void CCompassDlg::OnMMode() {
    m_btnManual.EnableWindow(true);
    SendNow(CMD_CAL_M_MODE);
}

void CCompassDlg::OnManual() {
    m_btnManual.EnableWindow(false);
    m_btnManual.SetWindowText(QStringLiteral("Sampling"));
    // The wait for the count runs from here, even when the request cannot go out.
    if (const auto failure = m_session.startManualSample())
        ErrorBox(failure->description);
}

void CCompassDlg::ShowCoverage(unsigned x, unsigned y, unsigned z) {
    SetDlgItemText(IDC_STATIC_X, QStringLiteral("X:%1%").arg(x));
    SetDlgItemText(IDC_STATIC_Y, QStringLiteral("Y:%1%").arg(y));
    SetDlgItemText(IDC_STATIC_Z, QStringLiteral("Z:%1%").arg(z));
}

void CCompassDlg::ShowCalibrationError(quint8 code) {
    const QString text = code == ANS_CAL_STOP   ? QStringLiteral("Calibration Stop Error!")
                         : code == ANS_CAL_SAVE ? QStringLiteral("Calibration Save Error!")
                                                : QStringLiteral("Calibration Error!");
    MessageBox(text, QStringLiteral("Error"));
}

void CCompassDlg::ShowReadings() {
    SetDlgItemText(IDC_STATIC_ROLL, SignedReading(m_dRoll));
    SetDlgItemText(IDC_STATIC_PITCH, SignedReading(m_dPitch));
    SetDlgItemText(IDC_STATIC_HEADING, HeadingReading(m_dHeading));
}

// ---- Logs and recording --------------------------------------------------------------------

void CCompassDlg::OnClearSend() {
    m_session.clearSendLog();
    UpdateData(false);
}

void CCompassDlg::OnClearReceived() {
    m_session.clearReceivedLog();
    UpdateData(false);
}

void CCompassDlg::OnBrowseFolder() {
    const auto folder = BrowseForFolder(QStringLiteral("请选择要保存接收数据的文件夹"));
    if (folder && !folder->isEmpty()) {
        m_strSaveFolder = AbsoluteFolder(folder->toStdString());
        UpdateData(false);
    }
}

void CCompassDlg::OnRecord() {
    if (m_session.recorder().IsRecording()) {
        m_btnRecord.SetWindowText(QStringLiteral("Save"));
        m_session.stopRecording();
        return;
    }
    UpdateData(true);
    switch (m_session.startRecording(m_strSaveFolder)) {
        case RecordStart::Started:
            m_btnRecord.SetWindowText(QStringLiteral("Stop"));
            break;
        case RecordStart::CreateFailed:
            MessageBox(QStringLiteral("Creat file is fail!"));
            break;
        case RecordStart::NotFound:
            MessageBox(QStringLiteral("failed"));
            break;
        case RecordStart::AllNamesTaken:
            MessageBox(QStringLiteral("No record file name is free in %1: Rec00.txt to Rec99.txt "
                                      "all exist. Move old records away or choose another "
                                      "folder; nothing was overwritten.")
                           .arg(QString::fromStdString(m_strSaveFolder)));
            break;
    }
}

void CCompassDlg::ShowRecordNotice(const RecordNotice& notice) {
    const QString file = QString::fromStdString(notice.path);
    const QString detail = QString::fromStdString(notice.detail);
    switch (notice.kind) {
        case RecordNotice::Kind::DiskRefused:
            MessageBox(QStringLiteral("creat file is fail!"));
            break;
        case RecordNotice::Kind::FramesNotRecorded:
            MessageBox(QStringLiteral("The disk of %1 stayed full too long: %2 received frames "
                                      "could not be recorded (the console holds at most %3 MB "
                                      "for a full disk). The record marks the place with the "
                                      "line \"%4\".")
                           .arg(file)
                           .arg(notice.frames)
                           .arg(Recorder::kHoldLimit >> 20)
                           .arg(QString::fromStdString(NotRecordedLine(notice.frames)).trimmed()));
            break;
        case RecordNotice::Kind::FileLost:
            MessageBox(QStringLiteral("The record %1 was deleted while recording and cannot "
                                      "be made again (%2). Recording goes on and the record is "
                                      "put back as soon as its folder can be made; if "
                                      "recording stops before that, the record is lost.")
                           .arg(file, detail));
            break;
        case RecordNotice::Kind::FileMadeAgain:
            MessageBox(notice.detail == notice.path
                           ? QStringLiteral("The record %1 was deleted while recording. It has "
                                            "been made again with everything received so "
                                            "far, and recording goes on.")
                                 .arg(file)
                           : QStringLiteral("The record %1 was deleted while recording. It has "
                                            "been made again as %2 with everything received "
                                            "so far, and recording goes on.")
                                 .arg(file, detail));
            break;
    }
}
