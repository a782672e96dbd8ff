#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "AdapterIdentity.h"
#include "CommandTable.h"
#include "PortInventory.h"
#include "PortTable.h"
#include "ReadingHistory.h"
#include "Recording.h"
#include "Response.h"
#include "SerialLine.h"
#include "TrafficLog.h"

// What the line could not do: the description for the operator, naming the port, the device and
// the reason ("Cannot open Com3 (/dev/ttyUSB2): no such device."), and the reason alone.
struct LineFailure {
    QString description;
    QString reason;
};

// What a configuration button leaves for the next service tick: one slot, the last click wins.
enum class PendingCommand : std::uint8_t {
    None,
    SetZero,
    CancelZero,
    SetAddress,
    SetBaudRate,
    AutoOutput,
    AnswerMode,
    MountHorizontal,
    MountVertical,
};

// One module on one serial line: the line, the frames both ways and what becomes of them. It
// stamps and sends requests, assembles and checks the answers, keeps the Send and Received logs,
// the record file, the frame count for the rate and the history of readings, serves the pending
// configuration command and polling every 100 ms, and waits for the manual calibration sample.
// It shows nothing: it tells whoever listens by its signals, and a failure of the line comes
// back from the call that met it, as a description naming the port, the device and the reason.
class ModuleSession : public QObject {
    Q_OBJECT
public:
    static constexpr int kServiceMs = 100;
    static constexpr int kRateMs = 1000;
    static constexpr int kSampleTimeoutTicks = 100;

    explicit ModuleSession(QObject* parent = nullptr);
    // Ends a recording still on (its pending lines and its end line) and closes the line,
    // without a signal.
    ~ModuleSession() override;

    // The 100 ms service tick and the 1 s rate tick on timers of their own; stop() also ends
    // them. Both run on inside modal loops.
    void start();
    void stop();
    // One service tick: lines held for a full disk go out when it has room; then, with the line
    // open, a read request while polling (not in automatic output, no command pending), the
    // manual sample's time-out, and the pending command; pollServed() at the end. With the line
    // closed it does nothing else.
    void serviceTick();
    // One rate tick: frameRate() with the frames completed since the last one, then zero.
    void rateTick();
    // Stops the timers, closes the line and ends a recording still on, with its signals.
    void finish();

    // ---- The line ----
    // Com1..Com20 through the session's port map; the description when there is no such port.
    [[nodiscard]] std::optional<LineFailure> selectPort(int portNumber);
    // A device by its path (the command-line tools).
    void selectDevice(const QString& device);
    int port() const { return m_port; }
    PortMap& portMap() { return m_portMap; }
    // The device of the selected port: the one open, else the one the port names now.
    QString devicePath() const;
    // "Com3 (/dev/ttyUSB2)", or the device's path when it was selected by path.
    QString portLabel() const;
    // Opens the selected device at the speed of entry `speedIndex` of the speed list (none
    // selected, -1: the speed in force). Bytes that waited before never reach the assembler.
    [[nodiscard]] std::optional<LineFailure> open(int speedIndex);
    void close();
    bool isOpen() const { return m_line.isOpen(); }
    // Moves the open line to entry `speedIndex` of the speed list; a frame begun at the old
    // speed is given up and bytes waiting from it are dropped.
    [[nodiscard]] std::optional<LineFailure> setSpeed(int speedIndex);
    // The entry of the speed list the line runs at (or opens at next).
    int speedIndex() const;

    // ---- Sending ----
    // Address, new address, the module's speed index and the declination, asked for at every
    // stamp (and for the new address when the module accepts it).
    void setParameterSource(std::function<FrameParameters()> source);
    // Stamps the row, writes it in one write and logs it; sent(row) follows. The description
    // when the line is closed or did not take the frame (then nothing is logged).
    [[nodiscard]] std::optional<LineFailure> send(CommandRow row);
    // As send(), with `address` in byte 2 instead of the source's (a search for a module).
    [[nodiscard]] std::optional<LineFailure> sendTo(CommandRow row, quint8 address);
    // While held, the service tick sends nothing (neither polls nor the pending command): a
    // search for the module has the line to itself.
    void holdService(bool held) { m_serviceHeld = held; }
    bool serviceHeld() const { return m_serviceHeld; }
    void queueCommand(PendingCommand command) { m_pending = command; }
    PendingCommand pendingCommand() const { return m_pending; }
    void setPolling(bool polling) { m_polling = polling; }
    bool polling() const { return m_polling; }
    bool autoOutput() const { return m_autoOutput; }
    // A manual calibration sample: the wait for its count starts, then the request is sent.
    [[nodiscard]] std::optional<LineFailure> startManualSample();
    bool sampleWaiting() const { return m_sampleWait; }

    // ---- Receiving ----
    // One read from the line, byte by byte: the Received log and the assembler; a rejected
    // start drops the rest of the read; a complete frame is logged (and recorded), counted,
    // checked and dispatched. inputTaken() at the end, whatever happened.
    void takeInput(const char* bytes, qsizetype size);
    void takeInput(const QByteArray& bytes) { takeInput(bytes.constData(), bytes.size()); }
    // Gives up a frame begun: the next byte must be a start byte.
    void discardPartialFrame() { m_assembler.reset(); }
    // Frames completed since the last rate tick.
    int frameCount() const { return m_frameCount; }
    // The last good reading; none before the first.
    const std::optional<Reading>& lastReading() const { return m_lastReading; }
    // Every reading since start-up, stamped on arrival, for the live plot.
    ReadingHistory& history() { return m_history; }

    // ---- Logs ----
    const TrafficLog& log() const { return m_log; }
    void clearSendLog() { m_log.clearSend(); }
    void clearReceivedLog() { m_log.clearReceived(); }
    // The Received pane as the operator left it, taken back by the window's commit.
    void setReceivedText(const std::string& text) { m_log.setReceivedText(text); }

    // ---- Recording ----
    RecordStart startRecording(const std::string& folder);
    // recordingStopped() with the outcome, then what the record has to say.
    RecordStop stopRecording();
    const Recorder& recorder() const { return m_recorder; }

    // ---- Following a replugged adapter ----
    // Off at first: a vanished device closes the line and says deviceLost(). On: the session
    // says waitingForAdapter() instead, keeps polling and the record as they are, and looks for
    // the adapter it opened (by serial number, else link, else path) every kAdapterLookMs and at
    // lookForAdapter(); the same adapter is opened again at the same speed, a different one
    // never. close() ends the wait; switching it off during a wait ends it with deviceLost().
    static constexpr int kAdapterLookMs = 500;
    void setReopenOnReturn(bool on);
    bool reopenOnReturn() const { return m_reopenOnReturn; }
    bool isWaitingForAdapter() const { return m_waitingForAdapter; }
    // The machine's serial devices, asked for at an open (the adapter's identity) and at each
    // look; ListSerialDevices() on the session's port map unless replaced (tests).
    void setDeviceInventory(std::function<QList<SerialDevice>()> inventory);
    // Looks for the adapter now (the port watcher saw devices change); nothing outside a wait.
    void lookForAdapter();

signals:
    void sent(CommandRow row);
    // A service tick with the line open has done its work: the time to show the reading.
    void pollServed();
    // A send of the service tick failed; that tick ends there.
    void sendFailed(const LineFailure& failure);
    void inputTaken();
    // Every frame whose checksum holds, whole, before it is acted on: its address (byte 2) and
    // code (byte 3) for whoever waits for the answer of one module.
    void answerReceived(quint8 address, quint8 code, const QByteArray& frame);
    void readingReceived(qint64 steadyNs, double pitch, double roll, double heading);
    // The zero (0x85), speed (0x8B) and address (0x8F) answers.
    void acknowledged(quint8 code, bool success);
    // The module took the new address: later requests are to carry it.
    void addressAccepted(quint32 address);
    // Calibration: the sample count (0x88), the coverage (0x89), the save (0x8A), and the error
    // value FF of any of the three.
    void sampleCounted(int samples);
    void coverageReported(int x, int y, int z);
    void calibrationSaved();
    void calibrationFailed(quint8 code);
    // A hundred open ticks passed without the manual sample's count.
    void sampleTimedOut();
    void frameRate(int frames);
    // The device vanished (`reason` as the system gave it); the line is closed already.
    void deviceLost(const QString& reason);
    // A frame completed with a checksum that does not hold: logged and counted, nothing more.
    void checksumFailed();
    void recordingStopped(RecordStop outcome);
    void recordNotice(const RecordNotice& notice);
    // The open device vanished with reopening on (`reason` as the system gave it): the line is
    // closed and the session waits for the adapter to come back.
    void waitingForAdapter(const QString& reason);
    // The adapter came back as `device` and the line is open again at the same speed.
    void adapterReturned(const QString& device);
    // Another adapter sits where the one awaited was: it is not opened; the wait goes on. Said
    // once for each device found in its place.
    void differentAdapter(const QString& reason);
    // The adapter is back but cannot be opened (busy, no permission yet): the next look tries
    // again. Said once for each reason.
    void reopenFailed(const QString& description);

private:
    void onDeviceLost(const QString& reason);
    void rememberAdapter();
    void endWait();
    QList<SerialDevice> inventory() const;
    void onBytesWaiting();
    void dispatch();
    void reportRecordNotices();
    FrameParameters parameters() const;
    std::optional<LineFailure> sendFrame(CommandRow row, const FrameParameters& parameters);

    SerialLine m_line;
    PortMap m_portMap;
    int m_port = 0;        // 1..20; 0 while a device is selected by path, or none yet
    QString m_devicePath;  // the device selected by path
    ResponseAssembler m_assembler;
    TrafficLog m_log;
    Recorder m_recorder;   // g_bRecording, g_recordFile, g_szRecordName
    int m_frameCount = 0;  // g_nFrameCount
    ReadingHistory m_history;
    std::optional<Reading> m_lastReading;
    std::function<FrameParameters()> m_parameters;
    PendingCommand m_pending = PendingCommand::None;  // g_nPendingCommand
    bool m_autoOutput = false;                        // g_bAutoOutput
    bool m_polling = false;
    bool m_serviceHeld = false;
    bool m_sampleWait = false;  // g_bSampleWait
    int m_sampleWaitTicks = 0;  // g_nSampleWaitTicks
    std::vector<std::uint8_t> m_sendBytes;
    QTimer m_serviceTimer;
    QTimer m_rateTimer;
    // Following the adapter: the identity taken at the open, the speed and the reason of the
    // loss, and the last device reported as a different adapter.
    bool m_reopenOnReturn = false;
    bool m_waitingForAdapter = false;
    std::optional<AdapterIdentity> m_adapter;
    qint32 m_lostSpeed = 0;
    QString m_lostReason;
    QString m_differentReported;
    QString m_reopenFailureReported;
    std::function<QList<SerialDevice>()> m_inventory;
    QTimer m_adapterTimer;
};
