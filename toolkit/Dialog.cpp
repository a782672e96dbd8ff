// The dialog's life cycle (creation, the modal run, destruction), its controls and their texts,
// dialog units, the window menu and the control colours.
#include "Dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <cmath>

#include "Fonts.h"
#include "InputFilter.h"
#include "OnScreen.h"
#include "Panes.h"

CDialogBase::CDialogBase(DialogTemplate dialogTemplate, QWidget* parent)
    : QDialog(parent), m_template(std::move(dialogTemplate)) {
    const TemplateFont templateFont = MakeTemplateFont(m_template.fontFace, m_template.pointSize);
    m_font = ControlFont(templateFont);
    m_baseX = templateFont.baseX;
    m_baseY = templateFont.baseY;
    m_paneTimer = new QTimer(this);
    m_paneTimer->setSingleShot(true);
    connect(m_paneTimer, &QTimer::timeout, this, &CDialogBase::FlushPanes);
}

CDialogBase::~CDialogBase() {
    m_coverWatch.reset();
    for (auto& [id, object] : m_objects)
        object->Detach();
}

bool CDialogBase::Create() {
    if (m_bCreated)
        return true;
    m_bCreated = true;
    setWindowTitle(m_template.caption);
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (m_template.minimizeBox)
        flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);
    setFont(m_font);
    const QRect size = DialogUnitsToPixels(0, 0, m_template.cx, m_template.cy);
    setFixedSize(size.width(), size.height());
    BuildControls();
    m_inputFilter = new InputPreFilter(this);
    qApp->installEventFilter(m_inputFilter);
    OnInitDialog();
    ApplyControlColours();
    show();
    WatchOnScreen();
    return true;
}

int CDialogBase::DoModal() {
    // Modal before it is first shown: Qt ignores a modality set on a visible window, and the
    // windows beneath would keep taking keys and clicks.
    setWindowModality(Qt::ApplicationModal);
    Create();
    const int result = exec();
    DestroyWindow();
    return result;
}

void CDialogBase::done(int result) {
    QDialog::done(result);
    DestroyWindow();
}

void CDialogBase::DestroyWindow() {
    if (!m_bCreated || m_bDestroyed)
        return;
    m_bDestroyed = true;
    OnDestroy();
    m_paneTimer->stop();
    qApp->removeEventFilter(m_inputFilter);
    hide();
    // What the last handlers had to say is still said, now that nothing else runs.
    ShowQueuedBoxes();
}

bool CDialogBase::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialogBase::ApplyControlColours() {
    for (const ControlSpec& spec : m_template.controls) {
        if (spec.kind != ControlKind::Static || spec.id == -1)
            continue;
        const std::optional<CtlColor> colours = OnCtlColor(spec.id);
        if (!colours)
            continue;
        QWidget* widget = GetDlgItem(spec.id);
        QPalette palette = widget->palette();
        palette.setColor(QPalette::WindowText, colours->text);
        palette.setBrush(QPalette::Window, colours->background);
        widget->setPalette(palette);
        widget->setAutoFillBackground(true);
    }
}

QRect CDialogBase::DialogUnitsToPixels(int x, int y, int cx, int cy) const {
    auto mul = [](int v, int base, int div) {
        return static_cast<int>(std::lround(static_cast<double>(v) * base / div));
    };
    return QRect(mul(x, m_baseX, 4), mul(y, m_baseY, 8), mul(cx, m_baseX, 4), mul(cy, m_baseY, 8));
}

void CDialogBase::AppendSystemMenu(int commandId, const QString& text) {
    if (!m_sysMenu)
        m_sysMenu = new QMenu(this);
    if (text.isEmpty()) {
        m_sysMenu->addSeparator();
        return;
    }
    QAction* action = m_sysMenu->addAction(text);
    action->setData(commandId);
}

void CDialogBase::contextMenuEvent(QContextMenuEvent* event) {
    if (!m_sysMenu || m_sysMenu->isEmpty()) {
        QDialog::contextMenuEvent(event);
        return;
    }
    // The command runs after the menu has closed, as a menu command does.
    QAction* chosen = m_sysMenu->exec(event->globalPos());
    if (chosen && chosen->data().isValid()) {
        const int command = chosen->data().toInt();
        OnSysCommand(command);
    }
}

void CDialogBase::AttachControlObject(int id, CWnd& object) {
    object.Attach(this, id, GetDlgItem(id));
    m_objects[id] = &object;
}

CWnd* CDialogBase::AttachedObject(int id) const {
    const auto it = m_objects.find(id);
    return it == m_objects.end() ? nullptr : it->second;
}

void CDialogBase::ForgetObject(const CWnd* object) {
    std::erase_if(m_objects, [object](const auto& entry) { return entry.second == object; });
}

QWidget* CDialogBase::GetDlgItem(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void CDialogBase::SetDlgItemText(int id, const QString& text) {
    // An attached control object sees the new text first (it may repaint around the control).
    CWnd* object = AttachedObject(id);
    if (object && GetDlgItemText(id) != text)
        object->OnSetText(text);
    else
        StoreDlgItemText(id, text);
}

void CDialogBase::StoreDlgItemText(int id, const QString& text) {
    QWidget* widget = GetDlgItem(id);
    if (!widget)
        return;
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
    } else if (m_panes.count(id)) {
        SetPaneText(id, PaneTextFromWidget(text));
    }
}

QString CDialogBase::GetDlgItemText(int id) {
    QWidget* widget = GetDlgItem(id);
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->text();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* box = qobject_cast<QGroupBox*>(widget))
        return box->title();
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        return combo->currentText();
    if (m_panes.count(id)) {
        FlushPanes();
        return m_panes[id]->widget->toPlainText();
    }
    return QString();
}
