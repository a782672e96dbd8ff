#include "MainApp.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

#include "CompassDlg.h"
#include "Recording.h"
#include "SignalClose.h"
#include "Styling.h"
#include "TrafficLog.h"

namespace {

// The window while it runs, for the exit path below.
CCompassDlg* g_runningDialog = nullptr;

// When the X server goes away, Qt ends the program with exit() from inside the event loop:
// the window is never closed. Write what its close would have written; no box can be shown.
void FinishRecordingAtExit() {
    if (g_runningDialog == nullptr || !g_runningDialog->m_recorder.IsRecording())
        return;
    Recorder& record = g_runningDialog->m_recorder;
    if (StopRecording(record, g_runningDialog->m_strReceived, LocalTimeNow()) !=
        RecordStop::Stopped)
        std::fprintf(stderr, "torva: the record file %s could not be completed\n",
                     record.FilePath().c_str());
}

}  // namespace

bool CMainApp::InitInstance() {
    SetDialogColours();
    CCompassDlg dlg;
    // A signal closes the window as Escape does, so a recording gets its pending lines and its
    // end line; the loops of boxes open at that moment end too, and no further box opens, or
    // the program would wait on them.
    SignalClose signalClose([&dlg] {
        dlg.SilenceBoxes();
        dlg.reject();
        QCoreApplication::exit();
    });
    static const bool atExit = std::atexit(FinishRecordingAtExit) == 0;
    g_runningDialog = atExit ? &dlg : nullptr;
    dlg.DoModal();
    g_runningDialog = nullptr;
    m_nClosingSignal = signalClose.Signal();
    return false;
}
