#pragma once

#include <QString>
#include <string>

#include "Dialog.h"

class QPlainTextEdit;

// A multi-line pane and what it shows. `pending` is the text of the last refresh, `shown` the
// widget's text as last written by us; `diverged` when the operator typed into it since.
struct CDialogBase::Pane {
    QPlainTextEdit* widget = nullptr;
    std::string pending;
    std::string shown;
    bool dirty = false;
    bool diverged = false;
    bool writing = false;
};

// Panes hold CR LF line ends like the members behind them; the widget shows plain line breaks.
std::string PaneTextFromWidget(const QString& text);
