#include "UiSink.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>

namespace {

// Qt's own dialogs keep their state (the file dialog's history, last folder and view) in a
// settings file under the user's home. The console stores nothing between runs, so Qt's
// settings point at a place where no file can ever be made: /dev/null is not a folder.
void KeepQtSettingsOffDisk() {
    static const bool done = [] {
        for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat}) {
            for (const auto scope : {QSettings::UserScope, QSettings::SystemScope})
                QSettings::setPath(format, scope, QStringLiteral("/dev/null"));
        }
        return true;
    }();
    (void)done;
}

// A plain "OK" (no icon) centred under the text; a box without an icon keeps its text centred
// between equal margins instead of indented for an icon it does not have.
void LookLikeADialogBox(QMessageBox& box, bool withoutIcon) {
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    if (auto* buttons = box.findChild<QDialogButtonBox*>())
        buttons->setCenterButtons(true);
    if (!withoutIcon)
        return;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        for (int i = 0; i < grid->count(); ++i) {
            if (QSpacerItem* indent = grid->itemAt(i)->spacerItem())
                indent->changeSize(0, 0, QSizePolicy::Fixed, QSizePolicy::Fixed);
        }
        grid->invalidate();
    }
    if (auto* text = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
        text->setAlignment(Qt::AlignCenter);
}

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
        LookLikeADialogBox(box, request.icon == BoxIcon::None);
        box.exec();
    }
    void Beep() override { QApplication::beep(); }
    std::optional<QString> ChooseFolder(QWidget* owner, const QString& title) override {
        KeepQtSettingsOffDisk();
        // Qt's own dialog everywhere, with a field to type a folder into; a desktop's native one
        // could keep a history of its own.
        const QString dir = QFileDialog::getExistingDirectory(
            owner, title, QString(), QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
        if (dir.isEmpty())
            return std::nullopt;
        return dir;
    }
};

}  // namespace

std::unique_ptr<UiSink> MakeQtUiSink() {
    return std::make_unique<QtUiSink>();
}

QString ApplicationTitle() {
    return QStringLiteral("TORVA");
}
