// The two directions of data exchange between the window's members and its fields, with the
// fields' parsing rules and validation messages.
#include "DataExchange.h"

#include <QPlainTextEdit>

#include "FieldParse.h"

namespace {

bool IsPane(CDialogBase* dlg, int id) {
    return qobject_cast<QPlainTextEdit*>(dlg->GetDlgItem(id)) != nullptr;
}

// One numeric field: parse on commit (rejecting with `message`), format on refresh.
template <class T, class Parse, class Format>
void ExchangeNumber(CDataExchange* pDX, int id, T& value, Parse parse, Format format,
                    const QString& message) {
    CDialogBase* dlg = pDX->m_pDlgWnd;
    if (pDX->m_bSaveAndValidate) {
        const auto parsed = parse(dlg->GetDlgItemText(id).toStdString());
        if (!parsed)
            pDX->Fail(id, message);
        value = *parsed;
    } else {
        dlg->SetDlgItemText(id, QString::fromStdString(format(value)));
    }
}

}  // namespace

QString UnsignedFieldMessage() {
    return QStringLiteral("“请填入一个正整数。”");
}
QString DoubleFieldMessage() {
    return QStringLiteral("请键入一个数。");
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (!control.IsAttached())
        pDX->m_pDlgWnd->AttachControlObject(id, control);
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
    CDialogBase* dlg = pDX->m_pDlgWnd;
    if (IsPane(dlg, id)) {
        DDX_Pane(pDX, id, value, [&value](const std::string& text) { value = text; });
    } else if (pDX->m_bSaveAndValidate) {
        value = dlg->GetDlgItemText(id).toStdString();
    } else {
        dlg->SetDlgItemText(id, QString::fromStdString(value));
    }
}

void DDX_Pane(CDataExchange* pDX, int id, const std::string& text,
              const std::function<void(const std::string&)>& store) {
    CDialogBase* dlg = pDX->m_pDlgWnd;
    if (!pDX->m_bSaveAndValidate)
        dlg->SetPaneText(id, text);
    else if (store && dlg->GetDlgItem(id)->isEnabled())  // reading back a disabled pane could
        store(dlg->GetPaneText(id));                     // only drop lines logged since
}

void DDX_Text(CDataExchange* pDX, int id, std::uint32_t& value) {
    ExchangeNumber(pDX, id, value, ParseUnsignedField, FormatUnsignedField, UnsignedFieldMessage());
}

void DDX_Text(CDataExchange* pDX, int id, double& value) {
    ExchangeNumber(pDX, id, value, ParseDoubleField, FormatDoubleField, DoubleFieldMessage());
}
