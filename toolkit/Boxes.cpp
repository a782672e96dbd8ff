// Modal message boxes, the beep and the folder choice, all through the UI sink.
//
// A box is not opened inside the handler that raises it. Its nested event loop would run
// further timer ticks and receive events in the middle of that handler: Qt does not re-enter a
// timer whose slot is still running, so a box opened in a tick stopped the polling, and a box
// opened in the middle of a read let newer reads overtake the rest of it. So boxes wait in a
// queue and open from the event loop once the event that raised them has been handled whole;
// one at a time, and never twice with the same text, so a storm of answers cannot pile them up.
#include <QMetaObject>
#include <cstdio>
#include <utility>

#include "Dialog.h"

void CDialogBase::MessageBox(const QString& text, const QString& caption) {
    const bool own = !caption.isEmpty();
    QueueBox(MessageBoxRequest{text, own ? caption : ApplicationTitle(),
                               own ? BoxIcon::None : BoxIcon::Exclamation});
}

void CDialogBase::QueueBox(MessageBoxRequest request) {
    if (m_bBoxesSilenced) {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(request.caption),
                     qUtf8Printable(request.text));
        return;
    }
    if (m_openBox && m_openBox->text == request.text)
        return;
    for (const MessageBoxRequest& waiting : m_queuedBoxes) {
        if (waiting.text == request.text)
            return;
    }
    m_queuedBoxes.push_back(std::move(request));
    if (!m_bBoxesPosted && !m_openBox) {
        m_bBoxesPosted = true;
        QMetaObject::invokeMethod(this, &CDialogBase::ShowQueuedBoxes, Qt::QueuedConnection);
    }
}

void CDialogBase::SilenceBoxes() {
    m_bBoxesSilenced = true;
    for (const MessageBoxRequest& waiting : std::exchange(m_queuedBoxes, {}))
        QueueBox(waiting);
}

void CDialogBase::ShowQueuedBoxes() {
    m_bBoxesPosted = false;
    if (m_openBox)
        return;  // the box further up the stack shows the rest when it closes
    bool shown = false;
    while (!m_queuedBoxes.empty() && !m_bBoxesSilenced) {
        m_openBox = std::move(m_queuedBoxes.front());
        m_queuedBoxes.pop_front();
        CurrentUiSink().ShowMessageBox(this, *m_openBox);
        m_openBox.reset();
        shown = true;
    }
    // The window takes the activation back from its closed box, as an owner does, so that the
    // field that had the focus has it again: left inactive, its next focus loss would come with
    // no focus-out event and the text typed into it would never be committed.
    if (shown && isVisible() && !m_bDestroyed)
        activateWindow();
}

void CDialogBase::MessageBeep() {
    CurrentUiSink().Beep();
}

std::optional<QString> CDialogBase::BrowseForFolder(const QString& title) {
    return CurrentUiSink().ChooseFolder(this, title);
}
