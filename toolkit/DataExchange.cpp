// The two directions of data exchange between the window's members and its fields, with the
// fields' parsing rules and validation messages.
#include "DataExchange.h"

#include <QLineEdit>
#include <QPlainTextEdit>

#include "Dialog.h"
#include "FieldParse.h"

namespace {

// Thrown by CDataExchange::Fail to end an exchange at the rejected field.
struct DataExchangeFailure {};

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

bool CDialogBase::UpdateData(bool bSaveAndValidate) {
    if (bSaveAndValidate)
        FlushPanes();
    ++m_nExchangeDepth;
    bool ok = true;
    try {
        CDataExchange dx(this, bSaveAndValidate);
        DoDataExchange(&dx);
    } catch (const DataExchangeFailure&) {
        ok = false;
    } catch (...) {
        --m_nExchangeDepth;
        throw;
    }
    --m_nExchangeDepth;
    if (!ok)
        ++m_nRejectedCommits;
    return ok;
}

void CDataExchange::Fail(int id, const QString& message) {
    m_pDlgWnd->MessageBox(message);
    if (auto* edit = qobject_cast<QLineEdit*>(m_pDlgWnd->GetDlgItem(id))) {
        edit->setFocus(Qt::OtherFocusReason);
        edit->selectAll();
    }
    throw DataExchangeFailure{};
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (!control.IsAttached())
        pDX->m_pDlgWnd->AttachControlObject(id, control);
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
    CDialogBase* dlg = pDX->m_pDlgWnd;
    const bool isPane = IsPane(dlg, id);
    if (pDX->m_bSaveAndValidate) {
        // A disabled pane holds nothing the operator could have changed; reading it back could
        // only drop lines logged since the last refresh.
        if (isPane && !dlg->GetDlgItem(id)->isEnabled())
            return;
        value = isPane ? dlg->GetPaneText(id) : dlg->GetDlgItemText(id).toStdString();
    } else if (isPane) {
        dlg->SetPaneText(id, value);
    } else {
        dlg->SetDlgItemText(id, QString::fromStdString(value));
    }
}

void DDX_Pane(CDataExchange* pDX, int id, const std::string& text,
              const std::function<void(const std::string&)>& store) {
    CDialogBase* dlg = pDX->m_pDlgWnd;
    if (!pDX->m_bSaveAndValidate)
        dlg->SetPaneText(id, text);
    else if (store && dlg->GetDlgItem(id)->isEnabled())
        store(dlg->GetPaneText(id));
}

void DDX_Text(CDataExchange* pDX, int id, std::uint32_t& value) {
    ExchangeNumber(pDX, id, value, ParseUnsignedField, FormatUnsignedField, UnsignedFieldMessage());
}

void DDX_Text(CDataExchange* pDX, int id, double& value) {
    ExchangeNumber(pDX, id, value, ParseDoubleField, FormatDoubleField, DoubleFieldMessage());
}
