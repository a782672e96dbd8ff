#pragma once

#include <QDialog>
#include <functional>
#include <optional>

#include "ModuleScanner.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

// "Find module...": searches the window's port for the module with a ModuleScanner on the
// window's own session, with a progress bar, Cancel, a "whole bus" choice and the modules
// found. The window says where to start (and selects the port) through `plan`, and takes the
// first module found through moduleFound() when a search ends with one.
class FindModuleDialog : public QDialog {
    Q_OBJECT
public:
    FindModuleDialog(ModuleSession& session, std::function<std::optional<ScanPlan>()> plan,
                     QWidget* parent = nullptr);
    ~FindModuleDialog() override;

    bool searching() const { return m_scanner.running(); }

signals:
    void moduleFound(int speedIndex, int address);

protected:
    void reject() override;  // Escape and the close button cancel a search first

private:
    void startSearch();
    void onFinished(const ScanResult& result);

    ModuleScanner m_scanner;
    std::function<std::optional<ScanPlan>()> m_plan;
    std::optional<LineFailure> m_failure;
    QCheckBox* m_wholeBus = nullptr;
    QPushButton* m_search = nullptr;
    QPushButton* m_cancel = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_result = nullptr;
    QListWidget* m_found = nullptr;
};

// The window's one search dialog, made on first use, shown window-modal.
FindModuleDialog* ShowFindModuleDialog(QWidget* owner, ModuleSession& session,
                                       const std::function<std::optional<ScanPlan>()>& plan);
