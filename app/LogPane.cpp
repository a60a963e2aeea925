#include "app/LogPane.h"

#include <QContextMenuEvent>
#include <QFile>
#include <QMenu>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <stdexcept>

LogPane::LogPane(QWidget *parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("RichEdit1"));
    QFont f(QStringLiteral("ＭＳ ゴシック"));
    f.setStyleHint(QFont::TypeWriter);
    f.setPixelSize(12);
    setFont(f);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Received text goes into the same document as the user's typing; an undo
    // step could silently remove received data, so there is no undo.
    setUndoRedoEnabled(false);
}

int LogPane::lineCount() const
{
    const QTextDocument *doc = document();
    int n = doc->blockCount();
    if (doc->lastBlock().length() <= 1)  // the last line is empty
        --n;
    return qMax(0, n);
}

QByteArray LogPane::line(int i) const
{
    return sjis::encode(document()->findBlockByNumber(i).text());
}

void LogPane::appendReceived(const QByteArray &bytes)
{
    const QString text = m_decoder.feed(bytes);
    if (!text.isEmpty()) {
        QTextCursor c(document());
        c.movePosition(QTextCursor::End);
        c.insertText(text);
    }
    ScrollLogToEnd();
}

void LogPane::ScrollLogToEnd()
{
    if (window()->isActiveWindow())
        setFocus(Qt::OtherFocusReason);
    QTextCursor c = textCursor();
    c.movePosition(QTextCursor::End);
    setTextCursor(c);
    ensureCursorVisible();
}

void LogPane::loadFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error(QStringLiteral("ファイル %1 は開けません").arg(path).toStdString());
    const QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw std::runtime_error(QStringLiteral("ファイル %1 は開けません").arg(path).toStdString());
    setPlainText(sjis::decodeText(data));
    ScrollLogToEnd();
}

QByteArray LogPane::contentsBytes() const
{
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
    const auto fail = [&path] {
        throw std::runtime_error(QStringLiteral("ファイル %1 を作成できません").arg(path).toStdString());
    };
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        fail();
    const QByteArray data = contentsBytes();
    if (f.write(data) != data.size() || !f.commit())
        fail();
}

void LogPane::clearWithStamp(const QDateTime &now)
{
    setPlainText(now.toString(QStringLiteral("yyyy/MM/dd HH:mm")) + QLatin1Char('\n'));
    ScrollLogToEnd();
}

void LogPane::contextMenuEvent(QContextMenuEvent *event)
{
    if (m_popupActions.isEmpty()) {
        QPlainTextEdit::contextMenuEvent(event);
        return;
    }
    QMenu menu(this);
    menu.addActions(m_popupActions);
    menu.exec(event->globalPos());
}
