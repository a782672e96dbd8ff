#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "UiSink.h"

// Records message boxes, beeps and folder requests instead of showing them, for the dialogs it
// is given to (CDialogBase::SetUiSink). While a box is "open", `whileBoxOpen` runs (for example
// to let events arrive inside the nested loop).
class TestSink final : public UiSink {
public:
    void ShowMessageBox(QWidget* owner, const MessageBoxRequest& request) override;
    void Beep() override { ++beeps; }
    std::optional<QString> ChooseFolder(QWidget* owner, const QString& title) override;

    std::vector<MessageBoxRequest> boxes;
    int beeps = 0;
    std::vector<QString> folderTitles;
    std::optional<QString> folderAnswer;
    std::function<void(const MessageBoxRequest&)> whileBoxOpen;

    QString LastText() const { return boxes.empty() ? QString() : boxes.back().text; }
};
