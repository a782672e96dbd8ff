#include <QApplication>
#include <QSignalBlocker>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "InfoOptions.h"
#include "MainApp.h"
#include "ModuleSession.h"
#include "StandardDescriptors.h"

namespace {

// The running window's session. When the X server goes away, Qt ends the program with exit()
// from inside the event loop and the window is never closed; exit() is process-wide, so only a
// hook of the process can still complete the recording.
ModuleSession* g_runningSession = nullptr;

// Writes what the window's close would have written; no box can be shown any more.
void FinishRecordingAtExit() {
    if (g_runningSession == nullptr || !g_runningSession->recorder().IsRecording())
        return;
    const QSignalBlocker quiet(g_runningSession);
    if (g_runningSession->stopRecording() != RecordStop::Stopped)
        std::fprintf(stderr, "torva: the record file %s could not be completed\n",
                     g_runningSession->recorder().FilePath().c_str());
}

// Qt aborts when its platform plugin cannot start (a display that cannot be reached), with a
// message that suggests reinstalling: say what is wrong instead, after Qt's warnings that say
// why, and end with status 1. Used only while the application object is made; Qt's other
// messages go out as Qt prints them.
void StartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
        return;
    }
    std::fprintf(stderr,
                 "torva: no window can be opened: Qt's platform plugin did not start (the lines "
                 "above say why). Check the display (DISPLAY, -display), or name a platform "
                 "with -platform.\n");
    std::fflush(nullptr);
    std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    // Before any file is opened: a closed standard descriptor must not become the X connection
    // that Qt's warnings are then written into.
    if (!TakeClosedStandardDescriptors()) {
        std::perror("torva: /dev/null");
        return 1;
    }
    if (const auto status = AnswerInfoOption(argc, argv))
        return *status;
    if (const std::string missing = MissingDisplay(argc, argv); !missing.empty()) {
        std::fprintf(stderr, "torva: %s\n", missing.c_str());
        return 1;
    }
    // A file-size limit then fails the record write, which is reported, instead of killing the
    // program with the recording's last lines unwritten.
    std::signal(SIGXFSZ, SIG_IGN);
    // Qt's own event dispatcher: it serves the same timers and notifiers as GLib's with less work
    // on each of the hundreds of wake-ups a second that a streaming module causes. Nothing here
    // needs GLib's main loop; whoever sets the variable keeps their choice.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    const QtMessageHandler previous = qInstallMessageHandler(StartupMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    QApplication::setApplicationName(QStringLiteral("TORVA"));
    CMainApp theApp;
    const bool atExit = std::atexit(FinishRecordingAtExit) == 0;
    theApp.InitInstance([atExit](ModuleSession* session) {
        if (atExit)
            g_runningSession = session;
    });
    // Ended by a signal: say so the way a shell does, after the orderly close.
    const int signal = theApp.ClosingSignal();
    return signal == 0 ? 0 : 128 + signal;
}
