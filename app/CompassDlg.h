#pragma once

#include <QBrush>
#include <QFont>
#include <QPointer>
#include <cstdint>
#include <string>

#include "DataExchange.h"
#include "Dialog.h"
#include "ModuleScanner.h"
#include "ModuleSession.h"
#include "PortWatcher.h"

QT_BEGIN_NAMESPACE
class QMessageBox;
QT_END_NAMESPACE

// The console's one window: a view of its module session. Its controls drive the session (the
// port, polling, configuration commands, calibration, the two traffic panes and recording), and
// the session's signals become the window's texts, boxes and enable states. Tests drive it as an
// operator does, through its controls.
class CCompassDlg : public CDialogBase {
    Q_OBJECT
public:
    explicit CCompassDlg(QWidget* parent = nullptr);
    ~CCompassDlg() override;

    ModuleSession& session() { return m_session; }
    const ModuleSession& session() const { return m_session; }
    PortWatcher& portWatcher() { return m_portWatcher; }

    void OnSysCommand(int commandId) override;
    std::optional<CtlColor> OnCtlColor(int id) override;

    // Members, in their documented order.
    int m_bPolling = 0;
    CButton m_btnAMode;
    CButton m_btnManual;
    CButton m_btnSetMag;
    CButton m_btnCalSave;
    CButton m_btnMMode;
    CButton m_btnCalStart;
    CButton m_btnGoStop;
    CButton m_btnRecord;
    CEdit m_editRate;
    CButton m_btnCatechism;
    CButton m_btnAutoOut;
    CButton m_btnCancelZero;
    CComboBox m_cboModuleBaud;
    CStatic m_staticPortState;
    CButton m_btnSetZero;
    CButton m_btnOpenCom;
    CComboBox m_cboPort;
    CComboBox m_cboBaud;
    double m_dRoll = 0.0;
    double m_dPitch = 0.0;
    double m_dHeading = 0.0;
    int m_bPortOpen = 0;
    std::string m_strSaveFolder;
    std::uint32_t m_nAddress = 0;
    std::uint32_t m_nNewAddress = 0;
    double m_dDeclination = -0.1;
    HICON m_hIcon = nullptr;
    HICON m_hIconPortClosed = nullptr;
    HICON m_hIconPortOpen = nullptr;
    QBrush m_brCalibration;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnInitDialog() override;
    void OnDestroy() override;
    bool PreTranslateMessage(QObject* target, QEvent* event) override;

private:
    // Handlers of the controls, bound by the handler table.
    void OnOpenCom();
    void OnCommitFields();
    void OnRecord();
    void OnClearSend();
    void OnClearReceived();
    void OnBrowseFolder();
    void OnSetZero();
    void OnCancelZero();
    void OnSetAddress();
    void OnSetBaudRate();
    void OnAutoOut();
    void OnCatechism();
    void OnHorizon();
    void OnVertical();
    void OnGoStop();
    void OnSetMag();
    void OnCalStart();
    void OnCalStop();
    void OnCalSave();
    void OnAMode();
    void OnMMode();
    void OnManual();
    void OnDeviceLost();  // the session closed a line whose device vanished
    void OnSelChangePort();
    void OnFindModule();
    // Where a search starts; selects the port when it is closed. Nothing (with the reason
    // shown) when the fields or the port do not allow one.
    std::optional<ScanPlan> FindModulePlan();

    // The port list: entries whose device is there now are marked; each entry's tooltip
    // describes its device.
    void ShowPresentPorts(const QList<int>& present);
    void DescribePorts();
    // Following a replugged adapter: one message that stays open without blocking anything,
    // closed when the adapter is back or the wait ends.
    void ConnectAdapterWait();
    void ShowAdapterMessage(const QString& text);
    void CloseAdapterMessage();

    // Sends a row at once; false, with the line's failure shown, when it could not go out.
    bool SendNow(CommandRow row);
    void ConnectSession();
    void ShowReadings();
    void ShowCoverage(unsigned x, unsigned y, unsigned z);
    void ShowCalibrationError(quint8 code);
    void ShowRecordNotice(const RecordNotice& notice);

    // The line, the frames both ways, the logs, the record file, the readings' history, polling
    // and the pending command. Declared after the members its parameter source reads.
    ModuleSession m_session;
    // Looks at the machine's serial devices once a second for the port list and the wait for
    // a replugged adapter.
    PortWatcher m_portWatcher{m_session.portMap()};
    QPointer<QMessageBox> m_adapterMessage;
    // The reading, sample-count and label fonts, made once when the window is built.
    QFont m_fontReadings;
    QFont m_fontSamples;
    QFont m_fontLabels;
};
