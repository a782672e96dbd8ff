#include "ModuleSession.h"

#include <QMetaMethod>
#include <QSignalBlocker>
#include <algorithm>
#include <array>

#include "LineRules.h"

namespace {

// Rows and output-mode effects of the pending commands, in PendingCommand order from SetZero.
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

SendLogVariant LogVariantFor(CommandRow row) {
    if (row == CMD_READ)
        return SendLogVariant::ReadRequest;
    if (row == CMD_SET_DECLINATION)
        return SendLogVariant::Uncounted;
    return SendLogVariant::Counted;
}

LineFailure InvalidPort(int portNumber) {
    const QString reason =
        QStringLiteral("choose one of Com%1 to Com%2").arg(kFirstPort).arg(kLastPort);
    return {QStringLiteral("Port number %1 is not a valid port: %2.").arg(portNumber).arg(reason),
            reason};
}

}  // namespace

ModuleSession::ModuleSession(QObject* parent) : QObject(parent) {
    m_sendBytes.reserve(16);
    connect(&m_line, &SerialLine::bytesWaiting, this, &ModuleSession::onBytesWaiting);
    connect(&m_line, &SerialLine::deviceLost, this, &ModuleSession::onDeviceLost);
    connect(&m_serviceTimer, &QTimer::timeout, this, &ModuleSession::serviceTick);
    connect(&m_rateTimer, &QTimer::timeout, this, &ModuleSession::rateTick);
    m_adapterTimer.setInterval(kAdapterLookMs);
    connect(&m_adapterTimer, &QTimer::timeout, this, &ModuleSession::lookForAdapter);
}

ModuleSession::~ModuleSession() {
    // Whoever listened may be half gone by now.
    const QSignalBlocker quiet(this);
    finish();
}

void ModuleSession::start() {
    m_serviceTimer.start(kServiceMs);
    m_rateTimer.start(kRateMs);
}

void ModuleSession::stop() {
    m_serviceTimer.stop();
    m_rateTimer.stop();
}

void ModuleSession::finish() {
    stop();
    close();
    // Ending while recording must not lose the pending lines nor the end line.
    if (m_recorder.IsRecording())
        stopRecording();
}

void ModuleSession::serviceTick() {
    // Lines held for a full disk go out as soon as it has room, frames arriving or not.
    if (m_recorder.HeldBytes() > 0) {
        m_recorder.Flush();
        reportRecordNotices();
    }
    if (!isOpen() || m_serviceHeld)
        return;

    if (m_polling && !m_autoOutput && m_pending == PendingCommand::None) {
        if (const auto failure = send(CMD_READ)) {
            emit sendFailed(*failure);
            return;
        }
    }

    if (m_sampleWait && ++m_sampleWaitTicks >= kSampleTimeoutTicks) {
        // Cleared before anyone hears of it: ticks served meanwhile must not time out again.
        m_sampleWaitTicks = 0;
        m_sampleWait = false;
        emit sampleTimedOut();
    }

    if (m_pending != PendingCommand::None) {
        const PendingRow& entry = kPendingRows[static_cast<std::size_t>(m_pending) - 1];
        if (entry.outputMode != OutputModeEffect::Unchanged)
            m_autoOutput = entry.outputMode == OutputModeEffect::Automatic;
        if (const auto failure = send(entry.row)) {
            emit sendFailed(*failure);
            return;
        }
        m_pending = PendingCommand::None;
    }
    emit pollServed();
}

void ModuleSession::rateTick() {
    const int frames = m_frameCount;
    m_frameCount = 0;
    emit frameRate(frames);
}

// ---- The line -------------------------------------------------------------------------------

std::optional<LineFailure> ModuleSession::selectPort(int portNumber) {
    if (portNumber < kFirstPort || portNumber > kLastPort)
        return InvalidPort(portNumber);
    m_port = portNumber;
    m_devicePath.clear();
    return std::nullopt;
}

void ModuleSession::selectDevice(const QString& device) {
    m_port = 0;
    m_devicePath = device;
}

QString ModuleSession::devicePath() const {
    if (isOpen())
        return m_line.device();
    return m_port != 0 ? m_portMap.DeviceFor(m_port) : m_devicePath;
}

QString ModuleSession::portLabel() const {
    if (m_port == 0 && !m_devicePath.isEmpty())
        return devicePath();
    return QStringLiteral("Com%1 (%2)").arg(m_port).arg(devicePath());
}

std::optional<LineFailure> ModuleSession::open(int speedIndex) {
    if (m_port == 0 && m_devicePath.isEmpty())
        return InvalidPort(0);
    if (isOpen())
        return LineFailure{QStringLiteral("%1 is already open.").arg(portLabel()),
                           QStringLiteral("already open")};
    const bool listed = speedIndex >= 0 && speedIndex < static_cast<int>(kLineSpeeds.size());
    const qint32 speed = listed ? kLineSpeeds[static_cast<std::size_t>(speedIndex)] : 0;
    if (const auto reason = m_line.open(devicePath(), speed))
        return LineFailure{QStringLiteral("Cannot open %1: %2.").arg(portLabel(), *reason),
                           *reason};
    m_adapter.reset();
    if (m_reopenOnReturn)
        rememberAdapter();
    return std::nullopt;
}

void ModuleSession::close() {
    endWait();
    m_adapter.reset();
    m_line.close();
}

// ---- Following a replugged adapter ---------------------------------------------------------

void ModuleSession::setReopenOnReturn(bool on) {
    m_reopenOnReturn = on;
    if (on && isOpen() && !m_adapter)
        rememberAdapter();
    if (!on && m_waitingForAdapter) {
        // Back to what a vanished device does without the wait.
        endWait();
        m_adapter.reset();
        emit deviceLost(m_lostReason);
    }
}

void ModuleSession::setDeviceInventory(std::function<QList<SerialDevice>()> inventory) {
    m_inventory = std::move(inventory);
}

QList<SerialDevice> ModuleSession::inventory() const {
    return m_inventory ? m_inventory() : ListSerialDevices(m_portMap);
}

// Taken while the device is there: once it is gone, its serial number and links are too.
void ModuleSession::rememberAdapter() {
    m_adapter = IdentityOf(m_line.device(), inventory());
}

void ModuleSession::onDeviceLost(const QString& reason) {
    if (!m_reopenOnReturn || !m_adapter) {
        emit deviceLost(reason);
        return;
    }
    m_waitingForAdapter = true;
    m_lostSpeed = m_line.speed();
    m_lostReason = reason;
    m_differentReported.clear();
    m_reopenFailureReported.clear();
    // A frame cut off by the loss is a fragment, not the start of the next frame: it goes to the
    // Received log as a rejected piece, and the first frame after the return is whole.
    if (m_assembler.inFrame()) {
        m_log.logRejected();
        m_assembler.reset();
    }
    m_adapterTimer.start();
    emit waitingForAdapter(reason);
}

void ModuleSession::lookForAdapter() {
    if (!m_waitingForAdapter)
        return;
    const AdapterMatch match = FindAdapter(*m_adapter, inventory());
    switch (match.kind) {
        case AdapterMatchKind::Absent:
            m_differentReported.clear();
            break;
        case AdapterMatchKind::Different: {
            const QString description = QStringLiteral("%1: %2.").arg(portLabel(), match.reason);
            if (description != m_differentReported) {
                m_differentReported = description;
                emit differentAdapter(description);
            }
            break;
        }
        case AdapterMatchKind::Same:
            // A device just plugged in may not be ready for an open (its permissions are set a
            // moment later), or another program took it: the next look tries again.
            if (const auto reason = m_line.open(match.device, m_lostSpeed)) {
                const QString description =
                    QStringLiteral("%1 is back as %2 but cannot be opened: %3.")
                        .arg(portLabel(), match.device, *reason);
                if (description != m_reopenFailureReported) {
                    m_reopenFailureReported = description;
                    emit reopenFailed(description);
                }
                break;
            }
            endWait();
            emit adapterReturned(match.device);
            break;
    }
}

void ModuleSession::endWait() {
    m_waitingForAdapter = false;
    m_adapterTimer.stop();
    m_differentReported.clear();
    m_reopenFailureReported.clear();
}

std::optional<LineFailure> ModuleSession::setSpeed(int speedIndex) {
    if (speedIndex < 0 || speedIndex >= static_cast<int>(kLineSpeeds.size()))
        return LineFailure{
            QStringLiteral("Speed entry %1 is not in the speed list.").arg(speedIndex),
            QStringLiteral("no such speed")};
    if (!isOpen())
        return LineFailure{QStringLiteral("%1 is not open.").arg(portLabel()),
                           QStringLiteral("not open")};
    const qint32 speed = kLineSpeeds[static_cast<std::size_t>(speedIndex)];
    if (const auto reason = m_line.setSpeed(speed))
        return LineFailure{QStringLiteral("Cannot set %1 to %2 bit/s: %3.")
                               .arg(portLabel())
                               .arg(speed)
                               .arg(*reason),
                           *reason};
    m_assembler.reset();
    return std::nullopt;
}

int ModuleSession::speedIndex() const {
    const auto at = std::find(kLineSpeeds.begin(), kLineSpeeds.end(), m_line.speed());
    return at == kLineSpeeds.end() ? -1 : static_cast<int>(at - kLineSpeeds.begin());
}

// ---- Sending --------------------------------------------------------------------------------

void ModuleSession::setParameterSource(std::function<FrameParameters()> source) {
    m_parameters = std::move(source);
}

FrameParameters ModuleSession::parameters() const {
    return m_parameters ? m_parameters() : FrameParameters{};
}

std::optional<LineFailure> ModuleSession::send(CommandRow row) {
    return sendFrame(row, parameters());
}

std::optional<LineFailure> ModuleSession::sendTo(CommandRow row, quint8 address) {
    FrameParameters stamped = parameters();
    stamped.address = address;
    return sendFrame(row, stamped);
}

std::optional<LineFailure> ModuleSession::sendFrame(CommandRow row,
                                                    const FrameParameters& stamped) {
    // Stamped, written out as hex text and parsed back: the bytes are the text's.
    const CommandFrame frame = stampCommand(row, stamped);
    const std::string text = FrameToHexText(frame.bytes.data(), frame.size());
    HexTextToBytes(text, m_sendBytes);
    if (!isOpen())
        return LineFailure{QStringLiteral("%1 is not open.").arg(portLabel()),
                           QStringLiteral("not open")};
    if (const auto reason = m_line.write(m_sendBytes))
        return LineFailure{QStringLiteral("Cannot write to %1: %2.").arg(portLabel(), *reason),
                           *reason};
    m_log.logSent(text, LogVariantFor(row));
    emit sent(row);
    return std::nullopt;
}

std::optional<LineFailure> ModuleSession::startManualSample() {
    m_sampleWait = true;
    m_sampleWaitTicks = 0;
    return send(CMD_CAL_MANUAL);
}

// ---- Receiving ------------------------------------------------------------------------------

void ModuleSession::onBytesWaiting() {
    takeInput(m_line.readAll());
}

void ModuleSession::takeInput(const char* bytes, qsizetype size) {
    for (qsizetype i = 0; i < size; ++i) {
        const auto byte = static_cast<std::uint8_t>(bytes[i]);
        m_log.logReceivedByte(byte);
        const FeedOutcome outcome = m_assembler.feed(byte);
        if (outcome == FeedOutcome::Stored)
            continue;
        if (outcome == FeedOutcome::Rejected) {
            m_log.logRejected();
            break;  // the rest of this read is dropped
        }
        // A block the disk refuses is held by the record: the frame goes on as usual.
        m_log.logCompletedFrame(m_recorder);
        if (m_recorder.HasNotices())
            reportRecordNotices();
        ++m_frameCount;
        if (m_assembler.checksumHolds())
            dispatch();
        else
            emit checksumFailed();
    }
    emit inputTaken();
}

void ModuleSession::dispatch() {
    const std::uint8_t* frame = m_assembler.frame();
    const std::uint8_t code = frame[3];
    // Only a search or a command-line request listens; the window's stream of readings does not
    // pay for a copy of every frame.
    if (isSignalConnected(QMetaMethod::fromSignal(&ModuleSession::answerReceived))) {
        emit answerReceived(frame[2], code,
                            QByteArray(reinterpret_cast<const char*>(frame),
                                       static_cast<qsizetype>(m_assembler.frameSize())));
    }
    const std::uint8_t status = frame[4];  // the first payload byte: success or error
    switch (code) {
        case ANS_READ: {
            // A frame too short for three values, or with digits above 9, is logged and counted
            // but is no reading: the last good one stands, and the history never sees it.
            const std::optional<Reading> reading = ReadingOfFrame(frame, m_assembler.frameSize());
            if (!reading)
                break;
            m_lastReading = reading;
            const std::int64_t now = SteadyNowNs();
            m_history.Append(now, reading->pitch, reading->roll, reading->heading);
            emit readingReceived(now, reading->pitch, reading->roll, reading->heading);
            break;
        }
        case ANS_ZERO:
        case ANS_SET_BAUD:
            emit acknowledged(code, status == kAnswerSuccess);
            break;
        case ANS_SET_ADDRESS:
            if (status == kAnswerSuccess)
                emit addressAccepted(parameters().newAddress);
            emit acknowledged(code, status == kAnswerSuccess);
            break;
        case ANS_CAL_SAMPLES:
            if (status == kCalibrationError) {
                emit calibrationFailed(code);
            } else {
                m_sampleWait = false;
                emit sampleCounted(status);
            }
            break;
        case ANS_CAL_STOP:
            if (status == kCalibrationError)
                emit calibrationFailed(code);
            else
                emit coverageReported(frame[5], frame[6], frame[7]);
            break;
        case ANS_CAL_SAVE:
            if (status == kCalibrationError)
                emit calibrationFailed(code);
            else
                emit calibrationSaved();
            break;
        default:
            break;  // other answers are only logged and counted
    }
}

// ---- Recording ------------------------------------------------------------------------------

RecordStart ModuleSession::startRecording(const std::string& folder) {
    return m_recorder.Start(folder, LocalTimeNow());
}

RecordStop ModuleSession::stopRecording() {
    const RecordStop outcome = m_log.stopRecording(m_recorder, LocalTimeNow());
    emit recordingStopped(outcome);
    reportRecordNotices();
    return outcome;
}

void ModuleSession::reportRecordNotices() {
    for (const RecordNotice& notice : m_recorder.TakeNotices())
        emit recordNotice(notice);
}
