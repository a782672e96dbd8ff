#include "Boxes.h"

#include <QMetaObject>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

BoxQueue::BoxQueue(QWidget* owner, std::function<UiSink&()> sink, std::function<void()> afterShown)
    : m_owner(owner), m_sink(std::move(sink)), m_afterShown(std::move(afterShown)) {}

void BoxQueue::QueueBox(MessageBoxRequest request) {
    if (m_silenced) {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(request.caption),
                     qUtf8Printable(request.text));
        return;
    }
    const MessageBoxRequest* last = !m_queued.empty() ? &m_queued.back()
                                    : m_open          ? &*m_open
                                                      : nullptr;
    if (last && last->text == request.text)
        return;
    m_queued.push_back(std::move(request));
    if (m_queued.size() > kMostWaiting)
        DropRepeatedBox();
    if (!m_posted && !m_open) {
        m_posted = true;
        QMetaObject::invokeMethod(m_owner, [this] { ShowQueuedBoxes(); }, Qt::QueuedConnection);
    }
}

void BoxQueue::DropRepeatedBox() {
    const auto repeated = [this](auto at) {
        return std::any_of(std::next(at), m_queued.end(),
                           [&](const MessageBoxRequest& later) { return later.text == at->text; });
    };
    auto oldest = m_queued.begin();
    while (oldest != m_queued.end() && !repeated(oldest))
        ++oldest;
    if (oldest == m_queued.end())
        return;  // every waiting text differs
    // The boxes either side of it differ, or the one before would be an older repeated one;
    // only at the front the box before it is the open one, and then the box after it goes
    // too, so that one text does not show twice in a row.
    const bool front = oldest == m_queued.begin();
    oldest = m_queued.erase(oldest);
    if (front && m_open && oldest != m_queued.end() && oldest->text == m_open->text)
        m_queued.erase(oldest);
}

void BoxQueue::SilenceBoxes() {
    m_silenced = true;
    for (const MessageBoxRequest& waiting : std::exchange(m_queued, {}))
        QueueBox(waiting);
}

void BoxQueue::ShowQueuedBoxes() {
    m_posted = false;
    if (m_open)
        return;  // the box further up the stack shows the rest when it closes
    bool shown = false;
    while (!m_queued.empty() && !m_silenced) {
        m_open = std::move(m_queued.front());
        m_queued.pop_front();
        m_sink().ShowMessageBox(m_owner, *m_open);
        m_open.reset();
        shown = true;
    }
    if (shown && m_afterShown)
        m_afterShown();
}
