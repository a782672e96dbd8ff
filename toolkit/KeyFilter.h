#pragma once

#include <QObject>

#include "Dialog.h"

// Passes the key events of one window's controls to its PreTranslateMessage. Installed on the
// application, since a filter on the dialog would miss keys sent to a focused control.
class CDialogBase::KeyPreFilter : public QObject {
public:
    explicit KeyPreFilter(CDialogBase* dialog);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CDialogBase* m_dialog;
};
