#pragma once

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <cstdint>
#include <functional>

class QWidget;

// On X11 a window wholly covered by others is still exposed to Qt, which goes on painting it.
// The X server tells which windows are covered through visibility events; Qt does not ask for
// them, so the watch asks for them on the window and passes them on to `covered`. Elsewhere it
// does nothing.
class CoverWatch : public QAbstractNativeEventFilter {
public:
    CoverWatch(QWidget* window, std::function<void(bool covered)> covered);
    ~CoverWatch() override;
    CoverWatch(const CoverWatch&) = delete;
    CoverWatch& operator=(const CoverWatch&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    std::function<void(bool)> m_covered;
    std::uint32_t m_window = 0;
    bool m_bInstalled = false;
};
