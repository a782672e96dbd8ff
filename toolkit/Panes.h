#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QPlainTextEdit;
class QTimer;

// The multi-line panes of a dialog, written lazily: a new text marks its pane, and the widget is
// written at most every 100 ms while the dialog is on screen, and whenever something reads it.
// A text that only extends the one shown is appended, and an unchanged text is never written.
class PaneWriter : public QObject {
public:
    explicit PaneWriter(QObject* parent = nullptr);
    ~PaneWriter() override;

    // Takes on a pane; `changed` runs whenever its text changes, by the operator or by a write.
    void AddPane(int id, QPlainTextEdit* edit, std::function<void()> changed);
    bool HasPane(int id) const { return m_panes.count(id) != 0; }

    void SetPaneText(int id, const std::string& text);
    // What the pane shows, with CR LF line ends: the last text given, or what the operator
    // typed over it.
    std::string PaneText(int id);
    // The widget's own text, once written.
    QString ShownText(int id);
    // Writes every marked pane now.
    void WritePanes();
    // Off screen the panes wait; back on screen they are written at once.
    void SetOnScreen(bool onScreen);

private:
    struct Pane;
    void Schedule();

    std::map<int, std::unique_ptr<Pane>> m_panes;
    QTimer* m_timer = nullptr;  // a Qt child
    bool m_onScreen = true;
};

// Panes hold CR LF line ends like the texts behind them; the widget shows plain line breaks.
std::string PaneTextFromWidget(const QString& text);
