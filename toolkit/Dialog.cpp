#include "Dialog.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <cmath>

#include "Exception.h"
#include "FieldParse.h"
#include "UiSink.h"

namespace {

// Thrown by CDataExchange::Fail to end an exchange at the rejected field.
struct DataExchangeFailure {};

// Panes are written at most this often, the period of the poll tick: measured at the full
// line rate (823 frames/s), writing every 30 ms cost 8-9 % of a core, every 100 ms under 5 %.
constexpr int kPaneFlushMs = 100;
const char* const kIdProperty = "ctrlId";

int ControlId(const QObject* object) {
    const QVariant v = object->property(kIdProperty);
    return v.isValid() ? v.toInt() : -1;
}

// Panes hold CR LF line ends like the members behind them; the widget shows plain line breaks.
QString ToWidgetText(std::string_view text) {
    QString out = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return out;
}

// Appends at `end` and repaints the text only where the new lines show. The text layout asks
// for a whole-viewport repaint on every multi-line insertion, even below the visible lines,
// and that repaint costs most of a flush while frames stream in.
void AppendQuietly(QPlainTextEdit* edit, QTextCursor& end, const QString& text) {
    QAbstractTextDocumentLayout* layout = edit->document()->documentLayout();
    const bool shows = edit->cursorRect(end).top() < edit->viewport()->height();
    {
        const QSignalBlocker quiet(layout);
        end.insertText(text);
    }
    emit layout->documentSizeChanged(layout->documentSize());  // the scroll bars follow
    if (shows)
        edit->viewport()->update();
}

std::string FromWidgetText(const QString& text) {
    QString withCrLf = text;
    withCrLf.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return withCrLf.toStdString();
}

}  // namespace

void RegisterTemplateFontSubstitutes() {
    const QString song = QStringLiteral("AR PL UMing CN");
    QFont::insertSubstitution(QStringLiteral("宋体"), song);
    QFont::insertSubstitution(QStringLiteral("SimSun"), song);
}

QString UnsignedFieldMessage() {
    return QStringLiteral("“请填入一个正整数。”");
}
QString DoubleFieldMessage() {
    return QStringLiteral("请键入一个数。");
}

// Passes the key events of one window's controls to its PreTranslateMessage. Installed on the
// application, since a filter on the dialog would miss keys sent to a focused control.
class CDialogBase::KeyPreFilter : public QObject {
public:
    explicit KeyPreFilter(CDialogBase* dialog) : QObject(dialog), m_dialog(dialog) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
                break;
            default:
                return false;
        }
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || widget->window() != m_dialog)
            return false;
        return m_dialog->PreTranslateMessage(watched, event);
    }

private:
    CDialogBase* m_dialog;
};

// A multi-line pane and what it shows. `pending` is the text of the last refresh, `shown` the
// widget's text as last written by us; `diverged` when the operator typed into it since.
struct CDialogBase::Pane {
    QPlainTextEdit* widget = nullptr;
    std::string pending;
    std::string shown;
    bool dirty = false;
    bool diverged = false;
    bool writing = false;
};

CDialogBase::CDialogBase(DialogTemplate dialogTemplate, QWidget* parent)
    : QDialog(parent), m_template(std::move(dialogTemplate)) {
    RegisterTemplateFontSubstitutes();
    m_font = QFont(m_template.fontFace);
    // Sized as the platform sizes the template font's character cell at 96 dpi (10 pt -> 14 px).
    m_font.setPixelSize(static_cast<int>(std::ceil(m_template.pointSize * 96.0 / 72.0)));
    const QFontMetrics metrics(m_font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
    if (m_baseX <= 0 || m_baseY <= 0) {
        m_baseX = 7;
        m_baseY = 14;
    }
    m_paneTimer = new QTimer(this);
    m_paneTimer->setSingleShot(true);
    connect(m_paneTimer, &QTimer::timeout, this, &CDialogBase::FlushPanes);
}

CDialogBase::~CDialogBase() {
    for (auto& [id, object] : m_objects)
        object->Detach();
}

CWnd* CDialogBase::AttachedObject(int id) const {
    const auto it = m_objects.find(id);
    return it == m_objects.end() ? nullptr : it->second;
}

void CDialogBase::ForgetObject(const CWnd* object) {
    std::erase_if(m_objects, [object](const auto& entry) { return entry.second == object; });
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
        RunGuarded([this, command] { OnSysCommand(command); });
    }
}

QRect CDialogBase::DialogUnitsToPixels(int x, int y, int cx, int cy) const {
    auto mul = [](int v, int base, int div) {
        return static_cast<int>(std::lround(static_cast<double>(v) * base / div));
    };
    return QRect(mul(x, m_baseX, 4), mul(y, m_baseY, 8), mul(cx, m_baseX, 4), mul(cy, m_baseY, 8));
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
    m_keyFilter = new KeyPreFilter(this);
    qApp->installEventFilter(m_keyFilter);
    RunGuarded([this] { OnInitDialog(); });
    ApplyControlColours();
    show();
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
    RunGuarded([this] { OnDestroy(); });
    for (auto& [id, timer] : m_timers)
        timer->stop();
    m_paneTimer->stop();
    qApp->removeEventFilter(m_keyFilter);
    hide();
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

bool CDialogBase::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialogBase::BuildControls() {
    for (const ControlSpec& spec : m_template.controls) {
        QWidget* widget = CreateControl(spec);
        widget->setProperty(kIdProperty, spec.id);
        widget->setAccessibleName(spec.name.isEmpty() ? spec.caption : spec.name);
        if (spec.id != -1)
            m_controls[spec.id] = widget;
    }
    // Backdrops stay behind the controls drawn over them and let clicks through.
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && widget->property("backdrop").toBool())
            widget->lower();
    }
    for (QObject* child : children()) {
        auto* box = qobject_cast<QGroupBox*>(child);
        if (box)
            box->lower();
    }
}

QWidget* CDialogBase::CreateControl(const ControlSpec& spec) {
    const QRect rect = DialogUnitsToPixels(spec.x, spec.y, spec.cx, spec.cy);
    const int id = spec.id;
    QWidget* widget = nullptr;
    switch (spec.kind) {
        case ControlKind::Button: {
            auto* button = new QPushButton(spec.caption, this);
            // Enter presses no button of the main window; other dialogs name a default one.
            const bool isDefault = (spec.style & Style::DefaultButton) != 0;
            button->setAutoDefault(isDefault);
            button->setDefault(isDefault);
            connect(button, &QPushButton::clicked, this,
                    [this, id] { Dispatch(id, Notification::Clicked); });
            widget = button;
            break;
        }
        case ControlKind::Edit:
            if (spec.style & Style::Multiline) {
                auto* edit = new QPlainTextEdit(this);
                edit->setLineWrapMode(QPlainTextEdit::NoWrap);
                edit->setVerticalScrollBarPolicy(
                    (spec.style & Style::VScroll) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
                edit->setHorizontalScrollBarPolicy(
                    (spec.style & Style::HScroll) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
                // The style paints every pixel of a scroll bar, and the pane fills its own
                // background: say so, or every flush also repaints what lies beneath the pane.
                edit->verticalScrollBar()->setAttribute(Qt::WA_OpaquePaintEvent);
                edit->horizontalScrollBar()->setAttribute(Qt::WA_OpaquePaintEvent);
                edit->setAutoFillBackground(true);
                auto pane = std::make_unique<Pane>();
                pane->widget = edit;
                Pane* raw = pane.get();
                connect(edit, &QPlainTextEdit::textChanged, this, [this, raw, id] {
                    if (!raw->writing)
                        raw->diverged = true;
                    Dispatch(id, Notification::Changed);
                });
                m_panes[id] = std::move(pane);
                widget = edit;
            } else {
                auto* edit = new QLineEdit(spec.caption, this);
                if (spec.style & Style::Number) {
                    edit->setValidator(new QRegularExpressionValidator(
                        QRegularExpression(QStringLiteral("[0-9]*")), edit));
                }
                connect(edit, &QLineEdit::textChanged, this,
                        [this, id] { Dispatch(id, Notification::Changed); });
                edit->installEventFilter(this);
                widget = edit;
            }
            break;
        case ControlKind::Static: {
            auto* label = new QLabel(spec.caption, this);
            label->setTextFormat(Qt::PlainText);
            Qt::Alignment align = (spec.style & Style::Center) ? Qt::AlignHCenter : Qt::AlignLeft;
            if (spec.style & Style::CenterImage) {
                align |= Qt::AlignVCenter;
            } else {
                align |= Qt::AlignTop;
                label->setWordWrap(true);
            }
            label->setAlignment(align);
            unsigned windowStyle = StaticStyle::SS_NOPREFIX;  // labels show their text as is
            if (spec.style & Style::Center)
                windowStyle |= StaticStyle::SS_CENTER;
            if (spec.style & Style::CenterImage)
                windowStyle |= StaticStyle::SS_CENTERIMAGE;
            label->setProperty("windowStyle", windowStyle);
            widget = label;
            break;
        }
        case ControlKind::Icon: {
            auto* label = new QLabel(this);
            if (spec.resource)
                label->setPixmap(LoadIconResource(spec.resource)->icon.pixmap(32, 32));
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            // An icon control takes the icon's size, as the platform's icon statics do.
            label->setGeometry(rect.x(), rect.y(), std::max(rect.width(), 32),
                               std::max(rect.height(), 32));
            return label;
        }
        case ControlKind::Picture: {
            auto* label = new QLabel(this);
            const QPixmap bitmap(QStringLiteral(":/res/bitmap%1.png").arg(spec.resource));
            label->setProperty("backdrop", true);
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = label;
            if (!bitmap.isNull()) {
                // The bitmap at its own size from the top-left corner. The pictures were drawn
                // for a slightly smaller dialog unit than ours: where the control reaches beyond
                // the bitmap, its edge colour continues, so the controls drawn over it stay on it.
                const QSize size = bitmap.size().expandedTo(rect.size());
                QPixmap shown(size);
                shown.fill(bitmap.toImage().pixelColor(bitmap.width() - 1, bitmap.height() - 1));
                QPainter(&shown).drawPixmap(0, 0, bitmap);
                label->setPixmap(shown);
                widget->setGeometry(QRect(rect.topLeft(), size));
                return widget;
            }
            break;
        }
        case ControlKind::ComboBox: {
            auto* combo = new QComboBox(this);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);  // typed text never becomes an entry
            combo->setCompleter(nullptr);
            combo->addItems(spec.items);
            combo->setCurrentIndex(-1);
            combo->setEditText(QString());
            // Typing into the field leaves no entry selected until one is chosen again.
            connect(combo->lineEdit(), &QLineEdit::textEdited, combo, [combo](const QString& text) {
                if (combo->currentIndex() == -1)
                    return;
                const int cursor = combo->lineEdit()->cursorPosition();
                const QSignalBlocker block(combo);
                combo->setCurrentIndex(-1);
                combo->setEditText(text);
                combo->lineEdit()->setCursorPosition(cursor);
            });
            const int itemHeight = QFontMetrics(m_font).height() + 2;
            combo->setMaxVisibleItems(
                std::max(1, (rect.height() - combo->sizeHint().height()) / itemHeight));
            combo->setGeometry(rect.x(), rect.y(), rect.width(), combo->sizeHint().height());
            return combo;
        }
        case ControlKind::GroupBox: {
            auto* box = new QGroupBox(spec.caption, this);
            if (spec.style & Style::Center)
                box->setAlignment(Qt::AlignHCenter);
            box->setAttribute(Qt::WA_TransparentForMouseEvents);
            widget = box;
            break;
        }
        case ControlKind::Hidden:
            widget = new QWidget(this);
            widget->hide();
            break;
    }
    if (spec.style & Style::Disabled)
        widget->setEnabled(false);
    widget->setGeometry(rect);
    return widget;
}

bool CDialogBase::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        const int id = ControlId(watched);
        if (id != -1)
            Dispatch(id, Notification::KillFocus);
    }
    return QDialog::eventFilter(watched, event);
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
        SetPaneText(id, FromWidgetText(text));
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

void CDialogBase::SetPaneText(int id, const std::string& text) {
    const auto it = m_panes.find(id);
    if (it == m_panes.end())
        return;
    Pane& pane = *it->second;
    if (!pane.dirty && !pane.diverged && pane.shown == text)
        return;
    pane.pending.assign(text);  // reuses the buffer: no allocation once it has grown
    pane.dirty = true;
    SchedulePaneFlush();
}

std::string CDialogBase::GetPaneText(int id) {
    const auto it = m_panes.find(id);
    if (it == m_panes.end())
        return {};
    FlushPanes();
    Pane& pane = *it->second;
    if (!pane.diverged)
        return pane.shown;
    return FromWidgetText(pane.widget->toPlainText());
}

void CDialogBase::SchedulePaneFlush() {
    if (!m_paneTimer->isActive())
        m_paneTimer->start(kPaneFlushMs);
}

void CDialogBase::FlushPanes() {
    m_paneTimer->stop();
    for (auto& [id, panePtr] : m_panes) {
        Pane& pane = *panePtr;
        if (!pane.dirty)
            continue;
        pane.dirty = false;
        if (!pane.diverged && pane.pending == pane.shown)
            continue;
        pane.writing = true;
        QPlainTextEdit* edit = pane.widget;
        const bool extends = !pane.diverged && pane.pending.size() > pane.shown.size() &&
                             pane.pending.compare(0, pane.shown.size(), pane.shown) == 0;
        if (extends) {
            // Append instead of rewriting: the usual case while frames stream in.
            QTextCursor cursor(edit->document());
            cursor.movePosition(QTextCursor::End);
            AppendQuietly(edit, cursor,
                          ToWidgetText(std::string_view(pane.pending).substr(pane.shown.size())));
        } else {
            edit->setPlainText(ToWidgetText(pane.pending));
        }
        pane.shown.assign(pane.pending);
        pane.diverged = false;
        pane.writing = false;
    }
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
    if (control.IsAttached())
        return;
    control.Attach(pDX->m_pDlgWnd, id, pDX->m_pDlgWnd->GetDlgItem(id));
    pDX->m_pDlgWnd->m_objects[id] = &control;
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
    CDialogBase* dlg = pDX->m_pDlgWnd;
    const bool isPane = dlg->m_panes.count(id) != 0;
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

namespace {

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

void DDX_Text(CDataExchange* pDX, int id, std::uint32_t& value) {
    ExchangeNumber(pDX, id, value, ParseUnsignedField, FormatUnsignedField, UnsignedFieldMessage());
}

void DDX_Text(CDataExchange* pDX, int id, double& value) {
    ExchangeNumber(pDX, id, value, ParseDoubleField, FormatDoubleField, DoubleFieldMessage());
}

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
    const auto it = m_handlers.find({id, code});
    if (it == m_handlers.end()) {
        // OK and Cancel end the dialog unless the dialog handles them itself.
        if (code == Notification::Clicked && (id == IDOK || id == IDCANCEL))
            done(id == IDOK ? Accepted : Rejected);
        return;
    }
    const std::function<void()> handler = it->second;  // the table may not change under us
    RunGuarded(handler);
}

void CDialogBase::RunGuarded(const std::function<void()>& work) {
    try {
        work();
    } catch (const CControlException& error) {
        CurrentUiSink().ShowMessageBox(
            this, MessageBoxRequest{QString::fromStdString(error.Description()), ApplicationTitle(),
                                    BoxIcon::Stop});
    }
}

void CDialogBase::SetTimer(int id, int milliseconds) {
    QTimer*& timer = m_timers[id];
    if (!timer) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, id] { DispatchTimer(id); });
    }
    timer->start(milliseconds);
}

void CDialogBase::KillTimer(int id) {
    const auto it = m_timers.find(id);
    if (it != m_timers.end())
        it->second->stop();
}

void CDialogBase::DispatchTimer(int id) {
    if (m_bDestroyed)
        return;
    RunGuarded([this, id] { OnTimer(id); });
}

void CDialogBase::MessageBox(const QString& text, const QString& caption) {
    const bool own = !caption.isEmpty();
    CurrentUiSink().ShowMessageBox(this,
                                   MessageBoxRequest{text, own ? caption : ApplicationTitle(),
                                                     own ? BoxIcon::None : BoxIcon::Exclamation});
}

void CDialogBase::MessageBeep() {
    CurrentUiSink().Beep();
}

std::optional<QString> CDialogBase::BrowseForFolder(const QString& title) {
    return CurrentUiSink().ChooseFolder(this, title);
}
