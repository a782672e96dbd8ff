// Lazy writing of the multi-line panes: a refresh marks a pane dirty, and the widget is written
// at most every 100 ms while the window is on screen, and whenever something reads it.
#include "Panes.h"

#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <string_view>

namespace {

// Panes are written at most this often, the period of the poll tick: measured at the full
// line rate (823 frames/s), writing every 30 ms cost 8-9 % of a core, every 100 ms under 5 %.
constexpr int kPaneFlushMs = 100;

QString ToWidgetText(std::string_view text) {
    QString out = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return out;
}

// Appends at `end` and repaints the text only where the new lines show. The text layout asks
// for a whole-viewport repaint on every multi-line insertion, even below the visible lines,
// and that repaint costs most of a flush while frames stream in.
void AppendQuietly(QPlainTextEdit* edit, QTextCursor& end, const QString& text) {
    QAbstractTextDocumentLayout* layout = edit->document()->documentLayout();
    const bool shows = edit->cursorRect(end).top() < edit->viewport()->height();
    {
        const QSignalBlocker quiet(layout);
        end.insertText(text);
    }
    emit layout->documentSizeChanged(layout->documentSize());  // the scroll bars follow
    if (shows)
        edit->viewport()->update();
}

}  // namespace

std::string PaneTextFromWidget(const QString& text) {
    QString withCrLf = text;
    withCrLf.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return withCrLf.toStdString();
}

void CDialogBase::SetPaneText(int id, const std::string& text) {
    const auto it = m_panes.find(id);
    if (it == m_panes.end())
        return;
    Pane& pane = *it->second;
    if (!pane.dirty && !pane.diverged && pane.shown == text)
        return;
    pane.pending.assign(text);  // reuses the buffer: no allocation once it has grown
    pane.dirty = true;
    SchedulePaneFlush();
}

std::string CDialogBase::GetPaneText(int id) {
    const auto it = m_panes.find(id);
    if (it == m_panes.end())
        return {};
    FlushPanes();
    Pane& pane = *it->second;
    if (!pane.diverged)
        return pane.shown;
    return PaneTextFromWidget(pane.widget->toPlainText());
}

void CDialogBase::SchedulePaneFlush() {
    // Off screen the panes wait: they are written when the window shows or something reads them.
    if (m_bOnScreen && !m_paneTimer->isActive())
        m_paneTimer->start(kPaneFlushMs);
}

void CDialogBase::FlushPanes() {
    m_paneTimer->stop();
    for (auto& [id, panePtr] : m_panes) {
        Pane& pane = *panePtr;
        if (!pane.dirty)
            continue;
        pane.dirty = false;
        if (!pane.diverged && pane.pending == pane.shown)
            continue;
        pane.writing = true;
        QPlainTextEdit* edit = pane.widget;
        const bool extends = !pane.diverged && pane.pending.size() > pane.shown.size() &&
                             pane.pending.compare(0, pane.shown.size(), pane.shown) == 0;
        if (extends) {
            // Append instead of rewriting: the usual case while frames stream in.
            QTextCursor cursor(edit->document());
            cursor.movePosition(QTextCursor::End);
            AppendQuietly(edit, cursor,
                          ToWidgetText(std::string_view(pane.pending).substr(pane.shown.size())));
        } else {
            edit->setPlainText(ToWidgetText(pane.pending));
        }
        pane.shown.assign(pane.pending);
        pane.diverged = false;
        pane.writing = false;
    }
}
