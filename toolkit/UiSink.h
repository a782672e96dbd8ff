#pragma once

#include <QString>
#include <memory>
#include <optional>

class QWidget;

enum class BoxIcon { None, Exclamation, Stop };

struct MessageBoxRequest {
    QString text;
    QString caption;
    BoxIcon icon = BoxIcon::None;
};

// Everything that would block on the operator or make a sound goes through a sink, so a test can
// record the requests and answer them instead of waiting for a person (CDialogBase::SetUiSink).
class UiSink {
public:
    virtual ~UiSink() = default;
    // Modal: returns when the operator has dismissed the box. Timers and serial notifications
    // keep being served meanwhile (a nested event loop).
    virtual void ShowMessageBox(QWidget* owner, const MessageBoxRequest& request) = 0;
    virtual void Beep() = 0;
    // The chosen folder, or nothing when the operator cancelled.
    virtual std::optional<QString> ChooseFolder(QWidget* owner, const QString& title) = 0;
};

// The sink that shows real Qt dialogs.
std::unique_ptr<UiSink> MakeQtUiSink();

// The application's name: the caption of every box that has none of its own.
QString ApplicationTitle();
