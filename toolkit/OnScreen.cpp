// Whether the window can be seen, and no painting while it cannot: minimised, unmapped, or
// wholly covered by other windows. Frames keep arriving and the members, logs and record file
// keep changing as ever; only their display waits until the window shows again.
#include "OnScreen.h"

#include <QApplication>
#include <QEvent>
#include <QWindow>

#if defined(TORVA_XCB) && QT_CONFIG(xcb)
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

CDialogBase::CoverWatch::CoverWatch(CDialogBase* dialog) : m_dialog(dialog) {
    // Only the xcb platform shows the window on an X server (the offscreen one may also answer
    // as an X11 application, for its own purposes).
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (QGuiApplication::platformName() != QLatin1String("xcb") || x11 == nullptr)
        return;
    xcb_connection_t* connection = x11->connection();
    if (connection == nullptr)
        return;
    m_window = static_cast<xcb_window_t>(dialog->winId());
    // Add visibility events to the ones Qt selected for the window.
    const auto cookie = xcb_get_window_attributes(connection, m_window);
    const std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> reply(
        xcb_get_window_attributes_reply(connection, cookie, nullptr), &std::free);
    if (!reply)
        return;
    const std::uint32_t mask = reply->your_event_mask | XCB_EVENT_MASK_VISIBILITY_CHANGE;
    xcb_change_window_attributes(connection, m_window, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);
    qApp->installNativeEventFilter(this);
    m_bInstalled = true;
}

bool CDialogBase::CoverWatch::nativeEventFilter(const QByteArray& eventType, void* message,
                                                qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_VISIBILITY_NOTIFY)
        return false;
    const auto* visibility = static_cast<const xcb_visibility_notify_event_t*>(message);
    if (visibility->window == m_window)
        m_dialog->SetCovered(visibility->state == XCB_VISIBILITY_FULLY_OBSCURED);
    return false;
}
#else
CDialogBase::CoverWatch::CoverWatch(CDialogBase* dialog) : m_dialog(dialog) {}

bool CDialogBase::CoverWatch::nativeEventFilter(const QByteArray&, void*, qintptr*) {
    return false;
}
#endif

CDialogBase::CoverWatch::~CoverWatch() {
    if (m_bInstalled)
        qApp->removeNativeEventFilter(this);
}

void CDialogBase::WatchOnScreen() {
    if (QWindow* window = windowHandle())
        window->installEventFilter(this);
    m_coverWatch = std::make_unique<CoverWatch>(this);
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
    if (onScreen)
        FlushPanes();
}
