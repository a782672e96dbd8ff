#pragma once

#include "Dialog.h"

// The About box: the program's icon, name and version, and an OK button. The button or Escape
// closes it; it has no behaviour of its own.
class CAboutDlg : public CDialogBase {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;
};

DialogTemplate AboutBoxTemplate();
