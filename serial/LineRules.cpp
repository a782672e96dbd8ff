#include "LineRules.h"

#include <QFileInfo>

QStringList LineSpeedNames() {
    QStringList names;
    for (const qint32 speed : kLineSpeeds)
        names << QString::number(speed);
    return names;
}

QString LineSpeedsInWords() {
    QStringList speeds = LineSpeedNames();
    const QString last = speeds.takeLast();
    return speeds.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

bool ApplyLineSettings(QSerialPort& port, qint32 speed) {
    return port.setBaudRate(speed) && port.setDataBits(QSerialPort::Data8) &&
           port.setParity(QSerialPort::NoParity) && port.setStopBits(QSerialPort::OneStop) &&
           port.setFlowControl(QSerialPort::NoFlowControl);
}

QString OpenFailureReason(const QSerialPort& port, const QString& device) {
    switch (port.error()) {
        case QSerialPort::DeviceNotFoundError:
            return QStringLiteral("no such device");
        case QSerialPort::PermissionError: {
            // Qt reports a port that another program holds (its lock, or an exclusive open) with
            // the same error as missing rights: the rights on the device tell them apart.
            const QFileInfo info(device);
            if (info.isReadable() && info.isWritable())
                return QStringLiteral("the device is in use by another program (the port is busy)");
            return QStringLiteral(
                       "permission denied (%1); the user needs access to the device, for example "
                       "membership of the 'dialout' group")
                .arg(port.errorString());
        }
        default:
            return port.errorString();
    }
}
