#include "TestSink.h"

void TestSink::ShowMessageBox(QWidget*, const MessageBoxRequest& request) {
    boxes.push_back(request);
    if (whileBoxOpen)
        whileBoxOpen(request);
}

std::optional<QString> TestSink::ChooseFolder(QWidget*, const QString& title) {
    folderTitles.push_back(title);
    return folderAnswer;
}
