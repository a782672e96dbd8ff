#include "CompassDlg.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QShortcut>
#include <algorithm>
#include <array>
#include <cstdio>

#include "AboutDlg.h"
#include "DeclinationDialog.h"
#include "LineRules.h"
#include "LivePlotWindow.h"
#include "MainTemplate.h"
#include "PortTable.h"
#include "ReadingHistory.h"
#include "Recording.h"
#include "Response.h"
#include "Styling.h"
#include "SwingWindow.h"
#include "TrafficLog.h"
#include "resource.h"

namespace {

// Poll and calibration state shared by the poll tick, the buttons and the answers.
std::uint8_t g_nPendingCommand = 0;   // 0 = none, 1..8 = a configuration button's code
std::uint8_t g_bAutoOutput = 0;       // the module streams readings by itself
std::uint8_t g_bSampleWait = 0;       // a manual calibration sample is awaited
std::uint8_t g_nSampleWaitTicks = 0;  // poll ticks counted while waiting for it

// Codes the configuration buttons leave for the next poll tick (0 = none).
enum PendingCode : std::uint8_t {
    kPendingSetZero = 1,
    kPendingCancelZero,
    kPendingSetAddress,
    kPendingSetBaudRate,
    kPendingAutoOut,
    kPendingCatechism,
    kPendingHorizon,
    kPendingVertical,
};

constexpr int kSampleTimeoutTicks = 100;

// Rows and output-mode effects of the pending-command codes 1..8.
enum class OutputModeEffect { Unchanged, AnswerOnRequest, Automatic };
struct PendingRow {
    CommandRow row;
    OutputModeEffect outputMode;
};
constexpr std::array<PendingRow, 8> kPendingRows = {{
    {CMD_SET_ZERO, OutputModeEffect::Unchanged},
    {CMD_CANCEL_ZERO, OutputModeEffect::Unchanged},
    {CMD_SET_ADDRESS, OutputModeEffect::Unchanged},
    {CMD_SET_BAUD, OutputModeEffect::Unchanged},
    {CMD_AUTO_OUTPUT, OutputModeEffect::Automatic},
    {CMD_ANSWER_MODE, OutputModeEffect::AnswerOnRequest},
    {CMD_MOUNT_HORIZONTAL, OutputModeEffect::AnswerOnRequest},
    {CMD_MOUNT_VERTICAL, OutputModeEffect::AnswerOnRequest},
}};

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

SendLogVariant LogVariantFor(CommandRow row) {
    if (row == CMD_READ)
        return SendLogVariant::ReadRequest;
    if (row == CMD_SET_DECLINATION)
        return SendLogVariant::Uncounted;
    return SendLogVariant::Counted;
}

const HandlerEntry<CCompassDlg> kMessageMap[] = {
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
    {IDC_MSCOMM, Notification::CommEvent, &CCompassDlg::OnCommMscomm},
    {IDC_MSCOMM, Notification::DeviceLost, &CCompassDlg::OnDeviceLost},
    {IDC_COMBO_PORT, Notification::SelChange, &CCompassDlg::OnSelChangePort},
};

}  // namespace

CCompassDlg::CCompassDlg(QWidget* parent)
    : CDialogBase(MainWindowTemplate(), parent),
      m_strSaveFolder(DefaultSaveFolder()),
      m_hIcon(LoadIconResource(IDR_MAINFRAME)),
      m_brCalibration(kCalibrationRed) {
    BindHandlers(kMessageMap);
    m_strFrameHex.reserve(256);
    m_sendBytes.reserve(16);
}

CCompassDlg::~CCompassDlg() {
    DestroyWindow();
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
    DDX_Control(pDX, IDC_MSCOMM, m_ctrlComm);
    DDX_Text(pDX, IDC_EDIT_RECEIVED, m_strReceived);
    DDX_Text(pDX, IDC_EDIT_SEND, m_strSend);
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
    if (auto* ports = qobject_cast<QComboBox*>(m_cboPort.GetWidget())) {
        for (int i = 0; i < ports->count(); ++i) {
            ports->setItemData(i, DeviceForPort(i + 1), Qt::ToolTipRole);
        }
    }

    m_btnGoStop.EnableWindow(false);

    m_hIconPortOpen = LoadIconResource(IDI_PORT_OPEN);
    m_hIconPortClosed = LoadIconResource(IDI_PORT_CLOSED);
    m_staticPortState.SetIcon(m_hIconPortClosed);

    m_btnManual.EnableWindow(false);

    SetTimer(IDT_POLL, 100);
    SetTimer(IDT_RATE, 1000);
    return true;
}

void CCompassDlg::OnOpenCom() {
    if (m_bPortOpen == 0) {
        m_ctrlComm.SetCommPort(static_cast<short>(m_cboPort.GetCurSel() + 1));
        if (m_ctrlComm.GetPortOpen())
            m_ctrlComm.SetPortOpen(false);
        if (m_ctrlComm.GetPortOpen()) {
            m_staticPortState.SetIcon(m_hIconPortClosed);
            MessageBox(QStringLiteral("NO FOUND THE PORT"));
            m_btnOpenCom.SetWindowText(QStringLiteral("Open"));
            m_ctrlComm.SetPortOpen(false);
            m_dRoll = m_dPitch = m_dHeading = 0.0;
            return;
        }
        m_ctrlComm.SetPortOpen(true);
        m_cboBaud.EnableWindow(false);
        m_cboPort.EnableWindow(false);
        m_bPortOpen = 1;
        m_btnGoStop.EnableWindow(true);
        m_staticPortState.SetIcon(m_hIconPortOpen);
        m_btnOpenCom.SetWindowText(QStringLiteral("Close"));
        const QString settings = SettingsString(m_cboBaud.GetCurSel());
        if (!settings.isEmpty())  // no entry selected: the port keeps its settings
            m_ctrlComm.SetSettings(settings);
        m_ctrlComm.SetInputMode(comInputModeBinary);
        m_ctrlComm.SetRThreshold(1);
        m_ctrlComm.SetInputLen(0);
        m_ctrlComm.GetInput();  // bytes that waited before the open never reach the assembler
    } else {
        m_bPortOpen = 0;
        m_staticPortState.SetIcon(m_hIconPortClosed);
        m_cboBaud.EnableWindow(true);
        m_cboPort.EnableWindow(true);
        m_btnGoStop.EnableWindow(false);
        m_bPolling = 0;
        m_btnOpenCom.SetWindowText(QStringLiteral("Open"));
        m_ctrlComm.SetPortOpen(false);
        m_dRoll = m_dPitch = m_dHeading = 0.0;
        SetDlgItemText(IDC_STATIC_ROLL, FormatReading("%.2f", m_dRoll));
        SetDlgItemText(IDC_STATIC_PITCH, FormatReading("%.2f", m_dPitch));
        SetDlgItemText(IDC_STATIC_HEADING, FormatReading("%.1f", m_dHeading));
        m_btnGoStop.SetWindowText(QStringLiteral("GO"));
    }
}

void CCompassDlg::OnSelChangePort() {
    // The adapter knows the chosen port before any open, so that its messages (a calibration
    // button clicked before the port was opened) name the port and device the operator chose.
    const int index = m_cboPort.GetCurSel();
    if (index >= 0 && !m_ctrlComm.GetPortOpen())
        m_ctrlComm.SetCommPort(static_cast<short>(index + 1));
}

void CCompassDlg::OnDeviceLost() {
    const QString port = QStringLiteral("Com%1").arg(m_ctrlComm.GetCommPort());
    const QString device = m_ctrlComm.DevicePath();
    if (m_bPortOpen)
        OnOpenCom();  // back to Closed exactly as a click on Close does
    MessageBox(QStringLiteral("%1 (%2) has gone away: the device was unplugged or stopped "
                              "answering. The port is closed; reconnect the device and open "
                              "the port again.")
                   .arg(port, device));
}

std::optional<CtlColor> CCompassDlg::OnCtlColor(int id) {
    const QBrush black(Qt::black);
    switch (id) {
        case IDC_STATIC_ROLL:
        case IDC_STATIC_ROLL_LABEL:
            return CtlColor{kRollRed, black};
        case IDC_STATIC_PITCH:
        case IDC_STATIC_PITCH_LABEL:
            return CtlColor{kPitchBlue, black};
        case IDC_STATIC_HEADING:
        case IDC_STATIC_HEAD_LABEL:
            return CtlColor{kHeadingGreen, black};
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
        ShowLivePlot(this, [this] { return QString::fromStdString(m_strSaveFolder); });
    } else if ((commandId & 0xFFF0) == IDM_SWING) {
        SwingWindow* swing =
            ShowSwingWindow(this, [this] { return QString::fromStdString(m_strSaveFolder); });
        connect(this, &CCompassDlg::ReadingArrived, swing, &SwingWindow::addReading,
                Qt::UniqueConnection);
    } else if ((commandId & 0xFFF0) == IDM_DECLINATION) {
        const bool first = !findChild<DeclinationDialog*>(QString(), Qt::FindDirectChildrenOnly);
        DeclinationDialog* dialog = ShowDeclinationDialog(this);
        // "Use" puts the value into the declination field as if typed there and committed.
        if (first)
            connect(dialog, &DeclinationDialog::UseDeclination, this, [this](const QString& text) {
                RunGuarded([this, text] {
                    SetDlgItemText(IDC_EDIT_DECLINATION, text);
                    OnCommitFields();
                });
            });
    }
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
    KillTimer(IDT_POLL);
    KillTimer(IDT_RATE);
    if (m_ctrlComm.GetPortOpen())
        m_ctrlComm.SetPortOpen(false);
    // Closing while recording must not lose the pending lines nor the end line.
    if (m_recorder.IsRecording())
        FinishRecording();
}

// ---- Sending -------------------------------------------------------------------------------

void CCompassDlg::SendCommandRow(CommandRow row) {
    FrameParameters parameters;
    parameters.address = m_nAddress;
    parameters.newAddress = m_nNewAddress;
    parameters.baudIndex = m_cboModuleBaud.GetCurSel();
    parameters.declination = m_dDeclination;
    const CommandFrame& frame = StampCommandRow(row, parameters);
    const std::string text = FrameToHexText(frame.bytes.data(), frame.size());
    HexTextToBytes(text, m_sendBytes);
    m_ctrlComm.SetOutput(m_sendBytes);
    LogSentFrame(m_strSend, text, LogVariantFor(row));
    if (row != CMD_SET_DECLINATION)
        UpdateData(false);
}

void CCompassDlg::OnSetZero() {
    g_nPendingCommand = kPendingSetZero;
}
void CCompassDlg::OnCancelZero() {
    g_nPendingCommand = kPendingCancelZero;
}
void CCompassDlg::OnSetAddress() {
    g_nPendingCommand = kPendingSetAddress;
}
void CCompassDlg::OnSetBaudRate() {
    g_nPendingCommand = kPendingSetBaudRate;
}
void CCompassDlg::OnAutoOut() {
    g_nPendingCommand = kPendingAutoOut;
}
void CCompassDlg::OnCatechism() {
    g_nPendingCommand = kPendingCatechism;
}
void CCompassDlg::OnHorizon() {
    g_nPendingCommand = kPendingHorizon;
}
void CCompassDlg::OnVertical() {
    g_nPendingCommand = kPendingVertical;
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
    SendCommandRow(CMD_SET_DECLINATION);
}

void CCompassDlg::OnGoStop() {
    m_bPolling = m_bPolling == 0 ? 1 : 0;
    m_btnGoStop.SetWindowText(m_bPolling ? QStringLiteral("STOP") : QStringLiteral("GO"));
    // Calibration set-up and Set Mag. wait while the module is being polled.
    for (CButton* button :
         {&m_btnAMode, &m_btnCalStart, &m_btnMMode, &m_btnCalSave, &m_btnSetMag}) {
        button->EnableWindow(m_bPolling == 0);
    }
}

// ---- Calibration buttons -------------------------------------------------------------------

void CCompassDlg::OnCalStart() {
    SendCommandRow(CMD_CAL_START);
    ShowCoverage(0, 0, 0);
}

void CCompassDlg::OnCalStop() {
    SendCommandRow(CMD_CAL_STOP);
}

void CCompassDlg::OnCalSave() {
    SendCommandRow(CMD_CAL_SAVE);
}

void CCompassDlg::OnAMode() {
    m_btnManual.EnableWindow(false);
    SendCommandRow(CMD_CAL_A_MODE);
}

void CCompassDlg::OnMMode() {
    m_btnManual.EnableWindow(true);
    SendCommandRow(CMD_CAL_M_MODE);
}

void CCompassDlg::OnManual() {
    m_btnManual.EnableWindow(false);
    m_btnManual.SetWindowText(QStringLiteral("Sampling"));
    g_bSampleWait = 1;
    g_nSampleWaitTicks = 0;
    SendCommandRow(CMD_CAL_MANUAL);
}

void CCompassDlg::ShowCoverage(unsigned x, unsigned y, unsigned z) {
    SetDlgItemText(IDC_STATIC_X, QStringLiteral("X:%1%").arg(x));
    SetDlgItemText(IDC_STATIC_Y, QStringLiteral("Y:%1%").arg(y));
    SetDlgItemText(IDC_STATIC_Z, QStringLiteral("Z:%1%").arg(z));
}

// ---- Timers --------------------------------------------------------------------------------

void CCompassDlg::OnTimer(int id) {
    if (id == IDT_RATE) {
        char text[32];
        std::snprintf(text, sizeof text, "%4dHz", FrameCount());
        m_editRate.SetWindowText(QString::fromLatin1(text));
        ResetFrameCount();
        return;
    }
    if (id != IDT_POLL)
        return;

    // Lines held for a full disk go out as soon as it has room, frames arriving or not.
    if (m_recorder.HeldBytes() > 0) {
        m_recorder.Flush();
        ReportRecordNotices();
    }

    if (!m_ctrlComm.GetPortOpen())
        return;

    if (m_bPolling == 1 && g_bAutoOutput == 0 && g_nPendingCommand == 0)
        SendCommandRow(CMD_READ);

    if (g_bSampleWait) {
        ++g_nSampleWaitTicks;
        if (g_nSampleWaitTicks >= kSampleTimeoutTicks) {
            // Cleared before the box: ticks served inside it must not raise it again.
            g_nSampleWaitTicks = 0;
            g_bSampleWait = 0;
            m_btnManual.EnableWindow(true);
            MessageBox(QStringLiteral("Time out ! Try again!"), QStringLiteral("Try again"));
        }
    }

    const std::uint8_t pending = g_nPendingCommand;
    if (pending >= 1 && pending <= kPendingRows.size()) {
        const PendingRow& entry = kPendingRows[pending - 1];
        if (entry.outputMode != OutputModeEffect::Unchanged)
            g_bAutoOutput = entry.outputMode == OutputModeEffect::Automatic ? 1 : 0;
        SendCommandRow(entry.row);
        g_nPendingCommand = 0;
    }

    ShowReadings();
}

void CCompassDlg::ShowReadings() {
    SetDlgItemText(IDC_STATIC_ROLL, SignedReading(m_dRoll));
    SetDlgItemText(IDC_STATIC_PITCH, SignedReading(m_dPitch));
    SetDlgItemText(IDC_STATIC_HEADING, HeadingReading(m_dHeading));
}

// ---- Receiving -----------------------------------------------------------------------------

void CCompassDlg::OnCommMscomm() {
    if (m_ctrlComm.GetCommEvent() == comEvReceive)
        FeedInput(m_ctrlComm.GetInput());
    UpdateData(false);
}

void CCompassDlg::FeedInput(const QByteArray& input) {
    for (const char c : input) {
        const auto byte = static_cast<std::uint8_t>(c);
        LogReceivedByte(m_strFrameHex, byte);
        switch (FeedByte(byte)) {
            case FeedOutcome::Stored:
                break;
            case FeedOutcome::Rejected:
                LogRejectedBytes(m_strReceived, m_strFrameHex);
                return;  // the rest of this read is dropped
            case FeedOutcome::Complete:
                // A block the disk refuses is held by the record: the frame goes on as usual.
                LogCompletedFrame(m_strReceived, m_strFrameHex, m_recorder);
                ReportRecordNotices();
                CountCompletedFrame();
                if (AssembledFrameChecksumHolds())
                    DispatchResponse();
                break;
        }
    }
}

void CCompassDlg::ShowAcknowledgement(bool success) {
    if (success) {
        MessageBox(QStringLiteral("Successful!"), QStringLiteral("Success"));
    } else {
        MessageBox(QStringLiteral("Error!"), QStringLiteral("Error"));
    }
}

void CCompassDlg::DispatchResponse() {
    const std::uint8_t* frame = AssembledFrame();
    const std::uint8_t status = frame[4];  // the first payload byte: success or error
    switch (frame[3]) {
        case ANS_READ: {
            // A frame too short for three values, or with digits above 9, is logged and counted
            // but is no reading: the displays keep the last good one, the plot never sees it.
            const std::optional<Reading> reading = ReadingOfFrame(frame, frame[1] + 1u);
            if (!reading)
                break;
            m_dPitch = reading->pitch;
            m_dRoll = reading->roll;
            m_dHeading = reading->heading;
            RecordReading(m_dPitch, m_dRoll, m_dHeading);  // the live plot's history
            emit ReadingArrived(SteadyNowNs(), m_dPitch, m_dRoll, m_dHeading);
            break;
        }
        case ANS_ZERO:
        case ANS_SET_BAUD:
            ShowAcknowledgement(status == kAnswerSuccess);
            break;
        case ANS_SET_ADDRESS:
            if (status == kAnswerSuccess)
                m_nAddress = m_nNewAddress;
            ShowAcknowledgement(status == kAnswerSuccess);
            break;
        case ANS_CAL_SAMPLES:
            if (status == kCalibrationError) {
                MessageBox(QStringLiteral("Calibration Error!"), QStringLiteral("Error"));
            } else {
                MessageBeep();
                SetDlgItemText(IDC_STATIC_SAMPLES, QString::number(status));
                g_bSampleWait = 0;
                m_btnManual.EnableWindow(true);
                m_btnManual.SetWindowText(QStringLiteral("Manual"));
            }
            break;
        case ANS_CAL_STOP:
            if (status == kCalibrationError) {
                MessageBox(QStringLiteral("Calibration Stop Error!"), QStringLiteral("Error"));
            } else {
                ShowCoverage(frame[5], frame[6], frame[7]);
            }
            break;
        case ANS_CAL_SAVE:
            if (status == kCalibrationError) {
                MessageBox(QStringLiteral("Calibration Save Error!"), QStringLiteral("Error"));
            } else {
                MessageBeep();
                ShowCoverage(0, 0, 0);
                SetDlgItemText(IDC_STATIC_SAMPLES, QStringLiteral("0"));
            }
            break;
        default:
            break;  // other answers are only logged and counted
    }
}

// ---- Logs and recording --------------------------------------------------------------------

void CCompassDlg::OnClearSend() {
    m_strSend.clear();
    UpdateData(false);
}

void CCompassDlg::OnClearReceived() {
    m_strReceived.clear();
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
    if (m_recorder.IsRecording()) {
        m_btnRecord.SetWindowText(QStringLiteral("Save"));
        FinishRecording();
        return;
    }
    UpdateData(true);
    switch (m_recorder.Start(m_strSaveFolder, LocalTimeNow())) {
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

void CCompassDlg::FinishRecording() {
    const RecordStop outcome = StopRecording(m_recorder, m_strReceived, LocalTimeNow());
    if (outcome != RecordStop::Stopped)
        MessageBox(QStringLiteral("creat file is fail!!"));
    ReportRecordNotices();
}

void CCompassDlg::ReportRecordNotices() {
    for (const RecordNotice& notice : m_recorder.TakeNotices()) {
        const QString file = QString::fromStdString(notice.path);
        const QString detail = QString::fromStdString(notice.detail);
        switch (notice.kind) {
            case RecordNotice::Kind::DiskRefused:
                MessageBox(QStringLiteral("creat file is fail!"));
                break;
            case RecordNotice::Kind::FramesNotRecorded:
                MessageBox(
                    QStringLiteral("The disk of %1 stayed full too long: %2 received frames "
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
}
