#include "PortTable.h"

#include <QByteArray>
#include <QtGlobal>

QString DeviceForPort(int portNumber) {
    if (portNumber < kFirstPort || portNumber > kLastPort)
        return QString();
    const QByteArray overrideName = "TORVA_COM" + QByteArray::number(portNumber);
    const QString overridden = qEnvironmentVariable(overrideName.constData());
    if (!overridden.isEmpty())
        return overridden;
    if (portNumber <= 8)
        return QStringLiteral("/dev/ttyUSB%1").arg(portNumber - 1);
    if (portNumber <= 12)
        return QStringLiteral("/dev/ttyACM%1").arg(portNumber - 9);
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 13);
}
