#pragma once

#include <QIcon>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

class CWnd;

// Notifications a control sends to its dialog; the dialog's handler table binds them.
enum class Notification {
    Clicked,    // a button was pressed
    Changed,    // an edit's text changed (also when the program sets it)
    KillFocus,  // an edit lost the keyboard focus
    SelChange,  // another entry of a list became the selected one (or none)
};

// Style bits of a static text control, as the window style word stores them.
namespace StaticStyle {
constexpr unsigned SS_CENTER = 0x1;
constexpr unsigned SS_RIGHT = 0x2;
constexpr unsigned SS_NOPREFIX = 0x80;
constexpr unsigned SS_CENTERIMAGE = 0x200;
constexpr unsigned SS_PATHELLIPSIS = 0x8000;
constexpr unsigned SS_ENDELLIPSIS = 0x4000;
constexpr unsigned SS_WORDELLIPSIS = 0xC000;
}  // namespace StaticStyle

// An icon resource: the id it was loaded under and its picture. Icons live for the whole run.
struct CIcon {
    int resourceId = 0;
    QIcon icon;
};
using HICON = const CIcon*;

// Loads icon resource `resourceId` (":/res/icon<id>.png"), once; the same handle afterwards.
HICON LoadIconResource(int resourceId);

// The text a control shows: a label's, a button's, a single-line field's, a group box's caption
// or a list's edit field (multi-line panes are their dialog's: it writes them lazily).
QString WidgetText(const QWidget* widget);
// Gives the control a new text; a text it already shows is not written again.
void SetWidgetText(QWidget* widget, const QString& text);

// A control object attached to one control of a dialog by id. It creates nothing itself.
class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd();

    bool IsAttached() const { return m_bAttached; }
    int GetDlgCtrlID() const { return m_nId; }
    QWidget* GetWidget() const { return m_pWidget; }

    void EnableWindow(bool enable = true);
    bool IsWindowEnabled() const;
    // A text the control does not show yet goes through OnSetText.
    void SetWindowText(const QString& text);
    QString GetWindowText() const;
    // The window style word (for statics the StaticStyle bits).
    unsigned GetStyle() const;
    void ModifyStyle(unsigned remove, unsigned add);

    // Called by the first data exchange (DDX_Control): the control, and what to call when the
    // object goes before its dialog.
    virtual void Attach(int id, QWidget* widget, std::function<void()> forget);
    // The dialog is going away before the object: forget it.
    void Detach();

    // A new text for the control; the default shows it (and repaints the control).
    virtual void OnSetText(const QString& text);

protected:
    bool m_bAttached = false;
    int m_nId = 0;
    QPointer<QWidget> m_pWidget;
    std::function<void()> m_forget;
};

class CButton : public CWnd {};

class CEdit : public CWnd {};

class CStatic : public CWnd {
public:
    void SetIcon(HICON icon);
    HICON GetIcon() const { return m_hIcon; }

private:
    HICON m_hIcon = nullptr;
};

// Drop-down list with an edit field. The selection index is -1 while no entry is selected.
// Text typed into the field selects the entry it names (the same text, ignoring surrounding
// blanks and letter case); any other text leaves no entry selected.
class CComboBox : public CWnd {
public:
    int GetCurSel() const;
    void SetCurSel(int index);
};

// The entry of `items` that `text` names: equal to it once surrounding blanks are removed,
// ignoring letter case; -1 when none does.
int EntryNamedBy(const QStringList& items, const QString& text);
