#pragma once

#include <QFont>
#include <functional>
#include <unordered_map>

#include "Controls.h"
#include "Template.h"

class QPlainTextEdit;

// What a dialog's controls tell it.
struct ControlEvents {
    std::function<void(int id, Notification code)> notify;
    // A single-line field lost the focus, after its own focus-out handling.
    std::function<void(int id, Qt::FocusReason reason)> focusLost;
    // A multi-line pane was made; its text is the dialog's to write.
    std::function<void(int id, QPlainTextEdit* pane)> pane;
};

// Makes the controls of `dialogTemplate` as children of `dialog`: one widget per control, at its
// dialog-unit rectangle, in template order (which is also the tab order). Returns them by id;
// `events` must live as long as the controls.
std::unordered_map<int, QWidget*> BuildControls(QWidget* dialog,
                                                const DialogTemplate& dialogTemplate,
                                                const DialogUnits& units, const QFont& font,
                                                const ControlEvents& events);
