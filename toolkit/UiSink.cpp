#include "UiSink.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {

class QtUiSink final : public UiSink {
public:
    void ShowMessageBox(QWidget* owner, const MessageBoxRequest& request) override {
        QMessageBox box(owner);
        box.setWindowTitle(request.caption);
        box.setText(request.text);
        switch (request.icon) {
            case BoxIcon::None:
                box.setIcon(QMessageBox::NoIcon);
                break;
            case BoxIcon::Exclamation:
                box.setIcon(QMessageBox::Warning);
                break;
            case BoxIcon::Stop:
                box.setIcon(QMessageBox::Critical);
                break;
        }
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
    }
    void Beep() override { QApplication::beep(); }
    std::optional<QString> ChooseFolder(QWidget* owner, const QString& title) override {
        const QString dir = QFileDialog::getExistingDirectory(owner, title);
        if (dir.isEmpty())
            return std::nullopt;
        return dir;
    }
};

QtUiSink g_qtSink;
UiSink* g_sink = &g_qtSink;

}  // namespace

UiSink& CurrentUiSink() {
    return *g_sink;
}

void SetUiSink(UiSink* sink) {
    g_sink = sink ? sink : &g_qtSink;
}

QString ApplicationTitle() {
    return QStringLiteral("TORVA");
}
