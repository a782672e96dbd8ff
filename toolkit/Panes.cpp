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

// A pane and what it shows. `pending` is the text last given, `shown` the widget's text as last
// written by us; `diverged` when the operator typed into it since.
struct PaneWriter::Pane {
    QPlainTextEdit* widget = nullptr;
    std::string pending;
    std::string shown;
    bool dirty = false;
    bool diverged = false;
    bool writing = false;
};

std::string PaneTextFromWidget(const QString& text) {
    QString withCrLf = text;
    withCrLf.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return withCrLf.toStdString();
}

PaneWriter::PaneWriter(QObject* parent) : QObject(parent), m_timer(new QTimer(this)) {
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &PaneWriter::WritePanes);
}

PaneWriter::~PaneWriter() = default;

void PaneWriter::AddPane(int id, QPlainTextEdit* edit, std::function<void()> changed) {
    auto pane = std::make_unique<Pane>();
    pane->widget = edit;
    Pane* raw = pane.get();
    connect(edit, &QPlainTextEdit::textChanged, this, [raw, changed = std::move(changed)] {
        if (!raw->writing)
            raw->diverged = true;
        changed();
    });
    m_panes[id] = std::move(pane);
}

void PaneWriter::SetPaneText(int id, const std::string& text) {
    const auto it = m_panes.find(id);
    if (it == m_panes.end())
        return;
    Pane& pane = *it->second;
    if (!pane.dirty && !pane.diverged && pane.shown == text)
        return;
    pane.pending.assign(text);  // reuses the buffer: no allocation once it has grown
    pane.dirty = true;
    Schedule();
}

std::string PaneWriter::PaneText(int id) {
    const auto it = m_panes.find(id);
    if (it == m_panes.end())
        return {};
    WritePanes();
    Pane& pane = *it->second;
    if (!pane.diverged)
        return pane.shown;
    return PaneTextFromWidget(pane.widget->toPlainText());
}

QString PaneWriter::ShownText(int id) {
    const auto it = m_panes.find(id);
    if (it == m_panes.end())
        return {};
    WritePanes();
    return it->second->widget->toPlainText();
}

void PaneWriter::SetOnScreen(bool onScreen) {
    m_onScreen = onScreen;
    if (onScreen)
        WritePanes();
    else
        m_timer->stop();
}

void PaneWriter::Schedule() {
    // Off screen the panes wait: they are written when the window shows or something reads them.
    if (m_onScreen && !m_timer->isActive())
        m_timer->start(kPaneFlushMs);
}

void PaneWriter::WritePanes() {
    m_timer->stop();
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
