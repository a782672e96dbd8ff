// Modal message boxes, the beep and the folder choice, all through the UI sink.
//
// A box is not opened inside the handler that raises it. Its nested event loop would run
// further timer ticks and receive events in the middle of that handler: Qt does not re-enter a
// timer whose slot is still running, so a box opened in a tick stopped the polling, and a box
// opened in the middle of a read let newer reads overtake the rest of it. So boxes wait in a
// queue and open from the event loop once the event that raised them has been handled whole,
// one at a time and in the order they were raised. A storm of answers must not pile them up
// faster than the operator closes them: a box with the text of the last one waiting (or of the
// open one, when none waits) is the same news again and is not queued; and when more than
// kMostWaitingBoxes wait, the oldest waiting box whose text waits again later gives way, the
// later one still telling it. So no answer goes unseen behind an older box of its text, a text
// that waits once is never dropped, the last box shown is the latest news, and no more than
// kMostWaitingBoxes boxes wait unless all their texts differ (then one box per text).
#include <QMetaObject>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

#include "Dialog.h"

void CDialogBase::MessageBox(const QString& text, const QString& caption) {
    const bool own = !caption.isEmpty();
    QueueBox(MessageBoxRequest{text, own ? caption : ApplicationTitle(),
                               own ? BoxIcon::None : BoxIcon::Exclamation});
}

void CDialogBase::ErrorBox(const QString& text) {
    QueueBox(MessageBoxRequest{text, ApplicationTitle(), BoxIcon::Stop});
}

void CDialogBase::QueueBox(MessageBoxRequest request) {
    if (m_bBoxesSilenced) {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(request.caption),
                     qUtf8Printable(request.text));
        return;
    }
    const MessageBoxRequest* last = !m_queuedBoxes.empty() ? &m_queuedBoxes.back()
                                    : m_openBox            ? &*m_openBox
                                                           : nullptr;
    if (last && last->text == request.text)
        return;
    m_queuedBoxes.push_back(std::move(request));
    if (m_queuedBoxes.size() > kMostWaitingBoxes)
        DropRepeatedBox();
    if (!m_bBoxesPosted && !m_openBox) {
        m_bBoxesPosted = true;
        QMetaObject::invokeMethod(this, &CDialogBase::ShowQueuedBoxes, Qt::QueuedConnection);
    }
}

void CDialogBase::DropRepeatedBox() {
    const auto repeated = [this](auto at) {
        return std::any_of(std::next(at), m_queuedBoxes.end(),
                           [&](const MessageBoxRequest& later) { return later.text == at->text; });
    };
    auto oldest = m_queuedBoxes.begin();
    while (oldest != m_queuedBoxes.end() && !repeated(oldest))
        ++oldest;
    if (oldest == m_queuedBoxes.end())
        return;  // every waiting text differs
    // The boxes either side of it differ, or the one before would be an older repeated one;
    // only at the front the box before it is the open one, and then the box after it goes
    // too, so that one text does not show twice in a row.
    const bool front = oldest == m_queuedBoxes.begin();
    oldest = m_queuedBoxes.erase(oldest);
    if (front && m_openBox && oldest != m_queuedBoxes.end() && oldest->text == m_openBox->text)
        m_queuedBoxes.erase(oldest);
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
    // no focus-out event and the text typed into it would never be committed. A minimised
    // window stays as it is.
    if (shown && isVisible() && !isMinimized() && !m_bDestroyed)
        activateWindow();
}

void CDialogBase::MessageBeep() {
    CurrentUiSink().Beep();
}

std::optional<QString> CDialogBase::BrowseForFolder(const QString& title) {
    return CurrentUiSink().ChooseFolder(this, title);
}
