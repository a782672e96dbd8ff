#include "PortTable.h"

#include <QByteArray>
#include <QtGlobal>

namespace {

bool ValidPort(int portNumber) {
    return portNumber >= kFirstPort && portNumber <= kLastPort;
}

QString VariableDevice(int portNumber) {
    const QByteArray name = "TORVA_COM" + QByteArray::number(portNumber);
    return qEnvironmentVariable(name.constData());
}

}  // namespace

QString TableDeviceForPort(int portNumber) {
    if (!ValidPort(portNumber))
        return QString();
    if (portNumber <= 8)
        return QStringLiteral("/dev/ttyUSB%1").arg(portNumber - 1);
    if (portNumber <= 12)
        return QStringLiteral("/dev/ttyACM%1").arg(portNumber - 9);
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 13);
}

QString PortMap::DeviceFor(int portNumber) const {
    if (!ValidPort(portNumber))
        return QString();
    if (!m_chosen[static_cast<std::size_t>(portNumber)].isEmpty())
        return m_chosen[static_cast<std::size_t>(portNumber)];
    const QString variable = VariableDevice(portNumber);
    return variable.isEmpty() ? TableDeviceForPort(portNumber) : variable;
}

bool PortMap::Choose(int portNumber, const QString& device) {
    if (!ValidPort(portNumber))
        return false;
    m_chosen[static_cast<std::size_t>(portNumber)] = device;
    return true;
}

QString PortMap::Chosen(int portNumber) const {
    return ValidPort(portNumber) ? m_chosen[static_cast<std::size_t>(portNumber)] : QString();
}

bool PortMap::Overridden(int portNumber) const {
    return ValidPort(portNumber) && (!m_chosen[static_cast<std::size_t>(portNumber)].isEmpty() ||
                                     !VariableDevice(portNumber).isEmpty());
}

QString DeviceForPort(int portNumber) {
    return PortMap().DeviceFor(portNumber);
}
