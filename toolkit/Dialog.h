#pragma once

#include <QBrush>
#include <QColor>
#include <QDialog>
#include <QFont>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "Boxes.h"
#include "Controls.h"
#include "Template.h"
#include "TemplateBuild.h"
#include "UiSink.h"

class CDialogBase;
class CoverWatch;
class InputPreFilter;
class PaneWriter;
class QMenu;

// Colours a static control is given: text colour and the brush its background is filled with.
struct CtlColor {
    QColor text;
    QBrush background;
};

// An entry of a dialog's handler table: (control id, notification) -> member function.
template <class T>
struct HandlerEntry {
    int id;
    Notification code;
    void (T::*handler)();
};

// One run of data exchange, in one direction. A commit that rejects a field shows the message,
// gives the field the focus with its text selected and ends the exchange there (UpdateData
// returns false). The DDX_ functions (DataExchange.h) exchange one field each.
class CDataExchange {
public:
    CDataExchange(CDialogBase* dialog, bool saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
    const bool m_bSaveAndValidate;
    CDialogBase* const m_pDlgWnd;
    [[noreturn]] void Fail(int id, const QString& message);
};

// A dialog built from a template: controls at dialog-unit positions, control objects attached
// by id, data exchange, a handler table, multi-line panes written lazily, no painting while the
// window cannot be seen, and modal boxes through a UI sink.
class CDialogBase : public QDialog {
    Q_OBJECT
public:
    explicit CDialogBase(DialogTemplate dialogTemplate, QWidget* parent = nullptr);
    ~CDialogBase() override;

    // Builds the window, runs OnInitDialog and shows it (modeless; tests use this).
    bool Create();
    // Create, then a modal run until the window closes, then destruction.
    int DoModal();
    // Runs OnDestroy, once. Derived classes call it from their destructor.
    void DestroyWindow();
    bool IsDestroyed() const { return m_bDestroyed; }
    // False while the window is minimised, unmapped or (on X11) wholly covered: then nothing is
    // painted and the panes are not written until it shows again.
    bool IsOnScreen() const { return m_bOnScreen; }

    bool UpdateData(bool bSaveAndValidate = true);

    QWidget* GetDlgItem(int id) const;
    void SetDlgItemText(int id, const QString& text);  // not rewritten when unchanged
    QString GetDlgItemText(int id);                    // writes a pending pane first

    // Multi-line panes are written lazily: at most every 100 ms while the window is on screen,
    // and before anything reads them.
    void SetPaneText(int id, const std::string& text);
    std::string GetPaneText(int id);
    void FlushPanes();

    // Runs the handler bound to (id, code), if any; own-field change and focus notifications are
    // ignored during an exchange.
    void Dispatch(int id, Notification code);

    // Modal box with an OK button. Without a caption: the application's name and an
    // exclamation icon; with a caption of its own: no icon. The box opens once the event that
    // raised it has been handled whole, so a tick or a read is never cut in two by it, and the
    // ticks and reads go on while it is open. Boxes open in the order raised; a box with the text
    // of the last one waiting (or open) is not opened again, and a storm of them stays bounded
    // (Boxes.h).
    void MessageBox(const QString& text, const QString& caption = QString());
    // The same with the application's name and a stop icon: what the serial line could not do.
    void ErrorBox(const QString& text);
    // From now on no box opens, and none that waits will: the program is ending without anyone
    // to answer them (a signal asked it to). Their texts go to standard error instead.
    void SilenceBoxes();
    void MessageBeep();
    std::optional<QString> BrowseForFolder(const QString& title);
    // Boxes, the beep and the folder choice go through `sink` (a test's, say); nullptr gives
    // them back to the owner dialog's sink, or to real Qt dialogs.
    void SetUiSink(UiSink* sink) { m_sink = sink; }
    UiSink& Sink();

    // Dialog-unit conversion of this dialog's template font.
    QRect DialogUnitsToPixels(int x, int y, int cx, int cy) const;

    // The window's own menu. X11 window managers do not let a program extend their title-bar
    // menu, so its entries show in a context menu of the window background; a chosen entry
    // runs OnSysCommand(commandId). An empty text appends a separator.
    void AppendSystemMenu(int commandId, const QString& text);
    QMenu* GetSystemMenu() const { return m_sysMenu; }
    virtual void OnSysCommand(int /*commandId*/) {}

    // Control objects attached by the data exchange, by control id (nullptr when none).
    void AttachControlObject(int id, CWnd& object);
    CWnd* AttachedObject(int id) const;

protected:
    virtual void DoDataExchange(CDataExchange* /*pDX*/) {}
    // Base runs the first refresh (which attaches the control objects).
    virtual bool OnInitDialog();
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
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void WatchOnScreen();
    void SetCovered(bool covered);
    void UpdateOnScreen();
    void ApplyControlColours();
    void FieldLostFocus(int id, Qt::FocusReason reason);
    bool DropsPress();

    DialogTemplate m_template;
    QFont m_font;
    DialogUnits m_units;
    bool m_bCreated = false;
    bool m_bDestroyed = false;
    bool m_bOnScreen = true;  // until the window system says otherwise
    bool m_bCovered = false;
    int m_nExchangeDepth = 0;
    int m_nRejectedCommits = 0;   // commits that stopped at a rejected field
    bool m_bCancelClick = false;  // the mouse press being delivered is to go nowhere
    ControlEvents m_controlEvents;
    // Looked up on every refresh of the fields: hashed rather than a tree.
    std::unordered_map<int, QWidget*> m_controls;
    std::map<std::pair<int, Notification>, std::function<void()>> m_handlers;
    std::unordered_map<int, CWnd*> m_objects;
    PaneWriter* m_panes = nullptr;            // a Qt child of the dialog
    QMenu* m_sysMenu = nullptr;               // a Qt child of the dialog
    InputPreFilter* m_inputFilter = nullptr;  // a Qt child of the dialog
    std::unique_ptr<CoverWatch> m_coverWatch;
    UiSink* m_sink = nullptr;
    std::unique_ptr<UiSink> m_qtSink;  // made when first needed
    BoxQueue m_boxes;
};
