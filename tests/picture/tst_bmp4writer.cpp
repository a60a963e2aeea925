// The 4-bit BMP writer: headers, palette, pixel packing, nearest colours, safe writing.
#include "picture/Bmp4Writer.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

quint16 u16(const QByteArray &b, int at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}
quint32 u32(const QByteArray &b, int at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}
qint32 i32(const QByteArray &b, int at)
{
    return qFromLittleEndian<qint32>(b.constData() + at);
}

// The classic Windows colours, written out here so the writer's table is checked.
const QList<QRgb> Expected = {
    0x000000,
    0x800000,
    0x008000,
    0x808000,
    0x000080,
    0x800080,
    0x008080,
    0x808080,
    0xC0C0C0,
    0xFF0000,
    0x00FF00,
    0xFFFF00,
    0x0000FF,
    0xFF00FF,
    0x00FFFF,
    0xFFFFFF,
};

// An image whose pixels cycle through the palette in a pattern that differs per row.
QImage patterned(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, 0xFF000000 | Expected.at((x * 3 + y * 5) % 16));
    return img;
}

} // namespace

class TestBmp4Writer : public QObject
{
    Q_OBJECT
private slots:
    void headers_data();
    void headers();
    void palette();
    void packing();
    void readBack_data();
    void readBack();
    void nearest_data();
    void nearest();
    void emptyImageRefused();
    void writeReplacesWhole();
    void failedWrite_data();
    void failedWrite();
};

void TestBmp4Writer::headers_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("stride"); // bytes per row, padded to 4
    QTest::newRow("1x1") << 1 << 1 << 4;
    QTest::newRow("odd width 7") << 7 << 3 << 4;
    QTest::newRow("width 8 fills a row exactly") << 8 << 2 << 4;
    QTest::newRow("width 9 needs a second word") << 9 << 2 << 8;
    QTest::newRow("graph window 592x335") << 592 << 335 << 296;
    QTest::newRow("wide 4000x7") << 4000 << 7 << 2000;
}

void TestBmp4Writer::headers()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, stride);
    const QByteArray b = bmp4::Encode(patterned(width, height));
    const int bitsOffset = 14 + 40 + 64;
    QCOMPARE(b.left(2), QByteArray("BM"));
    QCOMPARE(u32(b, 2), quint32(b.size()));
    QCOMPARE(u32(b, 6), 0u);
    QCOMPARE(u32(b, 10), quint32(bitsOffset));
    QCOMPARE(u32(b, 14), 40u);
    QCOMPARE(i32(b, 18), width);
    QCOMPARE(i32(b, 22), height);
    QCOMPARE(u16(b, 26), quint16(1));
    QCOMPARE(u16(b, 28), quint16(4));
    QCOMPARE(u32(b, 30), 0u);
    QCOMPARE(u32(b, 34), quint32(stride * height));
    QCOMPARE(u32(b, 46), 16u);
    QCOMPARE(b.size(), bitsOffset + stride * height);
}

void TestBmp4Writer::palette()
{
    const QByteArray b = bmp4::Encode(patterned(3, 3));
    for (int i = 0; i < 16; ++i) {
        const int at = 54 + i * 4;
        const QRgb c = qRgb(uchar(b[at + 2]), uchar(b[at + 1]), uchar(b[at]));
        QCOMPARE(c & 0xFFFFFF, Expected.at(i));
        QCOMPARE(int(b[at + 3]), 0);
        QCOMPARE(bmp4::Palette()[i] & 0xFFFFFF, Expected.at(i));
    }
}

void TestBmp4Writer::packing()
{
    // Top row black, white, red; bottom row blue, lime, yellow. Rows are stored
    // bottom-up, the left pixel in the high nibble, padded to four bytes.
    QImage img(3, 2, QImage::Format_RGB32);
    img.setPixel(0, 0, qRgb(0, 0, 0));
    img.setPixel(1, 0, qRgb(255, 255, 255));
    img.setPixel(2, 0, qRgb(255, 0, 0));
    img.setPixel(0, 1, qRgb(0, 0, 255));
    img.setPixel(1, 1, qRgb(0, 255, 0));
    img.setPixel(2, 1, qRgb(255, 255, 0));
    const QByteArray b = bmp4::Encode(img);
    QCOMPARE(b.mid(118), QByteArray("\xCA\xB0\x00\x00\x0F\x90\x00\x00", 8));
}

void TestBmp4Writer::readBack_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QString>("name");
    QTest::newRow("palette pattern") << patterned(37, 11) << "a.bmp";
    QTest::newRow("upper-case extension") << patterned(16, 16) << "B.BMP";
    QImage argb = patterned(10, 4).convertToFormat(QImage::Format_ARGB32);
    QTest::newRow("ARGB source") << argb << "c.bmp";
    QTest::newRow("indexed source") << patterned(9, 9).convertToFormat(QImage::Format_Indexed8) << "d.bmp";
}

void TestBmp4Writer::readBack()
{
    // Qt's own BMP reader decodes what we wrote: every pixel keeps its colour.
    QFETCH(QImage, image);
    QFETCH(QString, name);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(name);
    bmp4::Write(image, path);
    QImage back(path, "BMP");
    QVERIFY(!back.isNull());
    QCOMPARE(back.size(), image.size());
    QCOMPARE(back.colorCount(), 16); // read as a 16-colour indexed image
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            QCOMPARE(back.pixel(x, y) & 0xFFFFFF, image.pixel(x, y) & 0xFFFFFF);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{name});
}

void TestBmp4Writer::nearest_data()
{
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<int>("index");
    for (int i = 0; i < 16; ++i)
        QTest::addRow("exact %06x", Expected.at(i)) << QRgb(0xFF000000 | Expected.at(i)) << i;
    QTest::newRow("dark red to maroon") << qRgb(0x90, 0x10, 0x08) << 1;
    QTest::newRow("bright red to red") << qRgb(0xF0, 0x20, 0x10) << 9;
    QTest::newRow("light grey to silver") << qRgb(0xC8, 0xC8, 0xC8) << 8;
    QTest::newRow("mid grey to gray") << qRgb(0x70, 0x70, 0x70) << 7;
    QTest::newRow("near white to white") << qRgb(0xF8, 0xF8, 0xF8) << 15;
    QTest::newRow("dark grey to black") << qRgb(0x30, 0x30, 0x30) << 0;
    QTest::newRow("equal distance: first entry wins") << qRgb(0x40, 0x40, 0x40) << 0;
    QTest::newRow("alpha ignored") << qRgba(0xFF, 0x00, 0x00, 0x00) << 9;
}

void TestBmp4Writer::nearest()
{
    QFETCH(QRgb, colour);
    QFETCH(int, index);
    QCOMPARE(bmp4::NearestIndex(colour), index);

    // And the encoder uses the same mapping for a pixel of that colour.
    QImage img(1, 1, QImage::Format_ARGB32);
    img.setPixel(0, 0, colour);
    const QByteArray b = bmp4::Encode(img);
    QCOMPARE(uchar(b[118]) >> 4, index);
}

void TestBmp4Writer::emptyImageRefused()
{
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, bmp4::Encode(QImage()));
    QTemporaryDir dir;
    const QString path = dir.filePath("empty.bmp");
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, bmp4::Write(QImage(), path));
    QVERIFY(!QFile::exists(path));
}

void TestBmp4Writer::writeReplacesWhole()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("graph.bmp");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(100000, 'x')); // longer than the new file
    }
    const QImage img = patterned(20, 20);
    bmp4::Write(img, path);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), bmp4::Encode(img));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"graph.bmp"});
}

void TestBmp4Writer::failedWrite_data()
{
    QTest::addColumn<QString>("relative");
    QTest::newRow("folder that does not exist") << "missing/graph.bmp";
    QTest::newRow("name taken by a folder") << "taken.bmp";
    QTest::newRow("folder is a file") << "plain.txt/graph.bmp";
}

void TestBmp4Writer::failedWrite()
{
    QFETCH(QString, relative);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("taken.bmp"));
    {
        QFile f(dir.filePath("plain.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep");
    }
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, bmp4::Write(patterned(5, 5), dir.filePath(relative)));
    // Nothing half-written is left, beside the target or under its name.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
    QVERIFY(QFileInfo(dir.filePath("taken.bmp")).isDir());
    QFile f(dir.filePath("plain.txt"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep"));
}

QTEST_GUILESS_MAIN(TestBmp4Writer)
#include "tst_bmp4writer.moc"
