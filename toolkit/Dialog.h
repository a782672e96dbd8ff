#pragma once

#include <QBrush>
#include <QColor>
#include <QDialog>
#include <QFont>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Controls.h"

class QMenu;
class QTimer;
class QPlainTextEdit;

enum class ControlKind {
    Button,
    Edit,      // single line, or multi-line with Style::Multiline
    Static,    // text label
    Icon,      // static showing an icon resource
    Picture,   // static showing a bitmap resource at its own pixel size
    ComboBox,  // drop-down list with an edit field
    GroupBox,
    Hidden,  // a non-visual control (the serial control): occupies an id, shows nothing
};

namespace Style {
constexpr unsigned Disabled = 1u << 0;
constexpr unsigned Multiline = 1u << 1;
constexpr unsigned Number = 1u << 2;  // edit accepts digits only
constexpr unsigned VScroll = 1u << 3;
constexpr unsigned HScroll = 1u << 4;
constexpr unsigned CenterImage = 1u << 5;  // static: single line, vertically centred
constexpr unsigned Center = 1u << 6;       // static or group box caption: centred horizontally
constexpr unsigned Transparent = 1u << 7;  // static drawn over a picture
constexpr unsigned DefaultButton =
    1u << 8;  // the button Enter presses (dialogs other than the main one)
}  // namespace Style

// Command ids of the buttons that end a dialog when no handler of its own is bound.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// One control of a dialog template: position and size in dialog units.
struct ControlSpec {
    int id = -1;
    ControlKind kind = ControlKind::Static;
    QString caption;
    QStringList items;  // initial list contents of a combo box
    int x = 0, y = 0, cx = 0, cy = 0;
    unsigned style = 0;
    int resource = 0;  // icon or bitmap resource id for Icon and Picture
    QString name;      // accessible name where the caption does not name the control
};

struct DialogTemplate {
    QString caption;
    int cx = 0, cy = 0;  // client size in dialog units
    QString fontFace;
    int pointSize = 9;
    bool minimizeBox = true;
    std::vector<ControlSpec> controls;
};

class CDialogBase;

// Colours a static control is given: text colour and the brush its background is filled with.
struct CtlColor {
    QColor text;
    QBrush background;
};

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

// Validation messages of the numeric fields.
QString UnsignedFieldMessage();
QString DoubleFieldMessage();

// An entry of a dialog's handler table: (control id, notification) -> member function.
template <class T>
struct HandlerEntry {
    int id;
    Notification code;
    void (T::*handler)();
};

// A template-built dialog standing in for the source platform's dialog framework: controls at
// dialog-unit positions, control objects attached by id, data exchange, a handler table,
// timers by id, modal boxes through the UI sink, and one place that reports control errors.
class CDialogBase : public QDialog {
    Q_OBJECT
public:
    explicit CDialogBase(DialogTemplate dialogTemplate, QWidget* parent = nullptr);
    ~CDialogBase() override;

    // Builds the window, runs OnInitDialog and shows it (modeless; tests use this).
    bool Create();
    // Create, then a modal run until the window closes, then destruction.
    int DoModal();
    // Stops the timers and runs OnDestroy, once. Derived classes call it from their destructor.
    void DestroyWindow();
    bool IsDestroyed() const { return m_bDestroyed; }

    bool UpdateData(bool bSaveAndValidate = true);

    QWidget* GetDlgItem(int id) const;
    void SetDlgItemText(int id, const QString& text);  // not rewritten when unchanged
    QString GetDlgItemText(int id);                    // writes a pending pane first

    // Multi-line panes are written lazily: at most every ~30 ms and before anything reads them.
    void SetPaneText(int id, const std::string& text);
    std::string GetPaneText(int id);
    void FlushPanes();

    void SetTimer(int id, int milliseconds);
    void KillTimer(int id);
    // Runs OnTimer(id) as a timer message would (errors reported as for any handler).
    void DispatchTimer(int id);

    // Runs the handler bound to (id, code), if any; own-field change and focus notifications are
    // ignored during an exchange. A control error escaping the handler is shown with a stop icon.
    void Dispatch(int id, Notification code);
    // Runs any handler-like function the same way.
    void RunGuarded(const std::function<void()>& work);

    // Modal box with an OK button. Without a caption: the application's name and an
    // exclamation icon; with a caption of its own: no icon.
    void MessageBox(const QString& text, const QString& caption = QString());
    void MessageBeep();
    std::optional<QString> BrowseForFolder(const QString& title);

    // Dialog-unit conversion of this dialog's template font.
    QRect DialogUnitsToPixels(int x, int y, int cx, int cy) const;

    // The window's own menu. X11 window managers do not let a program extend their title-bar
    // menu, so its entries show in a context menu of the window background; a chosen entry
    // runs OnSysCommand(commandId). An empty text appends a separator.
    void AppendSystemMenu(int commandId, const QString& text);
    QMenu* GetSystemMenu() const { return m_sysMenu; }
    virtual void OnSysCommand(int /*commandId*/) {}

    // Control objects attached by the data exchange, by control id (nullptr when none).
    CWnd* AttachedObject(int id) const;
    void ForgetObject(const CWnd* object);
    // Stores a control's text without asking its control object: the default text processing.
    void StoreDlgItemText(int id, const QString& text);

protected:
    virtual void DoDataExchange(CDataExchange* /*pDX*/) {}
    // Base runs the first refresh (which attaches the control objects).
    virtual bool OnInitDialog();
    virtual void OnTimer(int /*id*/) {}
    virtual void OnDestroy() {}
    // Asked once for every static control when the window is built, after OnInitDialog; the
    // answer becomes the control's palette. Nothing (the default) keeps the dialog colours.
    virtual std::optional<CtlColor> OnCtlColor(int /*id*/) { return std::nullopt; }
    // Sees every key event bound for a control of this window before the control does; true
    // swallows it.
    virtual bool PreTranslateMessage(QObject* /*target*/, QEvent* /*event*/) { return false; }

    template <class T, std::size_t N>
    void BindHandlers(const HandlerEntry<T> (&table)[N]) {
        for (const auto& entry : table) {
            T* self = static_cast<T*>(this);
            auto handler = entry.handler;
            Bind(entry.id, entry.code, [self, handler] { (self->*handler)(); });
        }
    }
    void Bind(int id, Notification code, std::function<void()> handler);

    void done(int result) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct Pane;
    void BuildControls();
    QWidget* CreateControl(const ControlSpec& spec);
    void SchedulePaneFlush();
    void ApplyControlColours();
    bool eventFilter(QObject* watched, QEvent* event) override;
    class KeyPreFilter;

    DialogTemplate m_template;
    QFont m_font;
    int m_baseX = 7, m_baseY = 14;
    bool m_bCreated = false;
    bool m_bDestroyed = false;
    int m_nExchangeDepth = 0;
    std::map<int, QWidget*> m_controls;
    std::map<std::pair<int, Notification>, std::function<void()>> m_handlers;
    std::map<int, QTimer*> m_timers;  // owned by the dialog as Qt children
    std::map<int, std::unique_ptr<Pane>> m_panes;
    std::map<int, CWnd*> m_objects;
    QTimer* m_paneTimer = nullptr;
    QMenu* m_sysMenu = nullptr;           // a Qt child of the dialog
    KeyPreFilter* m_keyFilter = nullptr;  // a Qt child of the dialog

    friend void DDX_Control(CDataExchange*, int, CWnd&);
    friend void DDX_Text(CDataExchange*, int, std::string&);
};

// Registers the Song-style CJK face for the template font names ("宋体", "SimSun").
void RegisterTemplateFontSubstitutes();
