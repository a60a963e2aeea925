// The codec's own tables against the system's Shift_JIS codec (ICU), byte for byte: every single byte, every
// two-byte sequence and every character of the Basic Multilingual Plane. Fails when the generated table in the
// tree is stale, damaged or read with the wrong row or column. Skips where Qt has no ICU (the Windows build).
#include "core/SjisText.h"
#include "tools/sjis-tables/IcuSjis.h"

#include <QtTest>

namespace {

// What a byte outside a pair decodes to: ASCII, half-width katakana, or the byte's escape character.
QString singleByte(int b)
{
    if (b < 0x80)
        return QString(QChar(char16_t(b)));
    if (b >= 0xA1 && b <= 0xDF)
        return QString(QChar(char16_t(0xFF61 + b - 0xA1)));
    return QString(QChar(char16_t(0xF700 + b)));
}

QString hex(const QByteArray &b)
{
    return QString::fromLatin1(b.toHex(' '));
}

} // namespace

class TestSjisTables : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!icusjis::codecAvailable())
            QSKIP("this Qt has no Shift_JIS codec to compare with");
    }

    void everySingleByte()
    {
        for (int b = 0; b < 256; ++b) {
            const QByteArray bytes(1, char(b));
            QCOMPARE(sjis::decode(bytes), singleByte(b));
            QCOMPARE(sjis::encode(sjis::decode(bytes)), bytes);
        }
        // Single bytes as ICU has them, where the codec and our rule agree on a single character.
        for (int b = 0x20; b < 0x7F; ++b) {
            QStringDecoder dec("Shift_JIS", QStringDecoder::Flag::Stateless);
            const QString icu = dec(QByteArray(1, char(b)));
            if (b != 0x5C && b != 0x7E) // ICU's table maps these to the yen sign and overline; VOLTRAK keeps ASCII
                QCOMPARE(icu, singleByte(b));
        }
        for (int b = 0xA1; b <= 0xDF; ++b) {
            QStringDecoder dec("Shift_JIS", QStringDecoder::Flag::Stateless);
            QCOMPARE(dec(QByteArray(1, char(b))), singleByte(b));
        }
    }

    // Every lead byte with every following byte, the lead included where it is none.
    void everyDoubleByte_data()
    {
        QTest::addColumn<int>("lead");
        for (int lead = 0x80; lead <= 0xFF; ++lead)
            QTest::newRow(qPrintable(QStringLiteral("0x%1").arg(lead, 2, 16, QLatin1Char('0')))) << lead;
    }
    void everyDoubleByte()
    {
        QFETCH(int, lead);
        int pairs = 0;
        for (int trail = 0; trail < 256; ++trail) {
            const char raw[2] = {char(lead), char(trail)};
            const QByteArray bytes(raw, 2);
            const char16_t c = sjis::isLeadByte(uchar(lead)) ? icusjis::pair(lead, trail) : 0;
            const QString expected = c ? QString(QChar(c)) : singleByte(lead) + singleByte(trail);
            const QString got = sjis::decode(bytes);
            QVERIFY2(got == expected, qPrintable(hex(bytes)));
            QVERIFY2(sjis::encode(got) == bytes, qPrintable(hex(bytes)));
            pairs += c != 0;
        }
        // Non-lead bytes have no pairs, nor have the empty rows 0x85, 0x86, 0xEB, 0xEC, 0xEF and the NEC-selected
        // IBM rows 0xED, 0xEE, whose characters are all written with their IBM codes 0xFA..0xFC.
        static const QList<int> empty{0x85, 0x86, 0xEB, 0xEC, 0xED, 0xEE, 0xEF};
        QCOMPARE(pairs > 0, sjis::isLeadByte(uchar(lead)) && !empty.contains(lead));
    }

    // Every character encodes as ICU writes it when that pair is one the codec keeps, else as "?".
    void everyCharacter()
    {
        int doubles = 0;
        for (int u = 0x80; u < 0x10000; ++u) {
            const QChar ch{char16_t(u)};
            if (ch.isSurrogate() || (u >= 0xF780 && u <= 0xF7FF) || (u >= 0xFF61 && u <= 0xFF9F))
                continue;
            QStringEncoder enc("Shift_JIS", QStringEncoder::Flag::Stateless);
            const QByteArray icu = enc(QString(ch));
            QByteArray expected("?");
            if (icu.size() == 2 && icusjis::pair(uchar(icu.at(0)), uchar(icu.at(1))) == u)
                expected = icu;
            const QByteArray got = sjis::encode(QString(ch));
            QVERIFY2(got == expected, qPrintable(QStringLiteral("U+%1: %2").arg(u, 4, 16).arg(hex(got))));
            doubles += got.size() == 2;
        }
        // JIS X 0208 with the NEC and IBM extensions: well over 7000 characters.
        QVERIFY2(doubles > 7000, qPrintable(QString::number(doubles)));
    }
};

QTEST_APPLESS_MAIN(TestSjisTables)
#include "tst_sjistables.moc"
