#include "Dialog.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QWindow>
#include <utility>

#include "Fonts.h"
#include "InputFilter.h"
#include "OnScreen.h"
#include "Panes.h"

namespace {

// Thrown by CDataExchange::Fail to end an exchange at the rejected field.
struct DataExchangeFailure {};

}  // namespace

// ---- Life cycle -----------------------------------------------------------------------------

CDialogBase::CDialogBase(DialogTemplate dialogTemplate, QWidget* parent)
    : QDialog(parent),
      m_template(std::move(dialogTemplate)),
      m_panes(new PaneWriter(this)),
      m_boxes(
          this, [this]() -> UiSink& { return Sink(); },
          [this] {
              // The window takes the activation back from its closed box, as an owner does, so
              // that the field that had the focus has it again: left inactive, its next focus
              // loss would come with no focus-out event and the text typed into it would never
              // be committed. A minimised window stays as it is.
              if (isVisible() && !isMinimized() && !m_bDestroyed)
                  activateWindow();
          }) {
    const TemplateFont templateFont = MakeTemplateFont(m_template.fontFace, m_template.pointSize);
    m_font = ControlFont(templateFont);
    m_units = DialogUnits{templateFont.baseX, templateFont.baseY};
    m_controlEvents.notify = [this](int id, Notification code) { Dispatch(id, code); };
    m_controlEvents.focusLost = [this](int id, Qt::FocusReason reason) {
        FieldLostFocus(id, reason);
    };
    m_controlEvents.pane = [this](int id, QPlainTextEdit* pane) {
        m_panes->AddPane(id, pane, [this, id] { Dispatch(id, Notification::Changed); });
    };
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
    m_controls = BuildControls(this, m_template, m_units, m_font, m_controlEvents);
    m_inputFilter = new InputPreFilter(
        this, [this](QObject* target, QEvent* event) { return PreTranslateMessage(target, event); },
        [this] { return DropsPress(); });
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
    m_panes->SetOnScreen(false);
    delete std::exchange(m_inputFilter, nullptr);
    hide();
    // What the last handlers had to say is still said, now that nothing else runs.
    m_boxes.ShowQueuedBoxes();
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
    return m_units.ToPixels(x, y, cx, cy);
}

// ---- The window menu --------------------------------------------------------------------------

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
    if (chosen && chosen->data().isValid())
        OnSysCommand(chosen->data().toInt());
}

// ---- Controls, their objects and their texts --------------------------------------------------

void CDialogBase::AttachControlObject(int id, CWnd& object) {
    object.Attach(id, GetDlgItem(id), [this, &object] {
        std::erase_if(m_objects, [&object](const auto& entry) { return entry.second == &object; });
    });
    m_objects[id] = &object;
}

CWnd* CDialogBase::AttachedObject(int id) const {
    const auto it = m_objects.find(id);
    return it == m_objects.end() ? nullptr : it->second;
}

QWidget* CDialogBase::GetDlgItem(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void CDialogBase::SetDlgItemText(int id, const QString& text) {
    if (m_panes->HasPane(id)) {
        SetPaneText(id, PaneTextFromWidget(text));
        return;
    }
    // An attached control object sees the new text first (it may repaint around the control).
    CWnd* object = AttachedObject(id);
    if (object)
        object->SetWindowText(text);
    else
        SetWidgetText(GetDlgItem(id), text);
}

QString CDialogBase::GetDlgItemText(int id) {
    if (m_panes->HasPane(id))
        return m_panes->ShownText(id);
    return WidgetText(GetDlgItem(id));
}

void CDialogBase::SetPaneText(int id, const std::string& text) {
    m_panes->SetPaneText(id, text);
}

std::string CDialogBase::GetPaneText(int id) {
    return m_panes->PaneText(id);
}

void CDialogBase::FlushPanes() {
    m_panes->WritePanes();
}

// ---- Data exchange ----------------------------------------------------------------------------

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

// ---- The handler table ------------------------------------------------------------------------

void CDialogBase::Bind(int id, Notification code, std::function<void()> handler) {
    m_handlers[{id, code}] = std::move(handler);
}

void CDialogBase::Dispatch(int id, Notification code) {
    if (m_bDestroyed)
        return;
    if (m_nExchangeDepth > 0 &&
        (code == Notification::Changed || code == Notification::KillFocus)) {
        return;  // a refresh must never start a commit
    }
    // A field loses the focus to our own box while the box is up; that is no commit.
    if (m_boxes.BoxOpen() && code == Notification::KillFocus)
        return;
    const auto it = m_handlers.find({id, code});
    if (it == m_handlers.end()) {
        // OK and Cancel end the dialog unless the dialog handles them itself.
        if (code == Notification::Clicked && (id == IDOK || id == IDCANCEL))
            done(id == IDOK ? Accepted : Rejected);
        return;
    }
    const std::function<void()> handler = it->second;  // the table may not change under us
    handler();
}

void CDialogBase::FieldLostFocus(int id, Qt::FocusReason reason) {
    const int rejected = m_nRejectedCommits;
    Dispatch(id, Notification::KillFocus);
    // A click that took the focus from a field whose commit it then rejected goes no further:
    // the field has the focus back, and the control clicked must not act on the old value. Only
    // the press being delivered now is cancelled, never a later one.
    if (reason == Qt::MouseFocusReason && m_nRejectedCommits != rejected) {
        m_bCancelClick = true;
        QMetaObject::invokeMethod(
            this, [this] { m_bCancelClick = false; }, Qt::QueuedConnection);
    }
}

bool CDialogBase::DropsPress() {
    return std::exchange(m_bCancelClick, false);
}

// ---- On screen --------------------------------------------------------------------------------
// Whether the window can be seen, and no painting while it cannot: minimised, unmapped, or
// wholly covered by other windows. Frames keep arriving and the members, logs and record file
// keep changing as ever; only their display waits until the window shows again.

void CDialogBase::WatchOnScreen() {
    if (QWindow* window = windowHandle())
        window->installEventFilter(this);
    m_coverWatch =
        std::make_unique<CoverWatch>(this, [this](bool covered) { SetCovered(covered); });
}

bool CDialogBase::eventFilter(QObject* watched, QEvent* event) {
    // Qt marks the window exposed or not before it delivers the event.
    if (event->type() == QEvent::Expose && watched == windowHandle())
        UpdateOnScreen();
    return QDialog::eventFilter(watched, event);
}

void CDialogBase::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        UpdateOnScreen();
}

void CDialogBase::SetCovered(bool covered) {
    m_bCovered = covered;
    UpdateOnScreen();
}

void CDialogBase::UpdateOnScreen() {
    const QWindow* window = windowHandle();
    const bool onScreen = window != nullptr && window->isExposed() && !isMinimized() && !m_bCovered;
    if (onScreen == m_bOnScreen)
        return;
    m_bOnScreen = onScreen;
    // Off screen, texts still change but nothing repaints; back on screen, one repaint of the
    // whole window shows them, and the panes are written.
    setUpdatesEnabled(onScreen);
    m_panes->SetOnScreen(onScreen);
}

// ---- Boxes, the beep and the folder choice ----------------------------------------------------

UiSink& CDialogBase::Sink() {
    if (m_sink)
        return *m_sink;
    if (auto* owner = qobject_cast<CDialogBase*>(parentWidget()))
        return owner->Sink();
    if (!m_qtSink)
        m_qtSink = MakeQtUiSink();
    return *m_qtSink;
}

void CDialogBase::MessageBox(const QString& text, const QString& caption) {
    const bool own = !caption.isEmpty();
    m_boxes.QueueBox(MessageBoxRequest{text, own ? caption : ApplicationTitle(),
                                       own ? BoxIcon::None : BoxIcon::Exclamation});
}

void CDialogBase::ErrorBox(const QString& text) {
    m_boxes.QueueBox(MessageBoxRequest{text, ApplicationTitle(), BoxIcon::Stop});
}

void CDialogBase::SilenceBoxes() {
    m_boxes.SilenceBoxes();
}

void CDialogBase::MessageBeep() {
    Sink().Beep();
}

std::optional<QString> CDialogBase::BrowseForFolder(const QString& title) {
    return Sink().ChooseFolder(this, title);
}
