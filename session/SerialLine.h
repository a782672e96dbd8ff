#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

// The serial line to the module on one QSerialPort, in the thread that owns it: opened for this
// program alone at one of the module's speeds, 8 data bits, no parity, 1 stop bit and no flow
// control, with every byte passed unchanged both ways. Failures come back as the reason, in
// words the operator can act on; whoever names the port builds the message around it.
class SerialLine : public QObject {
    Q_OBJECT
public:
    explicit SerialLine(QObject* parent = nullptr);
    ~SerialLine() override;

    // Opens `device` at `speed` bit/s (0: the speed in force, 9600 at first). What waited on
    // the line before the open is discarded. The reason when it cannot be opened.
    [[nodiscard]] std::optional<QString> open(const QString& device, qint32 speed);
    // Moves the open line to `speed` bit/s. What waited on the line at the old speed is
    // discarded: it cannot be an answer to anything sent at the new one. The reason on failure.
    [[nodiscard]] std::optional<QString> setSpeed(qint32 speed);
    // Closing a closed line is fine.
    void close();
    bool isOpen() const;
    // The device opened last (QSerialPort keeps only its short name).
    const QString& device() const { return m_device; }
    qint32 speed() const { return m_speed; }

    // One write of the whole frame, handed to the driver at once. The reason when the port did
    // not take it all. The line must be open.
    [[nodiscard]] std::optional<QString> write(std::span<const std::uint8_t> bytes);
    // Every byte received and not read yet, oldest first.
    QByteArray readAll();

signals:
    // Bytes are waiting: the receiver reads them with readAll().
    void bytesWaiting();
    // The device vanished (unplugged, or the other side of a pseudo-terminal closed), for
    // `reason`. The line is closed already; said once per open.
    void deviceLost(const QString& reason);

private:
    void onReadyRead();
    void announceWaitingBytes();  // posts one announcement for bytes nobody was told of
    void onError(QSerialPort::SerialPortError error);

    // One port object for the line's whole life: queued announcements are posted to it, so
    // none can reach the line after it is gone.
    std::unique_ptr<QSerialPort> m_port;
    QString m_device;
    qint32 m_speed = 9600;
    bool m_deviceLost = false;  // from a vanished device until the next open
    int m_announcing = 0;       // receivers of an announcement running, nested ones included
    bool m_announcementPosted = false;
};
