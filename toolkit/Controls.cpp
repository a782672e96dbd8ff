#include "Controls.h"

#include <QComboBox>
#include <QLabel>
#include <map>
#include <memory>

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

void CWnd::Attach(CControlHost* dialog, int id, QWidget* widget) {
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

int EntryNamedBy(const QStringList& items, const QString& text) {
    const QString name = text.trimmed();
    for (int i = 0; i < items.size(); ++i) {
        if (items[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int CComboBox::GetCurSel() const {
    auto* combo = qobject_cast<QComboBox*>(m_pWidget.data());
    if (!combo)
        return -1;
    if (combo->currentIndex() != -1 || !combo->isEditable())
        return combo->currentIndex();
    // Typed text that the field still holds counts as the entry it names.
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return EntryNamedBy(items, combo->currentText());
}

void CComboBox::SetCurSel(int index) {
    if (auto* combo = qobject_cast<QComboBox*>(m_pWidget.data()))
        combo->setCurrentIndex(index);
}
