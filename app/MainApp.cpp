#include "MainApp.h"

#include <QApplication>
#include <QPalette>

#include "CompassDlg.h"

bool CMainApp::InitInstance() {
    // Dialog colours for every window: grey background, black text.
    QPalette palette = QApplication::palette();
    const QColor grey(207, 207, 207);
    palette.setColor(QPalette::Window, grey);
    palette.setColor(QPalette::Button, grey);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::ButtonText, Qt::black);
    palette.setColor(QPalette::Disabled, QPalette::Base, grey);
    QApplication::setPalette(palette);

    CCompassDlg dlg;
    dlg.DoModal();
    return false;
}
