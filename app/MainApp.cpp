#include "MainApp.h"

#include <QCoreApplication>

#include "CompassDlg.h"
#include "SignalClose.h"
#include "Styling.h"

bool CMainApp::InitInstance(const std::function<void(ModuleSession*)>& running) {
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
    if (running)
        running(&dlg.session());
    dlg.DoModal();
    if (running)
        running(nullptr);
    m_nClosingSignal = signalClose.Signal();
    return false;
}
