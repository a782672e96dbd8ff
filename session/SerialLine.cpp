#include "SerialLine.h"

#include <QAbstractEventDispatcher>
#include <QMetaObject>
#include <QScopedValueRollback>

#include "LineRules.h"

namespace {

// Bytes the port holds for the program at most; the rest waits in the kernel until read.
constexpr qint64 kInputBufferSize = 1024;

}  // namespace

SerialLine::SerialLine(QObject* parent) : QObject(parent), m_port(std::make_unique<QSerialPort>()) {
    m_port->setReadBufferSize(kInputBufferSize);
    // Direct: the receiver runs in the pass of the event loop that read the bytes, one wake-up
    // per arrival rather than a second one for a posted announcement.
    connect(m_port.get(), &QSerialPort::readyRead, m_port.get(), [this] { onReadyRead(); });
    // The port announces nothing while a receiver of its announcement runs. Should the receiver
    // wait in an event loop of its own (a modal box), bytes taken in meanwhile are announced
    // from that loop each time it is about to wait.
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, m_port.get(), [this] {
            if (m_announcing > 0)
                announceWaitingBytes();
        });
    }
    connect(m_port.get(), &QSerialPort::errorOccurred, m_port.get(),
            [this](QSerialPort::SerialPortError error) { onError(error); });
}

SerialLine::~SerialLine() {
    disconnect(m_port.get(), nullptr, nullptr, nullptr);
    if (m_port->isOpen())
        m_port->close();
}

std::optional<QString> SerialLine::open(const QString& device, qint32 speed) {
    if (speed != 0)
        m_speed = speed;
    m_device = device;
    m_port->setPortName(device);
    ApplyLineSettings(*m_port, m_speed);  // a closed port keeps them for the open
    if (!m_port->open(QIODevice::ReadWrite))
        return OpenFailureReason(*m_port, device);
    m_deviceLost = false;
    // Whatever the device sent before we listened is not an answer to us.
    m_port->clear(QSerialPort::Input);
    m_port->readAll();
    return std::nullopt;
}

std::optional<QString> SerialLine::setSpeed(qint32 speed) {
    if (!m_port->isOpen())
        return QStringLiteral("not open");
    if (!ApplyLineSettings(*m_port, speed))
        return m_port->errorString();
    m_speed = speed;
    m_port->clear(QSerialPort::Input);
    m_port->readAll();
    return std::nullopt;
}

void SerialLine::close() {
    if (m_port->isOpen())
        m_port->close();
}

bool SerialLine::isOpen() const {
    return m_port->isOpen();
}

std::optional<QString> SerialLine::write(std::span<const std::uint8_t> bytes) {
    const auto size = static_cast<qint64>(bytes.size());
    if (m_port->write(reinterpret_cast<const char*>(bytes.data()), size) != size)
        return m_port->errorString();
    // Hand the frame to the driver now rather than from the next pass of the event loop: one
    // wake-up less per request, and the frame never waits behind other events.
    m_port->flush();
    return std::nullopt;
}

QByteArray SerialLine::readAll() {
    if (!m_port->isOpen())
        return QByteArray();
    return m_port->readAll();
}

void SerialLine::onReadyRead() {
    // A posted announcement may find its bytes already taken by an earlier read.
    if (!m_port->isOpen() || m_port->bytesAvailable() == 0)
        return;
    {
        const QScopedValueRollback<int> announcing(m_announcing, m_announcing + 1);
        emit bytesWaiting();
    }
    // Bytes a loop of the receiver took in after it last waited have not been announced yet.
    if (m_announcing == 0)
        announceWaitingBytes();
}

void SerialLine::announceWaitingBytes() {
    if (m_announcementPosted || !m_port->isOpen() || m_port->bytesAvailable() == 0)
        return;
    m_announcementPosted = true;
    QMetaObject::invokeMethod(
        m_port.get(),
        [this] {
            m_announcementPosted = false;
            onReadyRead();
        },
        Qt::QueuedConnection);
}

void SerialLine::onError(QSerialPort::SerialPortError error) {
    // Other codes need nothing: UnsupportedOperationError, for one, comes from line-signal
    // requests a pseudo-terminal cannot serve and leaves the port working.
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (m_deviceLost || !m_port->isOpen())
        return;
    // The device is gone. Until closed, the port repeats this error without pause.
    m_deviceLost = true;
    const QString reason = m_port->errorString();
    m_port->close();  // may report errors again; m_deviceLost ignores them
    QMetaObject::invokeMethod(
        m_port.get(), [this, reason] { emit deviceLost(reason); }, Qt::QueuedConnection);
}
