#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>

class CDialogBase;
class CWnd;

// The two directions of data exchange. A commit that rejects a field shows the message, moves
// the focus to the field, selects its text and stops the exchange (UpdateData returns false).
class CDataExchange {
public:
    CDataExchange(CDialogBase* dialog, bool saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
    const bool m_bSaveAndValidate;
    CDialogBase* const m_pDlgWnd;
    [[noreturn]] void Fail(int id, const QString& message);
};

void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
void DDX_Text(CDataExchange* pDX, int id, std::uint32_t& value);
void DDX_Text(CDataExchange* pDX, int id, double& value);
// A multi-line pane showing a text the window does not hold itself: a refresh shows `text`, a
// commit hands what the pane shows to `store` (a disabled pane is not read back: it holds
// nothing the operator could have changed).
void DDX_Pane(CDataExchange* pDX, int id, const std::string& text,
              const std::function<void(const std::string&)>& store);

// Validation messages of the numeric fields.
QString UnsignedFieldMessage();
QString DoubleFieldMessage();
