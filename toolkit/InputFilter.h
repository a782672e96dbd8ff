#pragma once

#include <QObject>
#include <functional>

class QWidget;

// Sees the key and mouse-button events of one window's controls before the controls do: keys go
// to `keys` (true swallows the event), and a press goes nowhere when `dropPress` says so (a
// click the window has cancelled). Installed on the application, since a filter on the window
// would miss events sent to a control.
class InputPreFilter : public QObject {
public:
    InputPreFilter(QWidget* window, std::function<bool(QObject*, QEvent*)> keys,
                   std::function<bool()> dropPress);
    ~InputPreFilter() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    std::function<bool(QObject*, QEvent*)> m_keys;
    std::function<bool()> m_dropPress;
};
