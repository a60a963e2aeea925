// The log pane as a person uses it while data streams in: a clear taken back,
// reading higher up undisturbed, and which changes count as the user's.
#include "widgets/LogPane.h"

#include <QAction>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

class TestLogPaneEdits : public QObject
{
    Q_OBJECT
    const QDateTime m_now{QDate(2026, 12, 9), QTime(4, 30)};

    static QByteArray lines(int from, int count)
    {
        QByteArray b;
        for (int i = from; i < from + count; ++i)
            b += "T=" + QByteArray::number(i) + "  1.254  1.251  1.262  1.249\r\n";
        return b;
    }

private slots:
    // Ctrl+Z and the pop-up's 元に戻す bring back what クリア removed, ahead of
    // what arrived or was typed since; a second undo has nothing to bring.
    void clearThenUndo_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("Ctrl+Z") << true;
        QTest::newRow("元に戻す") << false;
    }
    void clearThenUndo()
    {
        QFETCH(bool, byKey);
        LogPane pane;
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QVERIFY(!pane.undoAction()->isEnabled());
        pane.appendReceived("before\r\n");
        QTest::keyClicks(&pane, "note");
        pane.clearWithStamp(m_now);
        QCOMPARE(pane.toPlainText(), QStringLiteral("2026/12/09 04:30\n"));
        QCOMPARE(pane.undoAction()->text(), QStringLiteral("元に戻す"));
        QVERIFY(pane.undoAction()->isEnabled());
        pane.appendReceived("after\r\n");
        if (byKey)
            QTest::keySequence(&pane, QKeySequence(Qt::CTRL | Qt::Key_Z));
        else
            pane.undoAction()->trigger();
        QCOMPARE(pane.toPlainText(), QStringLiteral("before\nnote\nafter\n"));
        QVERIFY(!pane.canUndoClear());
        QVERIFY(!pane.undoClear());
        QCOMPARE(pane.toPlainText(), QStringLiteral("before\nnote\nafter\n"));
    }

    // Opening a file ends what the clear could bring back.
    void openForgetsTheClear()
    {
        LogPane pane;
        pane.appendReceived("old\r\n");
        pane.clearWithStamp(m_now);
        const QString path = QDir::temp().filePath(QStringLiteral("voltrak-edits-%1.log").arg(qApp->applicationPid()));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("file\r\n");
        f.close();
        pane.loadFile(path);
        QFile::remove(path);
        QVERIFY(!pane.undoClear());
        QCOMPARE(pane.toPlainText(), QStringLiteral("file\n"));
    }

    // Scrolled up (or with a selection), the stream grows below without
    // moving the view or the caret; back at the end, the view follows again.
    void streamingWhileScrolledUp_data()
    {
        QTest::addColumn<bool>("select");
        QTest::newRow("scrolled up") << false;
        QTest::newRow("selection at the end") << true;
    }
    void streamingWhileScrolledUp()
    {
        QFETCH(bool, select);
        LogPane pane;
        pane.resize(300, 200);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        pane.appendReceived(lines(0, 200));
        pane.flushReceived();
        QScrollBar *bar = pane.verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());

        int view = 0;
        if (select) {
            // Select the last line, view still at the end.
            QTextCursor c = pane.textCursor();
            c.movePosition(QTextCursor::End);
            c.movePosition(QTextCursor::PreviousBlock);
            c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            pane.setTextCursor(c);
            view = bar->value();
        } else {
            QTextCursor c = pane.textCursor();
            c.setPosition(10); // the caret high up, the view lower
            pane.setTextCursor(c);
            bar->setValue(bar->maximum() / 3);
            view = bar->value();
            QVERIFY(view > 0);
        }
        const int pos = pane.textCursor().position();
        const int anchor = pane.textCursor().anchor();
        for (int chunk = 0; chunk < 20; ++chunk) {
            pane.appendReceived(lines(200 + chunk * 5, 5));
            QTest::qWait(15); // chunks as a stream brings them, each put on screen
        }
        pane.flushReceived();
        QCOMPARE(pane.lineCount(), 300);
        QCOMPARE(bar->value(), view);
        QCOMPARE(pane.textCursor().position(), pos);
        QCOMPARE(pane.textCursor().anchor(), anchor);

        // Back at the end with nothing selected: it follows.
        QTextCursor c = pane.textCursor();
        c.clearSelection();
        pane.setTextCursor(c);
        bar->setValue(bar->maximum());
        pane.appendReceived(lines(300, 50));
        pane.flushReceived();
        QTRY_COMPARE(bar->value(), bar->maximum());
        QCOMPARE(pane.textCursor().position(), pane.document()->characterCount() - 1);
    }

    // Received text alone is not the user's change; everything else is.
    void userChangedOnlyForTheUsersChanges()
    {
        LogPane pane;
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QSignalSpy changed(&pane, &LogPane::userChanged);
        pane.appendReceived(lines(0, 30));
        pane.flushReceived();
        QTest::qWait(30);
        QCOMPARE(changed.size(), 0);
        QTest::keyClicks(&pane, "x");
        QCOMPARE(changed.size(), 1);
        pane.clearWithStamp(m_now);
        QVERIFY(changed.size() >= 2);
        const int afterClear = changed.size();
        pane.insertAtStart(QStringLiteral("recovered\n"));
        QVERIFY(changed.size() > afterClear);
    }
};

QTEST_MAIN(TestLogPaneEdits)
#include "tst_logpaneedits.moc"
