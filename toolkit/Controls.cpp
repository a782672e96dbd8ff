#include "Controls.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <map>
#include <memory>

#include "Dialog.h"

HICON LoadIconResource(int resourceId) {
    static std::map<int, std::unique_ptr<CIcon>> loaded;
    auto& slot = loaded[resourceId];
    if (!slot) {
        slot = std::make_unique<CIcon>();
        slot->resourceId = resourceId;
        slot->icon = QIcon(QStringLiteral(":/res/icon%1.png").arg(resourceId));
    }
    return slot.get();
}

CWnd::~CWnd() {
    if (m_pDialog)
        m_pDialog->ForgetObject(this);
}

void CWnd::Attach(CDialogBase* dialog, int id, QWidget* widget) {
    m_pDialog = dialog;
    m_nId = id;
    m_pWidget = widget;
}

void CWnd::Detach() {
    m_pDialog = nullptr;
    m_pWidget = nullptr;
}

void CWnd::OnSetText(const QString& text) {
    if (m_pDialog)
        m_pDialog->StoreDlgItemText(m_nId, text);
}

unsigned CWnd::GetStyle() const {
    return m_pWidget ? m_pWidget->property("windowStyle").toUInt() : 0u;
}

void CWnd::ModifyStyle(unsigned remove, unsigned add) {
    if (m_pWidget) {
        m_pWidget->setProperty("windowStyle", (GetStyle() & ~remove) | add);
        m_pWidget->update();
    }
}

void CWnd::NotifyParent(Notification code) {
    if (m_pDialog)
        m_pDialog->Dispatch(m_nId, code);
}

void CWnd::EnableWindow(bool enable) {
    if (m_pWidget)
        m_pWidget->setEnabled(enable);
}

bool CWnd::IsWindowEnabled() const {
    return m_pWidget && m_pWidget->isEnabled();
}

void CWnd::SetWindowText(const QString& text) {
    if (m_pDialog)
        m_pDialog->SetDlgItemText(m_nId, text);
}

QString CWnd::GetWindowText() const {
    return m_pDialog ? m_pDialog->GetDlgItemText(m_nId) : QString();
}

void CStatic::SetIcon(HICON icon) {
    m_hIcon = icon;
    if (auto* label = qobject_cast<QLabel*>(m_pWidget.data())) {
        label->setPixmap(icon ? icon->icon.pixmap(32, 32) : QPixmap());
    }
}

int CComboBox::GetCurSel() const {
    auto* combo = qobject_cast<QComboBox*>(m_pWidget.data());
    return combo ? combo->currentIndex() : -1;
}

void CComboBox::SetCurSel(int index) {
    if (auto* combo = qobject_cast<QComboBox*>(m_pWidget.data()))
        combo->setCurrentIndex(index);
}
