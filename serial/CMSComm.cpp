#include "CMSComm.h"

#include <QAbstractEventDispatcher>
#include <QMetaObject>
#include <QScopedValueRollback>

#include "Exception.h"
#include "LineRules.h"
#include "PortTable.h"

namespace {

// Bytes the port holds for the program at most; the rest waits in the kernel until read.
constexpr qint64 kInputBufferSize = 1024;

QString InvalidPortText(int portNumber) {
    return QStringLiteral("Port number %1 is not a valid port: choose one of Com%2 to Com%3.")
        .arg(portNumber)
        .arg(kFirstPort)
        .arg(kLastPort);
}

QString InvalidSettingsText(const QString& settings) {
    return QStringLiteral(
               "\"%1\" is not a valid settings string: use one of %2 followed by "
               "\",n,8,1\".")
        .arg(settings, LineSpeedsInWords());
}

}  // namespace

CMSComm::CMSComm() : m_port(std::make_unique<QSerialPort>()) {
    m_port->setReadBufferSize(kInputBufferSize);
    // Direct: the handler runs in the pass of the event loop that read the bytes, one wake-up
    // per arrival rather than a second one for a posted announcement.
    QObject::connect(m_port.get(), &QSerialPort::readyRead, m_port.get(),
                     [this] { OnReadyRead(); });
    // The port announces nothing while a handler of its announcement runs. Should the handler
    // wait in an event loop of its own (a modal box), bytes taken in meanwhile are announced
    // from that loop each time it is about to wait.
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, m_port.get(),
                         [this] {
                             if (m_nNotifyDepth > 0)
                                 AnnounceWaitingBytes();
                         });
    }
    QObject::connect(m_port.get(), &QSerialPort::errorOccurred, m_port.get(),
                     [this](QSerialPort::SerialPortError error) { OnError(error); });
}

CMSComm::~CMSComm() {
    QObject::disconnect(m_port.get(), nullptr, nullptr, nullptr);
    if (m_port->isOpen())
        m_port->close();
}

void CMSComm::SetCommPort(short portNumber) {
    if (portNumber < kFirstPort || portNumber > kLastPort)
        Raise(InvalidPortText(portNumber));
    m_nPort = portNumber;
}

bool CMSComm::GetPortOpen() const {
    return m_port->isOpen();
}

void CMSComm::SetPortOpen(bool open) {
    if (!open) {
        if (m_port->isOpen())
            m_port->close();
        return;
    }
    if (m_nPort < kFirstPort || m_nPort > kLastPort)
        Raise(InvalidPortText(m_nPort));
    if (m_port->isOpen())
        Raise(QStringLiteral("%1 is already open.").arg(PortLabel()));

    m_devicePath = DeviceForPort(m_nPort);
    m_port->setPortName(m_devicePath);
    ApplySettings();  // a closed port keeps them for the open
    if (!m_port->open(QIODevice::ReadWrite)) {
        Raise(QStringLiteral("Cannot open %1: %2.")
                  .arg(PortLabel(), OpenFailureReason(*m_port, m_devicePath)));
    }
    m_bDeviceLost = false;
    // Whatever the device sent before we listened is not an answer to us.
    m_port->clear(QSerialPort::Input);
}

void CMSComm::SetSettings(const QString& settings) {
    const qint32 speed = SpeedOfSettings(settings);
    if (speed == 0)
        Raise(InvalidSettingsText(settings));
    m_settings = settings;
    m_baud = speed;
    if (m_port->isOpen() && !ApplySettings()) {
        Raise(QStringLiteral("Cannot set %1 to %2: %3.")
                  .arg(PortLabel(), settings, m_port->errorString()));
    }
}

// The port always works as these three settings ask: bytes pass unchanged, a notification
// follows the first waiting byte, and a read takes every waiting byte. They are accepted so the
// window's open sequence stays as documented.
void CMSComm::SetInputMode(long) {}
void CMSComm::SetRThreshold(short) {}
void CMSComm::SetInputLen(short) {}

QByteArray CMSComm::GetInput() {
    if (!m_port->isOpen())
        return QByteArray();
    return m_port->readAll();
}

void CMSComm::SetOutput(std::span<const std::uint8_t> bytes) {
    if (!m_port->isOpen())
        Raise(QStringLiteral("%1 is not open.").arg(PortLabel()));
    const auto size = static_cast<qint64>(bytes.size());
    const qint64 written = m_port->write(reinterpret_cast<const char*>(bytes.data()), size);
    if (written != size) {
        Raise(QStringLiteral("Cannot write to %1: %2.").arg(PortLabel(), m_port->errorString()));
    }
    // Hand the frame to the driver now rather than from the next pass of the event loop: one
    // wake-up less per request, and the frame never waits behind other events.
    m_port->flush();
}

QString CMSComm::DevicePath() const {
    return m_port->isOpen() ? m_devicePath : DeviceForPort(m_nPort);
}

void CMSComm::OnReadyRead() {
    // A posted announcement may find its bytes already taken by an earlier read.
    if (!m_port->isOpen() || m_port->bytesAvailable() == 0)
        return;
    m_nCommEvent = comEvReceive;
    {
        const QScopedValueRollback<int> notifying(m_nNotifyDepth, m_nNotifyDepth + 1);
        NotifyParent(Notification::CommEvent);
    }
    // Bytes a loop of the handler took in after it last waited have not been announced yet.
    if (m_nNotifyDepth == 0)
        AnnounceWaitingBytes();
}

void CMSComm::AnnounceWaitingBytes() {
    if (m_bAnnouncementPosted || !m_port->isOpen() || m_port->bytesAvailable() == 0)
        return;
    m_bAnnouncementPosted = true;
    QMetaObject::invokeMethod(
        m_port.get(),
        [this] {
            m_bAnnouncementPosted = false;
            OnReadyRead();
        },
        Qt::QueuedConnection);
}

void CMSComm::OnError(QSerialPort::SerialPortError error) {
    // Other codes need nothing: UnsupportedOperationError, for one, comes from line-signal
    // requests a pseudo-terminal cannot serve and leaves the port working.
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (m_bDeviceLost || !m_port->isOpen())
        return;
    // The device is gone. Until closed, the port repeats this error without pause.
    m_bDeviceLost = true;
    m_port->close();  // may report errors again; m_bDeviceLost ignores them
    QMetaObject::invokeMethod(
        m_port.get(), [this] { NotifyParent(Notification::DeviceLost); }, Qt::QueuedConnection);
}

void CMSComm::Raise(const QString& description) const {
    throw CControlException(description.toStdString());
}

QString CMSComm::PortLabel() const {
    return QStringLiteral("Com%1 (%2)").arg(m_nPort).arg(DevicePath());
}

bool CMSComm::ApplySettings() {
    return ApplyLineSettings(*m_port, m_baud);
}
