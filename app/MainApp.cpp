#include "MainApp.h"

#include "CompassDlg.h"
#include "Styling.h"

bool CMainApp::InitInstance() {
    SetDialogColours();
    CCompassDlg dlg;
    dlg.DoModal();
    return false;
}
