#pragma once

#include <deque>
#include <functional>
#include <optional>

#include "UiSink.h"

class QWidget;

// A dialog's modal boxes, each opened once the event that raised it has been handled whole.
//
// A box is not opened inside the handler that raises it. Its nested event loop would run
// further timer ticks and receive events in the middle of that handler: Qt does not re-enter a
// timer whose slot is still running, so a box opened in a tick stopped the polling, and a box
// opened in the middle of a read let newer reads overtake the rest of it. So boxes wait in a
// queue and open from the event loop once the event that raised them has been handled whole,
// one at a time and in the order they were raised. A storm of them must not pile up faster
// than the operator closes them: a box with the text of the last one waiting (or of the open
// one, when none waits) is the same news again and is not queued; and when more than
// kMostWaiting wait, the oldest waiting box whose text waits again later gives way, the later
// one still telling it. So no answer goes unseen behind an older box of its text, a text that
// waits once is never dropped, the last box shown is the latest news, and no more than
// kMostWaiting boxes wait unless all their texts differ (then one box per text).
class BoxQueue {
public:
    static constexpr std::size_t kMostWaiting = 8;

    // Boxes belong to `owner`, open from its event loop (posted to it, so none opens once it is
    // gone) and are shown through the sink `sink` gives at the time; `afterShown` runs once the
    // boxes waiting have all been closed.
    BoxQueue(QWidget* owner, std::function<UiSink&()> sink, std::function<void()> afterShown);

    void QueueBox(MessageBoxRequest request);
    // From now on no box opens, and none that waits will: their texts go to standard error.
    void SilenceBoxes();
    // Shows what waits, one box after another, unless a box is open already.
    void ShowQueuedBoxes();
    bool BoxOpen() const { return m_open.has_value(); }

private:
    void DropRepeatedBox();

    QWidget* m_owner;
    std::function<UiSink&()> m_sink;
    std::function<void()> m_afterShown;
    std::deque<MessageBoxRequest> m_queued;
    std::optional<MessageBoxRequest> m_open;
    bool m_posted = false;
    bool m_silenced = false;
};
