#include "core/LogLines.h"
#include "core/SjisText.h"

#include <QtTest>

// Japanese, ASCII and bytes that are not valid Shift-JIS, as a log might hold.
static QByteArray mixedBytes()
{
    QByteArray b;
    b += "Bat-V Bat1\\~ "; // backslash and tilde stay ASCII
    b += "\x93\xfa\x96\x7b\x8c\xea"; // 日本語
    b += "\xb6\xc0\xb6\xc5"; // half-width katakana
    b += "\x87\x40"; // NEC circled one
    b += "\xed\x40\xfa\x5c"; // two codes for the same kanji
    b += "\x80\xa0\xfd\xfe\xff"; // never valid
    b += "\x81\x20"; // lead byte before an ASCII blank
    b += "\xf0\x40"; // user-defined area
    b += "\x01\x1a\x1c\x7f\t"; // control bytes
    b += "\x82"; // lead byte with nothing after it
    return b;
}

class TestSjisText : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("mixed") << mixedBytes();
        QByteArray all;
        for (int i = 1; i < 256; ++i)
            all.append(char(i));
        QTest::newRow("every non-zero byte") << all;
        QByteArray pairs;
        for (int lead = 0x81; lead <= 0xFC; lead += 7)
            for (int trail = 0x30; trail <= 0xFF; trail += 3) {
                pairs.append(char(lead));
                pairs.append(char(trail));
            }
        QTest::newRow("lead and trail grid") << pairs;
    }
    void roundTrip()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(sjis::encode(sjis::decode(bytes)), bytes);
    }

    void decodesJapanese()
    {
        QCOMPARE(sjis::decode("\x93\xfa\x96\x7b\x8c\xea"), QStringLiteral("日本語"));
        QCOMPARE(sjis::encode(QStringLiteral("電圧")), QByteArray("\x93\x64\x88\xb3"));
        QCOMPARE(sjis::decode("\\"), QStringLiteral("\\"));
        QCOMPARE(sjis::decode("\xb1"), QStringLiteral("ｱ"));
    }

    void unencodableCharacterBecomesQuestionMark()
    {
        QCOMPARE(sjis::encode(QStringLiteral("a\u00e9b")), QByteArray("a?b"));
    }

    // Every way of cutting the stream into two chunks gives the same text.
    void streamSplitAnywhere_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("kanji") << QByteArray("A\x93\xfa\x96\x7bZ") << QStringLiteral("A日本Z");
        QTest::newRow("crlf") << QByteArray("ab\r\ncd") << QStringLiteral("ab\ncd");
        QTest::newRow("lone cr and lf") << QByteArray("a\rb\nc\r\r\nd") << QStringLiteral("a\nb\nc\n\nd");
        QTest::newRow("zero bytes") << QByteArray("1.2\0"
                                                  "0V\0\0 5",
            10) << QStringLiteral("1.20V 5");
        QTest::newRow("kanji then break") << QByteArray("\x93\x64\x88\xb3\r\n") << QStringLiteral("電圧\n");
    }
    void streamSplitAnywhere()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        for (int cut = 0; cut <= bytes.size(); ++cut) {
            sjis::StreamDecoder d;
            QString got = d.feed(bytes.left(cut));
            got += d.feed(bytes.mid(cut));
            got += d.flush();
            QVERIFY2(got == expected, qPrintable(QStringLiteral("cut at %1: %2").arg(cut).arg(got)));
        }
        // One byte at a time as well.
        sjis::StreamDecoder d;
        QString got;
        for (char c : bytes)
            got += d.feed(QByteArray(1, c));
        got += d.flush();
        QCOMPARE(got, expected);
    }

    void zeroByteKeepsTheRestOfTheChunk()
    {
        sjis::StreamDecoder d;
        QCOMPARE(d.feed(QByteArray("abc\0def", 7)), QStringLiteral("abcdef"));
    }

    void danglingLeadIsKeptOnFlush()
    {
        sjis::StreamDecoder d;
        QCOMPARE(d.feed("x\x93"), QStringLiteral("x"));
        QCOMPARE(sjis::encode(d.flush()), QByteArray("\x93"));
    }

    void lineSplitting_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::newRow("empty") << QByteArray() << QList<QByteArray>{};
        QTest::newRow("closing break") << QByteArray("Vstop:\r\n") << QList<QByteArray>{"Vstop:"};
        QTest::newRow("no closing break") << QByteArray("a\r\nb") << QList<QByteArray>{"a", "b"};
        QTest::newRow("mixed breaks") << QByteArray("a\rb\nc\r\n\r\n") << QList<QByteArray>{"a", "b", "c", ""};
    }
    void lineSplitting()
    {
        QFETCH(QByteArray, text);
        QFETCH(QList<QByteArray>, lines);
        ByteLines b = ByteLines::fromText(text);
        QCOMPARE(b.lines(), lines);
        QCOMPARE(b.lineCount(), int(lines.size()));
    }
};

QTEST_APPLESS_MAIN(TestSjisText)
#include "tst_sjistext.moc"
