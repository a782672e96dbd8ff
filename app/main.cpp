#include <QApplication>
#include <csignal>

#include "InfoOptions.h"
#include "MainApp.h"

int main(int argc, char** argv) {
    if (const auto status = AnswerInfoOption(argc, argv))
        return *status;
    // A file-size limit then fails the record write, which is reported, instead of killing the
    // program with the recording's last lines unwritten.
    std::signal(SIGXFSZ, SIG_IGN);
    // Qt's own event dispatcher: it serves the same timers and notifiers as GLib's with less work
    // on each of the hundreds of wake-ups a second that a streaming module causes. Nothing here
    // needs GLib's main loop; whoever sets the variable keeps their choice.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TORVA"));
    CMainApp theApp;
    theApp.InitInstance();
    // Ended by a signal: say so the way a shell does, after the orderly close.
    const int signal = theApp.ClosingSignal();
    return signal == 0 ? 0 : 128 + signal;
}
