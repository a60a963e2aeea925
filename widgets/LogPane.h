#pragma once
// The communication log: everything the discharger sends, plus the user's own
// notes. Its lines are the input of the analysis and of the settings exchange.
#include "core/LogLines.h"
#include "core/SjisText.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QPlainTextEdit>

class QMenu;

class QTimer;

class LogPane : public QPlainTextEdit, public LineSource
{
    Q_OBJECT
public:
    explicit LogPane(QWidget *parent = nullptr);

    // Logical lines (paragraphs), never lines as the pane wraps them.
    int lineCount() const override;
    QByteArray line(int i) const override;
    int lastLineEqualTo(const QByteArray &text, int before) const override;
    void scanLines(const std::function<void(int, const QByteArray &)> &visit) const override;

    // Appends received bytes at the end of the text. Zero
    // bytes are dropped; a character split across chunks arrives whole.
    // Chunks that come in quick succession are put on screen together, at most
    // every 10 ms; every read of the text sees all of them at once. The view
    // follows the text while it shows the end and nothing is selected;
    // scrolled away or with a selection, view and caret stay where they are.
    void appendReceived(const QByteArray &bytes);
    // Received bytes not yet in the text (a character's first byte waiting
    // for its second).
    int heldBytes() const { return m_decoder.holdsLead() ? 1 : 0; }
    // Puts received text that is still waiting into the document now.
    void flushReceived() const;

    // Caret to the end and into view. Takes the keyboard focus only when the
    // pane's own window is already active, so typing into a dialog is never
    // redirected into the log.
    void ScrollLogToEnd();

    // Replaces the text with the file's; throws std::runtime_error
    // ("ファイル %s は開けません") when it cannot be read.
    void loadFile(const QString &path);
    // Replaces the text with text, as opening a file does.
    void loadText(const QString &text);
    // Writes the whole text as Shift-JIS with CR LF breaks; throws
    // std::runtime_error ("ファイル %s を作成できません") on failure. The file is
    // written beside and renamed into place.
    void saveFile(const QString &path) const;
    // Puts text ahead of everything in the pane (received text still waiting included).
    void insertAtStart(const QString &text);
    // Puts text as a line of its own just above logical line `line` (0-based);
    // the caret and the view stay with the text they were at.
    void insertLineAbove(int line, const QString &text);
    // Clears the text, leaving one line stamped with the given time. The
    // cleared text can be brought back with undoClear().
    void clearWithStamp(const QDateTime &now);
    // Puts the text the last clear removed back ahead of what came since
    // (the stamp line goes). False when there is nothing to bring back.
    bool undoClear();
    bool canUndoClear() const { return !m_clearedText.isNull(); }
    // "元に戻す": the pane's pop-up and Ctrl+Z.
    QAction *undoAction() const { return m_undoAction; }

    // The whole text as it would be saved.
    QByteArray contentsBytes() const;

    // The actions shown by the pane's pop-up menu (cut, copy, paste).
    void setPopupActions(const QList<QAction *> &actions) { m_popupActions = actions; }

signals:
    // The text changed other than by received bytes (typing, paste, cut,
    // clear, open, undo, text put in by the program).
    void userChanged();

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    void insertPending();
    void insertText(qsizetype maxChars);
    bool followsEnd() const;
    void forgetClear();

    sjis::StreamDecoder m_decoder;
    QString m_pending;
    QTimer *m_flushTimer;
    QElapsedTimer m_sinceFlush;
    QList<QAction *> m_popupActions;
    QAction *m_undoAction;
    QString m_clearedText; // null: nothing to undo
    QString m_clearStamp; // the line the clear left
    bool m_receiving = false;
    bool m_atEnd = true; // the view was last left at the end of the text
};
