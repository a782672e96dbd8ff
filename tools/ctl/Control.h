#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ModuleScanner.h"
#include "ModuleSession.h"

// Exit statuses of torva-ctl; 0 to 5 mean what they mean for torva-read.
constexpr int kCtlOk = 0;
constexpr int kCtlUsage = 1;
constexpr int kCtlOpenFailed = 2;
constexpr int kCtlNoAnswer = 3;
constexpr int kCtlDeviceLost = 4;
constexpr int kCtlOutputFailed = 5;
constexpr int kCtlErrorAnswer = 6;

// How an answer tells success from error.
enum class AnswerRule : std::uint8_t {
    Reading,        // 84: the reading itself
    ZeroIsSuccess,  // byte 4: 00 success, anything else an error
    FFIsError,      // byte 4: FF an error, anything else success (a count or the coverage)
    ModeAck,        // the request's code + 80 with 00; 88 FF is the module's refusal
};

// One request of the command line: its name, the row sent and the answer waited for.
struct CtlRequest {
    std::string name;
    CommandRow row = CMD_READ;
    std::uint8_t answer = 0;
    AnswerRule rule = AnswerRule::ZeroIsSuccess;
};
// The request named `name` ("read", "set-zero", "calibrate start", ...), if there is one.
std::optional<CtlRequest> FindRequest(const std::string& name);

struct CtlOptions {
    QString device;
    int speedIndex = 2;  // 9600
    unsigned address = 0;
    double timeout = 1.0;
    bool json = false;
};

// Writes a result: one JSON object on a line with --json, else `text` and a newline. False
// (with the message printed) when standard output does not take it.
bool PrintResult(const CtlOptions& options, const QJsonObject& object, const QString& text);

// Sends one request through a module session and waits for its answer: the result on stdout,
// the exit status through the event loop's exit.
class RequestRun : public QObject {
    Q_OBJECT
public:
    RequestRun(const CtlOptions& options, const CtlRequest& request,
               const FrameParameters& parameters, QObject* parent = nullptr);
    // Opens the port and sends the request: kCtlOk while the answer is awaited, else the exit
    // status (with the message printed).
    int Start();

private:
    void OnAnswer(quint8 address, quint8 code, const QByteArray& frame);
    void Succeed(const QByteArray& frame, QJsonObject object, const QString& text);
    void Fail(int status, const QString& message, const QByteArray& frame = {});
    QJsonObject Base(bool ok, int status) const;

    CtlOptions m_options;
    CtlRequest m_request;
    FrameParameters m_parameters;
    ModuleSession m_session;
    QTimer m_timeout;
    bool m_finished = false;
};

// Searches the port for modules with a ModuleScanner: one line per module found and a result
// at the end.
class ScanRun : public QObject {
    Q_OBJECT
public:
    ScanRun(const CtlOptions& options, const ScanPlan& plan, QObject* parent = nullptr);
    int Start();

private:
    void OnFinished(const ScanResult& result);

    CtlOptions m_options;
    ScanPlan m_plan;
    ModuleSession m_session;
    ModuleScanner m_scanner{m_session};
    std::optional<LineFailure> m_failure;
    bool m_printFailed = false;
};
