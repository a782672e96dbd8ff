#pragma once

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <cstdint>

#include "Dialog.h"

// On X11 a window wholly covered by others is still exposed to Qt, which goes on painting it.
// The X server tells which windows are covered through visibility events; Qt does not ask for
// them, so the watch asks for them on the dialog's window and passes them on. Elsewhere it
// does nothing.
class CDialogBase::CoverWatch : public QAbstractNativeEventFilter {
public:
    explicit CoverWatch(CDialogBase* dialog);
    ~CoverWatch() override;
    CoverWatch(const CoverWatch&) = delete;
    CoverWatch& operator=(const CoverWatch&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    CDialogBase* m_dialog;
    std::uint32_t m_window = 0;
    bool m_bInstalled = false;
};
