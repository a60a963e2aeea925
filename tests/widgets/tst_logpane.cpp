#include "tests/support/TestFiles.h"
#include "widgets/LogPane.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>

class TestLogPane : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void lineCount_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("last");
        QTest::newRow("empty pane") << QByteArray() << 0 << QByteArray();
        QTest::newRow("one line, no break") << QByteArray("abc") << 1 << QByteArray("abc");
        QTest::newRow("closing break not counted") << QByteArray("x\r\nVstop:\r\n") << 2 << QByteArray("Vstop:");
        QTest::newRow("empty line before the end") << QByteArray("a\r\n\r\n") << 2 << QByteArray();
        QTest::newRow("lone breaks") << QByteArray("a\rb\nc") << 3 << QByteArray("c");
        QTest::newRow("prompt without break") << QByteArray("1.00V\r\n Vref:") << 2 << QByteArray(" Vref:");
    }
    void lineCount()
    {
        QFETCH(QByteArray, received);
        QFETCH(int, count);
        QFETCH(QByteArray, last);
        LogPane pane;
        pane.appendReceived(received);
        QCOMPARE(pane.lineCount(), count);
        if (count > 0)
            QCOMPARE(pane.line(count - 1), last);
    }

    // The analysis must not change with the window's width.
    void wrappedLineIsOneLine()
    {
        LogPane pane;
        pane.resize(120, 200);
        pane.show();
        const QByteArray longRow = "1.25V " + QByteArray(3000, '7') + " \x93\xfa";
        pane.appendReceived("Bat-V Bat1 Bat2 Bat3 Bat4\r\n" + longRow + "\r\nend\r\n");
        QCOMPARE(pane.lineCount(), 3);
        QTRY_VERIFY(pane.document()->findBlockByNumber(1).layout()
            && pane.document()->findBlockByNumber(1).layout()->lineCount() > 1);
        QCOMPARE(pane.line(1), longRow);
        QCOMPARE(pane.line(2), QByteArray("end"));
    }

    // The pane's fast search must find what a line-by-line search finds.
    void lastLineEqualTo_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("wanted");
        QTest::addColumn<int>("before");
        const QByteArray log = "Bat-V Bat1 Bat2 Bat3 Bat4\r\n1.20V 1 2 3 4\r\nBat-V Bat1 Bat2 Bat3 Bat4 \r\n"
                               "\x93\x64\x88\xb3\r\nBat-V Bat1 Bat2 Bat3 Bat4\r\nx?y\r\n\r\n";
        QTest::newRow("last of two") << log << QByteArray("Bat-V Bat1 Bat2 Bat3 Bat4") << 7;
        QTest::newRow("before the last") << log << QByteArray("Bat-V Bat1 Bat2 Bat3 Bat4") << 4;
        QTest::newRow("trailing blank") << log << QByteArray("Bat-V Bat1 Bat2 Bat3 Bat4 ") << 7;
        QTest::newRow("japanese") << log << QByteArray("\x93\x64\x88\xb3") << 7;
        QTest::newRow("question mark") << log << QByteArray("x?y") << 7;
        QTest::newRow("empty line") << log << QByteArray() << 7;
        QTest::newRow("missing") << log << QByteArray("Bat-V") << 7;
        QTest::newRow("nothing before") << log << QByteArray("Bat-V Bat1 Bat2 Bat3 Bat4") << 0;
        QTest::newRow("unencodable typed text") << QByteArray() << QByteArray("a?b") << 1;
    }
    void lastLineEqualTo()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, wanted);
        QFETCH(int, before);
        LogPane pane;
        pane.appendReceived(text);
        if (text.isEmpty())
            pane.setPlainText(QStringLiteral("a\u00e9b")); // saves as "a?b"
        const ByteLines reference = ByteLines::fromText(pane.contentsBytes());
        QCOMPARE(pane.lastLineEqualTo(wanted, before), reference.lastLineEqualTo(wanted, before));
    }

    void chunksJoinWhole()
    {
        LogPane pane;
        // "電圧" split inside its first character, a zero byte, CR and LF in two chunks.
        const QList<QByteArray> chunks
            = {QByteArray("A\x93"), QByteArray("\x64\x88\xb3\0B\r", 6), QByteArray("\nC\0D", 4)};
        for (const QByteArray &c : chunks)
            pane.appendReceived(c);
        QCOMPARE(pane.lineCount(), 2);
        QCOMPARE(pane.line(0),
            QByteArray("A\x93\x64\x88\xb3"
                       "B"));
        QCOMPARE(pane.line(1), QByteArray("CD"));
    }

    // Received text is inserted at the end; nothing already there is rewritten.
    void receivingAppendsOnly()
    {
        LogPane pane;
        pane.appendReceived("first line\r\n");
        QList<QPair<int, int>> removals;
        connect(pane.document(), &QTextDocument::contentsChange, this,
            [&removals](int pos, int removed, int) { removals << qMakePair(pos, removed); });
        const int endBefore = pane.document()->characterCount() - 1;
        pane.appendReceived("second\r\n");
        QCOMPARE(pane.contentsBytes(), QByteArray("first line\r\nsecond\r\n"));
        QVERIFY(!removals.isEmpty());
        for (const auto &r : removals) {
            QCOMPARE(r.second, 0);
            QVERIFY(r.first >= endBefore);
        }
    }

    void receivingMovesCaretToEnd()
    {
        LogPane pane;
        pane.appendReceived("abc\r\ndef\r\n");
        QTextCursor c = pane.textCursor();
        c.setPosition(1);
        pane.setTextCursor(c);
        pane.appendReceived("ghi");
        QTRY_COMPARE(pane.textCursor().position(), pane.document()->characterCount() - 1);
        QCOMPARE(pane.contentsBytes(), QByteArray("abc\r\ndef\r\nghi"));
    }

    // A burst of chunks is batched for the screen, but never reordered against typing.
    void typingDuringBurstGoesAfterReceived()
    {
        LogPane pane;
        pane.show();
        pane.setFocus();
        for (int i = 0; i < 50; ++i)
            pane.appendReceived("x");
        QTest::keyClicks(&pane, "AB");
        pane.appendReceived("y");
        QCOMPARE(pane.contentsBytes(), QByteArray(50, 'x') + "ABy");
    }

    void receivingLeavesFocusInOtherWindow()
    {
        QWidget logWindow;
        auto *pane = new LogPane(&logWindow);
        logWindow.show();
        QLineEdit dialogField;
        dialogField.show();
        dialogField.activateWindow();
        dialogField.setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&dialogField));
        pane->appendReceived("data\r\n");
        QVERIFY(dialogField.hasFocus());
        QVERIFY(!pane->hasFocus());
        QTest::keyClicks(&dialogField, "12");
        QCOMPARE(dialogField.text(), QStringLiteral("12"));
        QCOMPARE(pane->contentsBytes(), QByteArray("data\r\n"));
    }

    void clearLeavesDateStamp()
    {
        LogPane pane;
        pane.appendReceived("old text\r\nmore");
        pane.clearWithStamp(QDateTime(QDate(2006, 3, 2), QTime(7, 5, 59)));
        QCOMPARE(pane.contentsBytes(), QByteArray("2006/03/02 07:05\r\n"));
        QCOMPARE(pane.lineCount(), 1);
        QCOMPARE(pane.textCursor().blockNumber(), 1);
        QCOMPARE(pane.textCursor().positionInBlock(), 0);
    }

    void openSaveRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("saved");
        const QByteArray mixed = "2006/03/02 07:05\r\n\x95\xfa\x93\x64\x83\x66\x81\x5b\x83\x5e\r\n"
                                 "Bat-V Bat1 Bat2 Bat3 Bat4\r\n1.25V 12 13 14 15\r\n"
                                 "bad \x80\xa0\xff\xfd bytes \xed\x40 \x87\x40\t\x1a end";
        QTest::newRow("mixed, no closing break") << mixed << mixed;
        QTest::newRow("mixed, closing break") << mixed + "\r\n" << mixed + "\r\n";
        QTest::newRow("lone breaks become CR LF") << QByteArray("a\rb\nc\n") << QByteArray("a\r\nb\r\nc\r\n");
        QTest::newRow("zero bytes dropped") << QByteArray("a\0b", 3) << QByteArray("ab");
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }
    void openSaveRoundTrip()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, saved);
        const QString in = m_dir.filePath(QStringLiteral("in.txt"));
        const QString out = m_dir.filePath(QStringLiteral("out.txt"));
        WriteFile(in, file);
        LogPane pane;
        pane.appendReceived("replaced\r\n");
        pane.loadFile(in);
        pane.saveFile(out);
        QCOMPARE(ReadFile(out), saved);
        // Opening again replaces, never appends.
        pane.loadFile(out);
        QCOMPARE(pane.contentsBytes(), saved);
    }

    void failuresKeepText()
    {
        LogPane pane;
        pane.appendReceived("keep me");
        const QString missing = m_dir.filePath(QStringLiteral("no/such.txt"));
        try {
            pane.loadFile(missing);
            QFAIL("no exception");
        } catch (const std::runtime_error &e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("ファイル %1 は開けません").arg(missing));
        }
        try {
            pane.saveFile(missing);
            QFAIL("no exception");
        } catch (const std::runtime_error &e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("ファイル %1 を作成できません").arg(missing));
        }
        QCOMPARE(pane.contentsBytes(), QByteArray("keep me"));
    }
};

QTEST_MAIN(TestLogPane)
#include "tst_logpane.moc"
