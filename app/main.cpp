#include <QApplication>

#include "MainApp.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TORVA"));
    CMainApp theApp;
    theApp.InitInstance();
    return 0;
}
