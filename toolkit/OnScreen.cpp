#include "OnScreen.h"

#include <QApplication>
#include <QWidget>

#if defined(TORVA_XCB) && QT_CONFIG(xcb)
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

CoverWatch::CoverWatch(QWidget* window, std::function<void(bool)> covered)
    : m_covered(std::move(covered)) {
    // Only the xcb platform shows the window on an X server (the offscreen one may also answer
    // as an X11 application, for its own purposes).
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (QGuiApplication::platformName() != QLatin1String("xcb") || x11 == nullptr)
        return;
    xcb_connection_t* connection = x11->connection();
    if (connection == nullptr)
        return;
    m_window = static_cast<xcb_window_t>(window->winId());
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

bool CoverWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_VISIBILITY_NOTIFY)
        return false;
    const auto* visibility = static_cast<const xcb_visibility_notify_event_t*>(message);
    if (visibility->window == m_window)
        m_covered(visibility->state == XCB_VISIBILITY_FULLY_OBSCURED);
    return false;
}
#else
CoverWatch::CoverWatch(QWidget*, std::function<void(bool)> covered)
    : m_covered(std::move(covered)) {}

bool CoverWatch::nativeEventFilter(const QByteArray&, void*, qintptr*) {
    return false;
}
#endif

CoverWatch::~CoverWatch() {
    if (m_bInstalled)
        qApp->removeNativeEventFilter(this);
}
