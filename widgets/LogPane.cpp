#include "widgets/LogPane.h"
#include "core/LogFile.h"
#include "core/SafeWrite.h"
#include "widgets/Fonts.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <stdexcept>

LogPane::LogPane(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("RichEdit1"));
    setFont(fonts::FixedFont());
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Received text goes into the same document as the user's typing; an undo
    // step could silently remove received data, so the document keeps no
    // undo steps. Only a clear is undone, by putting its text back.
    setUndoRedoEnabled(false);
    m_undoAction = new QAction(QStringLiteral("元に戻す"), this);
    m_undoAction->setEnabled(false);
    connect(m_undoAction, &QAction::triggered, this, &LogPane::undoClear);
    // Where the user left the view: text that only grows the range below
    // changes no value, so the view stays "at the end" until it is scrolled.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
        [this](int value) { m_atEnd = value >= verticalScrollBar()->maximum(); });
    connect(document(), &QTextDocument::contentsChange, this, [this](int, int removed, int added) {
        if (!m_receiving && (removed > 0 || added > 0))
            emit userChanged();
    });

    m_flushTimer = new QTimer(this);
    m_flushTimer->setSingleShot(true);
    connect(m_flushTimer, &QTimer::timeout, this, &LogPane::insertPending);
    m_sinceFlush.start();
}

int LogPane::lineCount() const
{
    flushReceived();
    const QTextDocument *doc = document();
    int n = doc->blockCount();
    if (doc->lastBlock().length() <= 1) // the last line is empty
        --n;
    return qMax(0, n);
}

QByteArray LogPane::line(int i) const
{
    flushReceived();
    return sjis::encode(document()->findBlockByNumber(i).text());
}

int LogPane::lastLineEqualTo(const QByteArray &text, int before) const
{
    // Plain ASCII can be compared as text, skipping lines of another length
    // without touching their characters: a search through a long log then
    // costs almost nothing per line. "?" is left out because characters with
    // no Shift-JIS form also turn into it.
    const bool plain
        = std::all_of(text.begin(), text.end(), [](char c) { return uchar(c) < 0x80 && c != '?' && c != 0; });
    if (!plain)
        return LineSource::lastLineEqualTo(text, before);
    flushReceived();
    const QString wanted = QString::fromLatin1(text);
    before = qMin(before, lineCount());
    for (QTextBlock b = document()->findBlockByNumber(before - 1); b.isValid(); b = b.previous()) {
        if (b.length() - 1 == wanted.size() && b.text() == wanted)
            return b.blockNumber();
    }
    return -1;
}

namespace {

// No byte above 0x7F and no "?", which toLatin1() writes for any character
// beyond Latin-1: the bytes are then the line's Shift-JIS bytes as they are.
bool plainAscii(const char *p, qsizetype len)
{
    quint64 high = 0;
    qsizetype i = 0;
    for (; i + 8 <= len; i += 8) {
        quint64 word;
        std::memcpy(&word, p + i, 8);
        high |= word;
    }
    for (; i < len; ++i)
        high |= uchar(p[i]);
    return (high & 0x8080808080808080ULL) == 0 && std::memchr(p, '?', size_t(len)) == nullptr;
}

} // namespace

void LogPane::scanLines(const std::function<void(int, const QByteArray &)> &visit) const
{
    // The whole text in one piece, blocks separated by U+2029: walking it costs
    // far less than building each block's text on its own. Its Latin-1 form has
    // the same offsets, so plain lines are copied out of it as they are.
    const int n = lineCount();
    const QString raw = document()->toRawText();
    const QByteArray latin = raw.toLatin1();
    const QStringView text(raw);
    QByteArray bytes;
    qsizetype start = 0;
    for (int i = 0; i < n && start <= raw.size(); ++i) {
        qsizetype end = text.indexOf(QChar(QChar::ParagraphSeparator), start);
        if (end < 0)
            end = raw.size();
        const qsizetype len = end - start;
        const char *p = latin.constData() + start;
        if (plainAscii(p, len)) {
            bytes.resize(len);
            std::memcpy(bytes.data(), p, size_t(len));
        } else {
            bytes = sjis::encode(text.mid(start, len).toString());
        }
        visit(i, bytes);
        start = end + 1;
    }
}

void LogPane::appendReceived(const QByteArray &bytes)
{
    m_pending += m_decoder.feed(bytes);
    if (m_flushTimer->isActive())
        return;
    // The first chunk after a pause goes on screen at once; a stream is put
    // there in batches, so painting does not cost a repaint per chunk.
    constexpr qint64 batchMs = 10;
    const qint64 since = m_sinceFlush.elapsed();
    if (since >= batchMs)
        insertPending();
    else
        m_flushTimer->start(int(batchMs - since));
}

void LogPane::flushReceived() const
{
    if (m_pending.isEmpty() && !m_flushTimer->isActive())
        return;
    auto *self = const_cast<LogPane *>(this);
    self->m_flushTimer->stop();
    self->insertText(m_pending.size());
}

void LogPane::insertPending()
{
    // A flood is put on screen a slice at a time, so one turn of the event
    // loop never lays out more than a few milliseconds of text.
    constexpr qsizetype sliceChars = 8192;
    insertText(sliceChars);
    if (!m_pending.isEmpty())
        m_flushTimer->start(0);
}

bool LogPane::followsEnd() const
{
    return m_atEnd && !textCursor().hasSelection();
}

void LogPane::insertText(qsizetype maxChars)
{
    m_sinceFlush.restart();
    const bool follow = followsEnd();
    const int scrolled = verticalScrollBar()->value();
    const int caretPos = textCursor().position();
    const int caretAnchor = textCursor().anchor();
    if (!m_pending.isEmpty()) {
        qsizetype n = qMin(maxChars, m_pending.size());
        // Cut after a line break where one is near, so lines go on screen whole.
        if (n < m_pending.size()) {
            const qsizetype lf = m_pending.lastIndexOf(QLatin1Char('\n'), n - 1);
            if (lf >= n / 2)
                n = lf + 1;
        }
        QTextCursor c(document());
        c.movePosition(QTextCursor::End);
        m_receiving = true;
        c.insertText(n == m_pending.size() ? m_pending : m_pending.left(n));
        m_receiving = false;
        m_pending.remove(0, n);
    }
    if (follow) {
        ScrollLogToEnd();
        return;
    }
    // The user reads or types higher up: the text grows below without moving anything.
    if (textCursor().position() != caretPos || textCursor().anchor() != caretAnchor) {
        QTextCursor c = textCursor();
        c.setPosition(caretAnchor);
        c.setPosition(caretPos, QTextCursor::KeepAnchor);
        setTextCursor(c);
    }
    verticalScrollBar()->setValue(scrolled);
}

void LogPane::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Undo)) {
        undoClear();
        event->accept();
        return;
    }
    // What the user types goes after what had arrived before it.
    flushReceived();
    QPlainTextEdit::keyPressEvent(event);
}

void LogPane::inputMethodEvent(QInputMethodEvent *event)
{
    flushReceived();
    QPlainTextEdit::inputMethodEvent(event);
}

void LogPane::insertFromMimeData(const QMimeData *source)
{
    flushReceived();
    QPlainTextEdit::insertFromMimeData(source);
}

void LogPane::ScrollLogToEnd()
{
    if (window()->isActiveWindow())
        setFocus(Qt::OtherFocusReason);
    QTextCursor c = textCursor();
    c.movePosition(QTextCursor::End);
    setTextCursor(c);
    ensureCursorVisible();
    // Fully down, so the view counts as at the end and keeps following.
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogPane::loadFile(const QString &path)
{
    loadText(ReadLogFile(path));
}

void LogPane::loadText(const QString &text)
{
    flushReceived();
    forgetClear();
    setPlainText(text);
    ScrollLogToEnd();
}

QByteArray LogPane::contentsBytes() const
{
    flushReceived();
    QByteArray out;
    out.reserve(document()->characterCount());
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
        if (b != document()->begin())
            out += "\r\n";
        out += sjis::encode(b.text());
    }
    return out;
}

void LogPane::saveFile(const QString &path) const
{
    try {
        safewrite::WriteFile(path, contentsBytes());
    } catch (const safewrite::WriteError &) {
        throw std::runtime_error(QStringLiteral("ファイル %1 を作成できません").arg(path).toStdString());
    }
}

void LogPane::insertAtStart(const QString &text)
{
    flushReceived();
    QTextCursor c(document());
    c.movePosition(QTextCursor::Start);
    c.insertText(text);
    ScrollLogToEnd();
}

void LogPane::insertLineAbove(int line, const QString &text)
{
    flushReceived();
    const QTextBlock block = document()->findBlockByNumber(line);
    if (!block.isValid())
        return;
    const bool follow = followsEnd();
    QTextCursor c(block);
    c.insertText(text + QLatin1Char('\n'));
    if (follow)
        ScrollLogToEnd();
}

void LogPane::clearWithStamp(const QDateTime &now)
{
    flushReceived();
    m_clearedText = toPlainText();
    if (m_clearedText.isNull())
        m_clearedText = QLatin1String("");
    m_clearStamp = now.toString(QStringLiteral("yyyy/MM/dd HH:mm"));
    m_undoAction->setEnabled(true);
    setPlainText(m_clearStamp + QLatin1Char('\n'));
    ScrollLogToEnd();
}

bool LogPane::undoClear()
{
    if (m_clearedText.isNull())
        return false;
    flushReceived();
    QString since = toPlainText();
    if (since == m_clearStamp || since.startsWith(m_clearStamp + QLatin1Char('\n')))
        since.remove(0, qMin(since.size(), m_clearStamp.size() + 1));
    QString text = m_clearedText;
    if (!text.isEmpty() && !since.isEmpty() && !text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    text += since;
    forgetClear();
    setPlainText(text);
    ScrollLogToEnd();
    return true;
}

void LogPane::forgetClear()
{
    m_clearedText = QString();
    m_clearStamp.clear();
    m_undoAction->setEnabled(false);
}

void LogPane::contextMenuEvent(QContextMenuEvent *event)
{
    if (m_popupActions.isEmpty()) {
        QPlainTextEdit::contextMenuEvent(event);
        return;
    }
    QMenu menu(this);
    menu.addAction(m_undoAction);
    menu.addSeparator();
    menu.addActions(m_popupActions);
    menu.exec(event->globalPos());
}
