#pragma once

#include <QByteArray>
#include <QSerialPort>
#include <QString>
#include <cstdint>
#include <memory>
#include <span>

#include "Controls.h"

// Event codes of the receive notification.
constexpr short comEvReceive = 2;
constexpr long comInputModeText = 0;
constexpr long comInputModeBinary = 1;

// The serial adapter: the operations the window uses, on QSerialPort in the GUI thread.
// Failures throw CControlException with a description that names the device and the reason.
class CMSComm : public CWnd {
public:
    CMSComm();
    ~CMSComm() override;

    void SetCommPort(short portNumber);  // 1..20, otherwise an error
    short GetCommPort() const { return m_nPort; }
    bool GetPortOpen() const;
    void SetPortOpen(
        bool open);  // open exclusively with the current settings; closing a closed port is fine
    void SetSettings(const QString& settings);  // "9600,n,8,1" and the five others; applied at once
    QString GetSettings() const { return m_settings; }
    void SetInputMode(long mode);
    void SetRThreshold(short threshold);
    void SetInputLen(short length);
    QByteArray GetInput();  // every byte received and not yet read, oldest first
    void SetOutput(std::span<const std::uint8_t> bytes);  // one write, not waiting for the line
    short GetCommEvent() const { return m_nCommEvent; }

    // The device of the selected port (for messages and tooltips).
    QString DevicePath() const;

private:
    void OnReadyRead();
    void AnnounceWaitingBytes();  // posts one announcement for bytes nobody was told of
    void OnError(QSerialPort::SerialPortError error);
    [[noreturn]] void Raise(const QString& description) const;
    QString PortLabel() const;  // "Com3 (/dev/ttyUSB2)"
    bool ApplySettings();

    // One port object for the adapter's whole life: queued notifications are posted to it, so
    // none can reach the adapter after it is gone.
    std::unique_ptr<QSerialPort> m_port;
    short m_nPort = 0;
    QString m_devicePath;  // the device opened last; QSerialPort keeps only its short name
    QString m_settings = QStringLiteral("9600,n,8,1");
    qint32 m_baud = 9600;
    short m_nCommEvent = 0;
    bool m_bDeviceLost = false;  // from a vanished device until the next open
    int m_nNotifyDepth = 0;      // handlers of an announcement running, nested ones included
    bool m_bAnnouncementPosted = false;
};
