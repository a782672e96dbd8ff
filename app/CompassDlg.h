#pragma once

#include <QBrush>
#include <QByteArray>
#include <QFont>
#include <cstdint>
#include <string>
#include <vector>

#include "CMSComm.h"
#include "CommandTable.h"
#include "Dialog.h"
#include "Recording.h"

// The console's one window: port, polling, configuration commands, calibration, the two traffic
// panes and recording. Handlers are public so that tests can drive them as messages would.
class CCompassDlg : public CDialogBase {
    Q_OBJECT
public:
    explicit CCompassDlg(QWidget* parent = nullptr);
    ~CCompassDlg() override;

    // Sends one row of the command table with the current address and parameters.
    void SendCommandRow(CommandRow row);

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
    void OnCommMscomm();  // the serial control's event: bytes received
    void OnDeviceLost();  // the serial control closed a port whose device vanished
    void OnSelChangePort();
    void OnTimer(int id) override;
    void OnSysCommand(int commandId) override;
    std::optional<CtlColor> OnCtlColor(int id) override;
    HICON OnQueryDragIcon() const { return m_hIcon; }

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
    CMSComm m_ctrlComm;
    double m_dRoll = 0.0;
    double m_dPitch = 0.0;
    double m_dHeading = 0.0;
    int m_bPortOpen = 0;
    std::string m_strReceived;
    std::string m_strFrameHex;
    std::string m_strSaveFolder;
    std::string m_strSend;
    std::uint32_t m_nAddress = 0;
    std::uint32_t m_nNewAddress = 0;
    double m_dDeclination = -0.1;
    HICON m_hIcon = nullptr;
    HICON m_hIconPortClosed = nullptr;
    HICON m_hIconPortOpen = nullptr;
    QBrush m_brCalibration;
    // The record file and what its disk has not taken yet (g_bRecording, g_recordFile,
    // g_szRecordName).
    Recorder m_recorder;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnInitDialog() override;
    void OnDestroy() override;
    bool PreTranslateMessage(QObject* target, QEvent* event) override;

public:
    // Feeds one read to the assembler and the logs. Public so the receive path can be driven
    // without a serial line.
    void FeedInput(const QByteArray& input);

signals:
    // Every reading whose checksum holds, stamped on arrival (steady clock, nanoseconds).
    void ReadingArrived(qint64 steadyNs, double pitch, double roll, double heading);

private:
    void DispatchResponse();
    void ShowAcknowledgement(bool success);
    void ShowReadings();
    void ShowCoverage(unsigned x, unsigned y, unsigned z);
    void FinishRecording();
    void ReportRecordNotices();

    std::vector<std::uint8_t> m_sendBytes;
    // The reading, sample-count and label fonts, made once when the window is built.
    QFont m_fontReadings;
    QFont m_fontSamples;
    QFont m_fontLabels;
};
