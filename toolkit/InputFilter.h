#pragma once

#include <QObject>

#include "Dialog.h"

// Sees the key and mouse-button events of one window's controls before the controls do: keys go
// to its PreTranslateMessage, and the press of a click the window has cancelled goes nowhere.
// Installed on the application, since a filter on the dialog would miss events sent to a control.
class CDialogBase::InputPreFilter : public QObject {
public:
    explicit InputPreFilter(CDialogBase* dialog);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CDialogBase* m_dialog;
};
