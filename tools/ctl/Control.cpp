#include "Control.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "LineRules.h"
#include "Response.h"

namespace {

constexpr std::uint8_t kAnswerBit = 0x80;

// The request's code plus the answer bit: what a module that acknowledges it sends back.
std::uint8_t AckCode(CommandRow row) {
    return static_cast<std::uint8_t>(kCommandTemplates[static_cast<std::size_t>(row)].bytes[3] |
                                     kAnswerBit);
}

QString HexOf(const QByteArray& frame) {
    return QString::fromLatin1(frame.toHex(' ').toUpper());
}

QString SentText(CommandRow row, const FrameParameters& parameters) {
    const CommandFrame frame = stampCommand(row, parameters);
    return QString::fromStdString(FrameToHexText(frame.bytes.data(), frame.size()))
        .trimmed()
        .toUpper();
}

int Milliseconds(double seconds) {
    return static_cast<int>(std::llround(std::clamp(seconds * 1000.0, 1.0, 86400000.0)));
}

qint32 SpeedOf(int index) {
    return kLineSpeeds[static_cast<std::size_t>(std::clamp(index, 0, 5))];
}

}  // namespace

std::optional<CtlRequest> FindRequest(const std::string& name) {
    static const std::array<CtlRequest, 16> kRequests = {{
        {"read", CMD_READ, ANS_READ, AnswerRule::Reading},
        {"set-address", CMD_SET_ADDRESS, ANS_SET_ADDRESS, AnswerRule::ZeroIsSuccess},
        {"set-baud", CMD_SET_BAUD, ANS_SET_BAUD, AnswerRule::ZeroIsSuccess},
        {"set-zero", CMD_SET_ZERO, ANS_ZERO, AnswerRule::ZeroIsSuccess},
        {"cancel-zero", CMD_CANCEL_ZERO, ANS_ZERO, AnswerRule::ZeroIsSuccess},
        {"auto-output", CMD_AUTO_OUTPUT, AckCode(CMD_AUTO_OUTPUT), AnswerRule::ZeroIsSuccess},
        {"answer-mode", CMD_ANSWER_MODE, AckCode(CMD_ANSWER_MODE), AnswerRule::ZeroIsSuccess},
        {"mount horizontal", CMD_MOUNT_HORIZONTAL, AckCode(CMD_MOUNT_HORIZONTAL),
         AnswerRule::ZeroIsSuccess},
        {"mount vertical", CMD_MOUNT_VERTICAL, AckCode(CMD_MOUNT_VERTICAL),
         AnswerRule::ZeroIsSuccess},
        {"declination", CMD_SET_DECLINATION, AckCode(CMD_SET_DECLINATION),
         AnswerRule::ZeroIsSuccess},
        {"calibrate start", CMD_CAL_START, ANS_CAL_SAMPLES, AnswerRule::FFIsError},
        {"calibrate a-mode", CMD_CAL_A_MODE, AckCode(CMD_CAL_A_MODE), AnswerRule::ModeAck},
        {"calibrate m-mode", CMD_CAL_M_MODE, AckCode(CMD_CAL_M_MODE), AnswerRule::ModeAck},
        {"calibrate sample", CMD_CAL_MANUAL, ANS_CAL_SAMPLES, AnswerRule::FFIsError},
        {"calibrate stop", CMD_CAL_STOP, ANS_CAL_STOP, AnswerRule::FFIsError},
        {"calibrate save", CMD_CAL_SAVE, ANS_CAL_SAVE, AnswerRule::FFIsError},
    }};
    for (const CtlRequest& request : kRequests) {
        if (request.name == name)
            return request;
    }
    return std::nullopt;
}

bool PrintResult(const CtlOptions& options, const QJsonObject& object, const QString& text) {
    const QByteArray line =
        options.json ? QJsonDocument(object).toJson(QJsonDocument::Compact) : text.toUtf8();
    if (std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout) ==
            static_cast<std::size_t>(line.size()) &&
        std::fputc('\n', stdout) != EOF && std::fflush(stdout) == 0)
        return true;
    std::fprintf(stderr, "torva-ctl: cannot write the result to standard output: %s\n",
                 std::strerror(errno));
    return false;
}

// ---- One request ----------------------------------------------------------------------------

RequestRun::RequestRun(const CtlOptions& options, const CtlRequest& request,
                       const FrameParameters& parameters, QObject* parent)
    : QObject(parent), m_options(options), m_request(request), m_parameters(parameters) {
    m_session.selectDevice(options.device);
    m_session.setParameterSource([this] { return m_parameters; });
    connect(&m_session, &ModuleSession::answerReceived, this, &RequestRun::OnAnswer);
    connect(&m_session, &ModuleSession::deviceLost, this, [this](const QString& reason) {
        Fail(kCtlDeviceLost, QStringLiteral("the device failed or vanished (%1)").arg(reason));
    });
    m_timeout.setSingleShot(true);
    m_timeout.setTimerType(Qt::PreciseTimer);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        Fail(kCtlNoAnswer, QStringLiteral("no answer within %1 s").arg(m_options.timeout));
    });
}

QJsonObject RequestRun::Base(bool ok, int status) const {
    QJsonObject o;
    o[QStringLiteral("command")] = QString::fromStdString(m_request.name);
    o[QStringLiteral("ok")] = ok;
    o[QStringLiteral("status")] = status;
    o[QStringLiteral("port")] = m_options.device;
    o[QStringLiteral("speed")] = SpeedOf(m_options.speedIndex);
    o[QStringLiteral("address")] = static_cast<int>(m_parameters.address & 0xFF);
    o[QStringLiteral("sent")] = SentText(m_request.row, m_parameters);
    return o;
}

int RequestRun::Start() {
    if (const auto failure = m_session.open(m_options.speedIndex)) {
        std::fprintf(stderr, "torva-ctl: %s: %s\n", qUtf8Printable(m_options.device),
                     qUtf8Printable(failure->reason));
        QJsonObject o = Base(false, kCtlOpenFailed);
        o[QStringLiteral("error")] = failure->reason;
        if (m_options.json)
            PrintResult(m_options, o, {});
        return kCtlOpenFailed;
    }
    // The time-out runs from the moment the request is handed to the line.
    m_timeout.start(Milliseconds(m_options.timeout));
    if (const auto failure = m_session.send(m_request.row)) {
        m_timeout.stop();
        m_finished = true;
        m_session.close();
        std::fprintf(stderr, "torva-ctl: %s: the device failed or vanished (%s)\n",
                     qUtf8Printable(m_options.device), qUtf8Printable(failure->reason));
        return kCtlDeviceLost;
    }
    return kCtlOk;
}

void RequestRun::OnAnswer(quint8 address, quint8 code, const QByteArray& frame) {
    if (m_finished)
        return;
    // The declination request goes to address 00 and every module takes it: its answer comes
    // from whichever module is there. Every other answer must come from the module asked.
    if (m_request.row != CMD_SET_DECLINATION && address != (m_parameters.address & 0xFF))
        return;
    const auto status = frame.size() > 4 ? static_cast<std::uint8_t>(frame[4]) : std::uint8_t{0};
    const QString name = QString::fromStdString(m_request.name);
    if (m_request.rule == AnswerRule::ModeAck && code == ANS_CAL_SAMPLES) {
        // Counts of a sampling already under way are no answer to this request; a refusal is.
        if (status == kCalibrationError)
            Fail(kCtlErrorAnswer, QStringLiteral("the module refused the request"), frame);
        return;
    }
    if (code != m_request.answer)
        return;

    QJsonObject o = Base(true, kCtlOk);
    switch (m_request.rule) {
        case AnswerRule::Reading: {
            const std::optional<Reading> reading =
                ReadingOfFrame(reinterpret_cast<const std::uint8_t*>(frame.constData()),
                               static_cast<std::size_t>(frame.size()));
            if (!reading) {
                Fail(kCtlErrorAnswer, QStringLiteral("the reading holds no valid value"), frame);
                return;
            }
            o[QStringLiteral("pitch")] = reading->pitch;
            o[QStringLiteral("roll")] = reading->roll;
            o[QStringLiteral("heading")] = reading->heading;
            Succeed(frame, o,
                    QString::asprintf("pitch %.2f roll %.2f heading %.2f", reading->pitch,
                                      reading->roll, reading->heading));
            return;
        }
        case AnswerRule::ZeroIsSuccess:
        case AnswerRule::ModeAck:
            if (status != kAnswerSuccess) {
                Fail(kCtlErrorAnswer, QStringLiteral("the module answered with an error"), frame);
                return;
            }
            break;
        case AnswerRule::FFIsError:
            if (status == kCalibrationError) {
                Fail(kCtlErrorAnswer, QStringLiteral("the module answered with an error"), frame);
                return;
            }
            break;
    }

    QString text = name + QStringLiteral(": success");
    switch (m_request.row) {
        case CMD_SET_ADDRESS:
            o[QStringLiteral("new_address")] = static_cast<int>(m_parameters.newAddress & 0xFF);
            text += QStringLiteral(", the module answers to address %1 now")
                        .arg(m_parameters.newAddress & 0xFF);
            break;
        case CMD_SET_BAUD:
            o[QStringLiteral("new_speed")] = SpeedOf(m_parameters.baudIndex);
            text += QStringLiteral(", the module speaks %1 bit/s now")
                        .arg(SpeedOf(m_parameters.baudIndex));
            break;
        case CMD_SET_DECLINATION:
            o[QStringLiteral("declination")] = m_parameters.declination;
            break;
        case CMD_CAL_START:
        case CMD_CAL_MANUAL:
            o[QStringLiteral("samples")] = status;
            text += QStringLiteral(", %1 samples").arg(status);
            break;
        case CMD_CAL_STOP: {
            const auto at = [&](int i) {
                return frame.size() > i ? static_cast<int>(static_cast<std::uint8_t>(frame[i])) : 0;
            };
            QJsonObject coverage;
            coverage[QStringLiteral("x")] = at(5);
            coverage[QStringLiteral("y")] = at(6);
            coverage[QStringLiteral("z")] = at(7);
            o[QStringLiteral("coverage")] = coverage;
            text += QStringLiteral(", coverage X %1% Y %2% Z %3%").arg(at(5)).arg(at(6)).arg(at(7));
            break;
        }
        default:
            break;
    }
    Succeed(frame, o, text);
}

void RequestRun::Succeed(const QByteArray& frame, QJsonObject object, const QString& text) {
    m_finished = true;
    m_timeout.stop();
    m_session.close();
    object[QStringLiteral("answer")] = HexOf(frame);
    QCoreApplication::exit(PrintResult(m_options, object, text) ? kCtlOk : kCtlOutputFailed);
}

void RequestRun::Fail(int status, const QString& message, const QByteArray& frame) {
    if (m_finished)
        return;
    m_finished = true;
    m_timeout.stop();
    m_session.close();
    const QString detail =
        frame.isEmpty() ? message
                        : message + QStringLiteral(" (") + HexOf(frame) + QStringLiteral(")");
    std::fprintf(stderr, "torva-ctl: %s: %s: %s\n", qUtf8Printable(m_options.device),
                 m_request.name.c_str(), qUtf8Printable(detail));
    int exitStatus = status;
    if (m_options.json) {
        QJsonObject o = Base(false, status);
        o[QStringLiteral("error")] = message;
        if (!frame.isEmpty())
            o[QStringLiteral("answer")] = HexOf(frame);
        if (!PrintResult(m_options, o, {}))
            exitStatus = kCtlOutputFailed;
    }
    QCoreApplication::exit(exitStatus);
}

// ---- A search ------------------------------------------------------------------------------

ScanRun::ScanRun(const CtlOptions& options, const ScanPlan& plan, QObject* parent)
    : QObject(parent), m_options(options), m_plan(plan) {
    m_session.selectDevice(options.device);
    connect(&m_scanner, &ModuleScanner::found, this, [this](int speedIndex, int address) {
        if (m_options.json || m_printFailed)
            return;
        if (!PrintResult(m_options, {},
                         QStringLiteral("found: %1 bit/s, address %2")
                             .arg(SpeedOf(speedIndex))
                             .arg(address))) {
            m_printFailed = true;
            m_scanner.cancel();
        }
    });
    connect(&m_scanner, &ModuleScanner::failed, this,
            [this](const LineFailure& failure) { m_failure = failure; });
    connect(&m_scanner, &ModuleScanner::finished, this, &ScanRun::OnFinished);
}

int ScanRun::Start() {
    if (const auto failure = m_scanner.start(m_plan)) {
        std::fprintf(stderr, "torva-ctl: %s: %s\n", qUtf8Printable(m_options.device),
                     qUtf8Printable(failure->reason));
        return kCtlOpenFailed;
    }
    return kCtlOk;
}

void ScanRun::OnFinished(const ScanResult& result) {
    int status = kCtlOk;
    QString error;
    if (m_printFailed) {
        status = kCtlOutputFailed;
    } else if (result.end == ScanEnd::Failed) {
        status = kCtlDeviceLost;
        error = QStringLiteral("the device failed or vanished (%1)")
                    .arg(m_failure ? m_failure->reason : QString());
    } else if (result.found.empty()) {
        status = kCtlNoAnswer;
        error = QStringLiteral("no module answered (%1 requests in %2 s)")
                    .arg(result.tries)
                    .arg(static_cast<double>(result.elapsedMs) / 1000.0, 0, 'f', 1);
    }
    if (!error.isEmpty())
        std::fprintf(stderr, "torva-ctl: %s: scan: %s\n", qUtf8Printable(m_options.device),
                     qUtf8Printable(error));
    if (m_options.json && status != kCtlOutputFailed) {
        QJsonObject o;
        o[QStringLiteral("command")] = QStringLiteral("scan");
        o[QStringLiteral("ok")] = status == kCtlOk;
        o[QStringLiteral("status")] = status;
        o[QStringLiteral("port")] = m_options.device;
        QJsonArray modules;
        for (const ScanTry& hit : result.found) {
            QJsonObject module;
            module[QStringLiteral("speed")] = SpeedOf(hit.speedIndex);
            module[QStringLiteral("address")] = hit.address;
            modules.append(module);
        }
        o[QStringLiteral("modules")] = modules;
        o[QStringLiteral("requests")] = result.tries;
        o[QStringLiteral("elapsed_ms")] = result.elapsedMs;
        if (!error.isEmpty())
            o[QStringLiteral("error")] = error;
        if (!PrintResult(m_options, o, {}))
            status = kCtlOutputFailed;
    }
    QCoreApplication::exit(status);
}
