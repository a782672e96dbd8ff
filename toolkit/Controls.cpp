#include "Controls.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
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

QString WidgetText(const QWidget* widget) {
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget))
        return edit->text();
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (const auto* box = qobject_cast<const QGroupBox*>(widget))
        return box->title();
    if (const auto* combo = qobject_cast<const QComboBox*>(widget))
        return combo->currentText();
    return QString();
}

void SetWidgetText(QWidget* widget, const QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        if (edit->text() != text)
            edit->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (label->text() != text)
            label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        if (button->text() != text)
            button->setText(text);
    } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
        box->setTitle(text);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->setEditText(text);
    }
}

CWnd::~CWnd() {
    if (m_forget)
        m_forget();
}

void CWnd::Attach(int id, QWidget* widget, std::function<void()> forget) {
    m_bAttached = true;
    m_nId = id;
    m_pWidget = widget;
    m_forget = std::move(forget);
}

void CWnd::Detach() {
    m_bAttached = false;
    m_pWidget = nullptr;
    m_forget = nullptr;
}

void CWnd::OnSetText(const QString& text) {
    SetWidgetText(m_pWidget, text);
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

void CWnd::EnableWindow(bool enable) {
    if (m_pWidget)
        m_pWidget->setEnabled(enable);
}

bool CWnd::IsWindowEnabled() const {
    return m_pWidget && m_pWidget->isEnabled();
}

void CWnd::SetWindowText(const QString& text) {
    if (m_pWidget && WidgetText(m_pWidget) != text)
        OnSetText(text);
}

QString CWnd::GetWindowText() const {
    return WidgetText(m_pWidget);
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
