// The metafile generator's output read back by an independent record reader:
// structure, object handling, geometry, text and file writing.

#include "picture/MetafileGenerator.h"
#include "tests/picture/SampleChart.h"
#include "tests/support/MetafileReader.h"

#include <QApplication>
#include <QFile>
#include <QFontMetricsF>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <limits>
#include <stdexcept>

Q_DECLARE_METATYPE(MetafileFormat)

namespace {

using Scene = std::function<void(QPainter &)>;

QByteArray paint(MetafileFormat format, QSize size, const Scene &scene)
{
    MetafileGenerator device(format, size);
    QPainter p(&device);
    scene(p);
    p.end();
    return device.data();
}

mfread::Picture read(MetafileFormat format, const QByteArray &bytes)
{
    return format == MetafileFormat::Emf ? mfread::readEmf(bytes) : mfread::readWmf(bytes);
}

QFont chartFont()
{
    QFont f(QStringLiteral("ＭＳ Ｐ明朝"));
    f.setPixelSize(15);
    return f;
}

// Points of a stroke in device pixels.
QPolygonF inPixels(const mfread::Stroke &s, double unitsPerPixel)
{
    QPolygonF out;
    for (const QPoint &p : s.points)
        out << QPointF(p) / unitsPerPixel;
    return out;
}

const QColor kPalette[] = {Qt::red, Qt::green, Qt::blue, Qt::gray, Qt::darkYellow, Qt::magenta};

} // namespace

class TestMetafile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { sample::installFontSubstitutes(); }

    void structureIsSound_data();
    void structureIsSound();
    void readerFindsFaults_data();
    void readerFindsFaults();
    void chartContent_data();
    void chartContent();
    void objectSlotsFollowSelections_data();
    void objectSlotsFollowSelections();
    void geometry_data();
    void geometry();
    void textDirection_data();
    void textDirection();
    void textEncoding_data();
    void textEncoding();
    void faceName_data();
    void faceName();
    void fileWriting_data();
    void fileWriting();
    void hostileDrawing_data();
    void hostileDrawing();
    void zeroWidthLinesCountInBounds_data();
    void zeroWidthLinesCountInBounds();
};

// ------------------------------------------------------------------ structure

void TestMetafile::structureIsSound_data()
{
    QTest::addColumn<MetafileFormat>("format");
    QTest::addColumn<QString>("scene");
    QTest::addColumn<QSize>("size");
    for (auto [fmt, tag] : {std::pair{MetafileFormat::Emf, "emf"}, {MetafileFormat::Wmf, "wmf"}}) {
        auto row = [&](const char *name, QSize size) {
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(tag, name))) << fmt << QString(name) << size;
        };
        row("chart", QSize(600, 300));
        row("chart at the largest window", QSize(4000, 2000));
        row("chart at the smallest window", QSize(100, 100));
        row("nothing drawn", QSize(200, 100));
        row("many pens, brushes and fonts", QSize(300, 300));
        row("clipped and restored", QSize(300, 200));
        row("image", QSize(200, 200));
        row("shapes", QSize(300, 300));
        row("polyline of 40000 points", QSize(300, 300));
    }
}

void TestMetafile::structureIsSound()
{
    QFETCH(MetafileFormat, format);
    QFETCH(QString, scene);
    QFETCH(QSize, size);

    QByteArray bytes;
    if (scene.startsWith("chart")) {
        auto plot = sample::makeChart(size, 255);
        bytes = sample::render(*plot, format);
    } else {
        bytes = paint(format, size, [&](QPainter &p) {
            if (scene == "many pens, brushes and fonts") {
                for (int i = 0; i < 40; ++i) {
                    p.setPen(QPen(kPalette[i % 6], 1 + i % 3));
                    p.setBrush(kPalette[(i + 1) % 6]);
                    QFont f = chartFont();
                    f.setPixelSize(10 + i % 5);
                    p.setFont(f);
                    p.drawLine(i, 0, 300 - i, 300);
                    p.drawRect(i * 5, i * 5, 20, 10);
                    p.drawText(10, 10 + i * 7, QStringLiteral("Bat%1 電圧").arg(i));
                }
            } else if (scene == "clipped and restored") {
                p.setPen(QPen(Qt::red, 2));
                for (int i = 0; i < 5; ++i) {
                    p.save();
                    p.setClipRect(20 * i, 10, 100, 80);
                    p.drawLine(0, 50, 300, 50 + i * 10);
                    p.restore();
                    p.drawLine(0, 150, 300, 150 - i * 10);
                }
            } else if (scene == "image") {
                QImage img(7, 5, QImage::Format_ARGB32);
                img.fill(QColor(0, 128, 255, 128));
                p.drawImage(QRect(10, 10, 70, 50), img);
                p.drawPixmap(100, 100, QPixmap::fromImage(img));
            } else if (scene == "polyline of 40000 points") {
                QPolygonF zigzag;
                for (int i = 0; i < 40000; ++i)
                    zigzag << QPointF(i * 0.007, i % 2 ? 290 : 10);
                p.setPen(QPen(Qt::blue, 1));
                p.drawPolyline(zigzag);
            } else if (scene == "shapes") {
                p.setPen(QPen(Qt::black, 0, Qt::DotLine));
                p.setBrush(QColor(255, 0, 0, 100));
                p.drawEllipse(QRectF(10, 10, 100, 60));
                QPainterPath path;
                path.addRect(150, 20, 100, 100);
                path.addEllipse(170, 40, 40, 40);
                p.drawPath(path);
                p.setBrush(Qt::NoBrush);
                p.drawPolyline(QPolygonF({QPointF(0, 299), QPointF(150, 150), QPointF(299, 299)}));
                p.rotate(10);
                p.fillRect(QRectF(50, 150, 80, 40), Qt::blue);
            }
        });
    }
    const mfread::Picture pic = read(format, bytes);
    QVERIFY2(pic.problems.isEmpty(), qPrintable(pic.problems.join("; ")));
    QCOMPARE(pic.sizePx, size);
    QVERIFY(pic.transparentText);
    if (format == MetafileFormat::Emf) {
        const QRect picture(QPoint(0, 0), size);
        if (scene == "nothing drawn")
            QVERIFY(pic.boundsPx.width() <= 1 && pic.boundsPx.height() <= 1);
        else
            QVERIFY2(picture.contains(pic.boundsPx),
                qPrintable(QStringLiteral("bounds %1,%2 %3x%4")
                               .arg(pic.boundsPx.x())
                               .arg(pic.boundsPx.y())
                               .arg(pic.boundsPx.width())
                               .arg(pic.boundsPx.height())));
        if (scene.startsWith("chart")) // white background over the whole picture
            QCOMPARE(pic.boundsPx, QRect(QPoint(0, 0), size));
    }
    if (scene == "image")
        QCOMPARE(pic.images, 2);
    if (scene == "polyline of 40000 points") {
        // Every point arrives, pieces joined end to start.
        QPolygon joined;
        for (const mfread::Stroke &s : pic.strokes) {
            if (!joined.isEmpty()) {
                QCOMPARE(s.points.first(), joined.last());
                joined.removeLast();
            }
            joined += s.points;
        }
        QCOMPARE(joined.size(), 40000);
    }
}

// Each row breaks one thing in a good file; the reader must notice, or the test
// above proves nothing.
void TestMetafile::readerFindsFaults_data()
{
    QTest::addColumn<MetafileFormat>("format");
    QTest::addColumn<QString>("fault");
    const auto emf = MetafileFormat::Emf, wmf = MetafileFormat::Wmf;
    QTest::newRow("emf record count one short") << emf << "nRecords-1";
    QTest::newRow("emf handle count one short") << emf << "nHandles-1";
    QTest::newRow("emf byte count wrong") << emf << "nBytes+4";
    QTest::newRow("emf without EOF") << emf << "drop EOF";
    QTest::newRow("emf select of a deleted pen") << emf << "select deleted";
    QTest::newRow("wmf checksum wrong") << wmf << "checksum";
    QTest::newRow("wmf object count one short") << wmf << "nObjects-1";
    QTest::newRow("wmf largest record one short") << wmf << "maxRecord-1";
    QTest::newRow("wmf without EOF") << wmf << "drop EOF";
    QTest::newRow("wmf size in words wrong") << wmf << "size+1";
}

void TestMetafile::readerFindsFaults()
{
    QFETCH(MetafileFormat, format);
    QFETCH(QString, fault);
    QByteArray b = paint(format, QSize(200, 100), [](QPainter &p) {
        p.setPen(QPen(Qt::red, 2));
        p.drawLine(0, 0, 100, 100);
        p.setPen(QPen(Qt::blue, 2));
        p.drawLine(0, 100, 100, 0);
        p.setFont(chartFont());
        p.drawText(10, 50, QStringLiteral("Bat1"));
    });
    QVERIFY(read(format, b).problems.isEmpty());

    auto u16at = [&](int off) { return qFromLittleEndian<quint16>(b.constData() + off); };
    auto u32at = [&](int off) { return qFromLittleEndian<quint32>(b.constData() + off); };
    auto set16 = [&](int off, quint16 v) { qToLittleEndian<quint16>(v, b.data() + off); };
    auto set32 = [&](int off, quint32 v) { qToLittleEndian<quint32>(v, b.data() + off); };
    if (fault == "nRecords-1")
        set32(52, u32at(52) - 1);
    else if (fault == "nHandles-1")
        set16(56, u16at(56) - 1);
    else if (fault == "nBytes+4")
        set32(48, u32at(48) + 4);
    else if (fault == "drop EOF")
        b.chop(format == MetafileFormat::Emf ? 20 : 6);
    else if (fault == "select deleted") {
        // Turn the first select of our own pen into a select of a slot never made.
        for (int off = 0; off < b.size(); off += int(u32at(off + 4))) {
            if (u32at(off) == 37 && !(u32at(off + 8) & 0x80000000u)) {
                set32(off + 8, 200);
                break;
            }
        }
    } else if (fault == "checksum")
        set16(20, u16at(20) ^ 1);
    else if (fault == "nObjects-1")
        set16(22 + 10, u16at(22 + 10) - 1);
    else if (fault == "maxRecord-1")
        set16(22 + 12, u16at(22 + 12) - 1);
    else if (fault == "size+1")
        set16(22 + 6, u16at(22 + 6) + 1);
    else
        QFAIL("unknown fault");
    QVERIFY(!read(format, b).problems.isEmpty());
}

// ------------------------------------------------------------------ chart content

void TestMetafile::chartContent_data()
{
    QTest::addColumn<MetafileFormat>("format");
    QTest::newRow("emf") << MetafileFormat::Emf;
    QTest::newRow("wmf") << MetafileFormat::Wmf;
}

void TestMetafile::chartContent()
{
    QFETCH(MetafileFormat, format);
    auto plot = sample::makeChart(QSize(600, 300), 255);
    const mfread::Picture pic = read(format, sample::render(*plot, format));
    QVERIFY2(pic.problems.isEmpty(), qPrintable(pic.problems.join("; ")));

    // Each series: a long polyline (the curve) and a short one (the legend's line),
    // in its colour, two pixels wide.
    for (int s = 0; s < 4; ++s) {
        const QColor want = sample::kSeriesColors[s];
        int longest = 0, count = 0;
        for (const mfread::Stroke &st : pic.strokes) {
            if (st.color != want || st.closed)
                continue;
            ++count;
            longest = std::max(longest, int(st.points.size()));
            QCOMPARE(qRound(st.width / pic.unitsPerPixel), 2);
        }
        QVERIFY2(count >= 2, qPrintable(want.name()));
        QVERIFY2(longest >= 100, qPrintable(QStringLiteral("%1: %2 points").arg(want.name()).arg(longest)));
    }

    // Each legend entry's line, just left of its title, is in that series' colour.
    for (int s = 0; s < 4; ++s) {
        const QString title = QStringLiteral("Bat%1").arg(s + 1);
        auto t
            = std::find_if(pic.texts.begin(), pic.texts.end(), [&](const mfread::Text &x) { return x.text == title; });
        QVERIFY2(t != pic.texts.end(), qPrintable(title));
        const QPointF ref = QPointF(t->ref) / pic.unitsPerPixel;
        const mfread::Stroke *nearest = nullptr;
        double best = 1e9;
        for (const mfread::Stroke &st : pic.strokes) {
            if (st.closed || st.points.size() != 2)
                continue;
            const QPolygonF pts = inPixels(st, pic.unitsPerPixel);
            if (pts.boundingRect().right() > ref.x() || ref.x() - pts.boundingRect().right() > 20)
                continue;
            const double dy = std::abs(pts.first().y() - (ref.y() - 5));
            if (dy < best) {
                best = dy;
                nearest = &st;
            }
        }
        QVERIFY2(nearest && best < 8, qPrintable(title + " has no legend line"));
        QCOMPARE(nearest->color, sample::kSeriesColors[s]);
    }

    // The texts, all in the chart's font, black, in the Shift-JIS character set.
    QStringList texts;
    for (const mfread::Text &t : pic.texts) {
        texts << t.text;
        QCOMPARE(t.face, QStringLiteral("ＭＳ Ｐ明朝"));
        QCOMPARE(qRound(-t.height / pic.unitsPerPixel), 15);
        QCOMPARE(t.charset, 128);
        QCOMPARE(t.color, QColor(Qt::black));
    }
    for (const char *want : {"電圧", "Bat1", "Bat2", "Bat3", "Bat4", "1.00"})
        QVERIFY2(texts.contains(QString::fromUtf8(want)),
            qPrintable(QString::fromUtf8(want) + " missing from: " + texts.join(",")));
    const QRegularExpression label(QStringLiteral("^\\d\\.\\d\\d$"));
    QVERIFY(texts.filter(label).size() >= 5);

    // The axis title reads upwards; the others run left to right.
    for (const mfread::Text &t : pic.texts) {
        const int want = t.text == QStringLiteral("電圧") ? 900 : 0;
        QCOMPARE(t.escapement, want);
        QCOMPARE(t.orientation, want);
    }

    // Advances add up to the text's width as laid out by Qt, and put nothing on a
    // trail byte.
    const QFontMetricsF fm(chartFont());
    for (const mfread::Text &t : pic.texts) {
        if (t.text != QStringLiteral("電圧") && t.text != QStringLiteral("Bat3"))
            continue;
        int sum = 0;
        for (int d : t.dx)
            sum += d;
        QVERIFY2(std::abs(sum / pic.unitsPerPixel - fm.horizontalAdvance(t.text)) <= 1.0, qPrintable(t.text));
        if (format == MetafileFormat::Wmf && t.text == QStringLiteral("電圧")) {
            QCOMPARE(t.dx.size(), 4);
            QCOMPARE(t.dx.at(1), 0);
            QCOMPARE(t.dx.at(3), 0);
            QVERIFY(t.dx.at(0) > 0 && t.dx.at(2) > 0);
        } else {
            QCOMPARE(t.dx.size(), t.text.size());
        }
    }
}

// ------------------------------------------------------------------ objects

// Colours are drawn in the order listed, each as a line; "T" draws a text in
// between, which takes an object slot too. The colours read back must be the
// ones drawn: a writer whose slot numbers drift from the reader's lowest-free rule
// selects the wrong pen.
void TestMetafile::objectSlotsFollowSelections_data()
{
    QTest::addColumn<MetafileFormat>("format");
    QTest::addColumn<QString>("sequence");
    for (auto [fmt, tag] : {std::pair{MetafileFormat::Emf, "emf"}, {MetafileFormat::Wmf, "wmf"}}) {
        QTest::newRow(qPrintable(QStringLiteral("%1 four colours").arg(tag))) << fmt << "0123";
        QTest::newRow(qPrintable(QStringLiteral("%1 back and forth").arg(tag))) << fmt << "0101010";
        QTest::newRow(qPrintable(QStringLiteral("%1 texts between").arg(tag))) << fmt << "0T1T2T0T3";
        QTest::newRow(qPrintable(QStringLiteral("%1 fills between").arg(tag))) << fmt << "0F1F2F3F45";
    }
}

void TestMetafile::objectSlotsFollowSelections()
{
    QFETCH(MetafileFormat, format);
    QFETCH(QString, sequence);
    QVector<QColor> drawn;
    const QByteArray bytes = paint(format, QSize(200, 200), [&](QPainter &p) {
        int y = 5;
        for (QChar c : sequence) {
            if (c == 'T') {
                QFont f = chartFont();
                f.setPixelSize(10 + y % 7);
                p.setFont(f);
                p.drawText(5, y, QStringLiteral("x"));
            } else if (c == 'F') {
                p.fillRect(QRect(100, y, 20, 3), kPalette[y % 6]);
            } else {
                const QColor col = kPalette[c.digitValue()];
                p.setPen(QPen(col, 1));
                p.drawLine(0, y, 90, y);
                drawn << col;
            }
            y += 10;
        }
    });
    const mfread::Picture pic = read(format, bytes);
    QVERIFY2(pic.problems.isEmpty(), qPrintable(pic.problems.join("; ")));
    QVector<QColor> got;
    for (const mfread::Stroke &s : pic.strokes)
        if (!s.closed)
            got << s.color;
    QCOMPARE(got, drawn);
}

// ------------------------------------------------------------------ geometry

void TestMetafile::geometry_data()
{
    QTest::addColumn<MetafileFormat>("format");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QLineF>("line");
    QTest::addColumn<QPolygonF>("expected"); // empty: nothing drawn

    for (auto [fmt, tag] : {std::pair{MetafileFormat::Emf, "emf"}, {MetafileFormat::Wmf, "wmf"}}) {
        auto row = [&](const char *name, const char *setup, QLineF line, QPolygonF want) {
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(tag, name))) << fmt << QString(setup) << line << want;
        };
        row("plain", "", QLineF(10, 20, 110, 70), QPolygonF({{10, 20}, {110, 70}}));
        row("half pixels kept", "", QLineF(10.5, 20.25, 110.5, 70.75), QPolygonF({{10.5, 20.25}, {110.5, 70.75}}));
        row("translated", "translate", QLineF(10, 20, 110, 70), QPolygonF({{15, 27}, {115, 77}}));
        row("scaled", "scale", QLineF(10, 20, 110, 70), QPolygonF({{20, 60}, {220, 210}}));
        row("cut at the picture's edge", "", QLineF(100, 100, 400, 250), QPolygonF({{100, 100}, {300, 200}}));
        row("rotated", "rotate", QLineF(0, 0, 50, 0), QPolygonF({{100, 100}, {100, 150}}));
        row("clipped at both ends", "clip", QLineF(0, 50, 200, 50), QPolygonF({{20, 50}, {70, 50}}));
        row("clipped out", "clip", QLineF(0, 150, 200, 150), QPolygonF());
        row("clip gone after restore", "clip then restore", QLineF(0, 50, 200, 50), QPolygonF({{0, 50}, {200, 50}}));
        row("clip under a transform", "translate then clip", QLineF(0, 50, 200, 50), QPolygonF({{25, 57}, {75, 57}}));
        row("far outside the picture", "", QLineF(-100000, 10, 100000, 10), QPolygonF({{0, 10}, {300, 10}}));
    }
}

void TestMetafile::geometry()
{
    QFETCH(MetafileFormat, format);
    QFETCH(QString, setup);
    QFETCH(QLineF, line);
    QFETCH(QPolygonF, expected);
    const QByteArray bytes = paint(format, QSize(300, 300), [&](QPainter &p) {
        p.setPen(QPen(Qt::red, 1));
        if (setup == "translate")
            p.translate(5, 7);
        else if (setup == "scale")
            p.scale(2, 3);
        else if (setup == "rotate") {
            p.translate(100, 100);
            p.rotate(90);
        } else if (setup == "clip")
            p.setClipRect(QRect(20, 0, 50, 100));
        else if (setup == "translate then clip") {
            p.translate(5, 7);
            p.setClipRect(QRect(20, 0, 50, 100));
        } else if (setup == "clip then restore") {
            p.save();
            p.setClipRect(QRect(20, 0, 50, 100));
            p.restore();
        }
        p.drawLine(line);
    });
    const mfread::Picture pic = read(format, bytes);
    QVERIFY2(pic.problems.isEmpty(), qPrintable(pic.problems.join("; ")));
    QVector<mfread::Stroke> red;
    for (const mfread::Stroke &s : pic.strokes)
        if (s.color == QColor(Qt::red))
            red << s;
    if (expected.isEmpty()) {
        QVERIFY(red.isEmpty());
        return;
    }
    QCOMPARE(red.size(), 1);
    const QPolygonF got = inPixels(red.first(), pic.unitsPerPixel);
    QCOMPARE(got.size(), expected.size());
    // Within a logical unit of the exact place.
    const double tolerance = 1.0 / pic.unitsPerPixel + 1e-9;
    for (int i = 0; i < got.size(); ++i)
        QVERIFY2(QLineF(got.at(i), expected.at(i)).length() <= tolerance,
            qPrintable(QStringLiteral("point %1: %2,%3").arg(i).arg(got.at(i).x()).arg(got.at(i).y())));
}

// ------------------------------------------------------------------ text

void TestMetafile::textDirection_data()
{
    QTest::addColumn<MetafileFormat>("format");
    QTest::addColumn<double>("rotation"); // QPainter degrees, clockwise on screen
    QTest::addColumn<int>("escapement"); // tenths, counter-clockwise
    for (auto [fmt, tag] : {std::pair{MetafileFormat::Emf, "emf"}, {MetafileFormat::Wmf, "wmf"}}) {
        auto row = [&](const char *name, double r, int e) {
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(tag, name))) << fmt << r << e;
        };
        row("level", 0, 0);
        row("upwards like the axis title", -90, 900);
        row("downwards", 90, 2700);
        row("slanted", 30, 3300);
    }
}

void TestMetafile::textDirection()
{
    QFETCH(MetafileFormat, format);
    QFETCH(double, rotation);
    QFETCH(int, escapement);
    const QByteArray bytes = paint(format, QSize(200, 200), [&](QPainter &p) {
        p.setFont(chartFont());
        p.translate(100, 100);
        p.rotate(rotation);
        p.drawText(0, 0, QStringLiteral("電圧"));
    });
    const mfread::Picture pic = read(format, bytes);
    QVERIFY2(pic.problems.isEmpty(), qPrintable(pic.problems.join("; ")));
    QCOMPARE(pic.texts.size(), 1);
    QCOMPARE(pic.texts.first().escapement, escapement);
    QCOMPARE(pic.texts.first().orientation, escapement);
    // The reference point is where the painter put the baseline's start.
    QCOMPARE(QPointF(pic.texts.first().ref) / pic.unitsPerPixel, QPointF(100, 100));
}

void TestMetafile::textEncoding_data()
{
    QTest::addColumn<MetafileFormat>("format");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("emf japanese") << MetafileFormat::Emf << "放電電圧"
                                  << "放電電圧";
    QTest::newRow("wmf japanese") << MetafileFormat::Wmf << "放電電圧"
                                  << "放電電圧";
    QTest::newRow("emf half-width katakana") << MetafileFormat::Emf << "ｶﾅ1"
                                             << "ｶﾅ1";
    QTest::newRow("wmf half-width katakana") << MetafileFormat::Wmf << "ｶﾅ1"
                                             << "ｶﾅ1";
    QTest::newRow("emf outside code page 932") << MetafileFormat::Emf << "aé€b"
                                               << "aé€b";
    QTest::newRow("wmf outside code page 932") << MetafileFormat::Wmf << "aé€b"
                                               << "a??b";
    QTest::newRow("emf beyond the BMP") << MetafileFormat::Emf << "x\U0001F50Bx"
                                        << "x\U0001F50Bx";
    QTest::newRow("wmf beyond the BMP") << MetafileFormat::Wmf << "x\U0001F50Bx"
                                        << "x?x";
}

void TestMetafile::textEncoding()
{
    QFETCH(MetafileFormat, format);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const QByteArray bytes = paint(format, QSize(300, 100), [&](QPainter &p) {
        p.setFont(chartFont());
        p.drawText(10, 50, text);
    });
    const mfread::Picture pic = read(format, bytes);
    QVERIFY2(pic.problems.isEmpty(), qPrintable(pic.problems.join("; ")));
    QString got;
    for (const mfread::Text &t : pic.texts)
        got += t.text;
    QCOMPARE(got, expected);
}

void TestMetafile::faceName_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("expected");
    QTest::newRow("substitute of the MS name") << "IPAPMincho"
                                               << "ＭＳ Ｐ明朝";
    QTest::newRow("substitute, other case") << "ipapgothic"
                                            << "ＭＳ Ｐゴシック";
    QTest::newRow("the MS name itself") << "ＭＳ Ｐ明朝"
                                        << "ＭＳ Ｐ明朝";
    QTest::newRow("a font nobody substitutes") << "DejaVu Sans"
                                               << "DejaVu Sans";
}

void TestMetafile::faceName()
{
    QFETCH(QString, family);
    QFETCH(QString, expected);
    QCOMPARE(metafileFaceName(family), expected);
}

// ------------------------------------------------------------------ files

void TestMetafile::hostileDrawing_data()
{
    QTest::addColumn<MetafileFormat>("format");
    QTest::addColumn<QString>("scene");
    QTest::addColumn<bool>("drawn"); // something red reaches the file
    for (auto [fmt, tag] : {std::pair{MetafileFormat::Emf, "emf"}, {MetafileFormat::Wmf, "wmf"}}) {
        for (auto [name, drawn] :
            {std::pair{"infinite point", false}, {"scale overflows", false}, {"NaN transform", false},
                {"text beyond 32 bits", false}, {"image beyond 32 bits", false}, {"rectangle beyond 32 bits", true},
                {"huge pen", true}, {"polygon of 40000 points", true}, {"long text", true}})
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(tag, name))) << fmt << QString(name) << drawn;
    }
}

void TestMetafile::hostileDrawing()
{
    QFETCH(MetafileFormat, format);
    QFETCH(QString, scene);
    QFETCH(bool, drawn);
    const double inf = std::numeric_limits<double>::infinity();
    const QByteArray bytes = paint(format, QSize(300, 200), [&](QPainter &p) {
        p.setPen(QPen(Qt::red, scene == "huge pen" ? 1e12 : 1));
        p.setFont(chartFont());
        QImage img(4, 4, QImage::Format_RGB32);
        img.fill(Qt::red);
        QPolygonF poly;
        for (int i = 0; i < 40000; ++i)
            poly << QPointF(
                150 + 90 * std::cos(i * 2 * M_PI / 40000) + i % 2 * 0.5, 100 + 90 * std::sin(i * 2 * M_PI / 40000));
        if (scene == "scale overflows")
            p.setWorldTransform(QTransform::fromScale(1e300, 1e300) * QTransform::fromScale(1e300, 1e300));
        if (scene == "NaN transform")
            p.setWorldTransform(QTransform(std::nan(""), 0, 0, 1, 0, 0));
        if (scene == "infinite point" || scene == "huge pen" || scene == "scale overflows")
            p.drawLine(QPointF(0.5, 10), QPointF(scene == "infinite point" ? inf : 100, 10));
        if (scene == "NaN transform") {
            p.drawRect(QRectF(10, 10, 50, 50));
            p.drawEllipse(QRectF(10, 10, 50, 50));
        }
        if (scene == "text beyond 32 bits" || scene == "long text")
            p.drawText(
                QPointF(scene == "long text" ? 0 : -5e9, 50), QString(scene == "long text" ? 40000 : 8, QChar(0x3042)));
        if (scene == "image beyond 32 bits")
            p.drawImage(QRectF(-3e9, -3e9, 6e9, 6e9), img);
        if (scene == "rectangle beyond 32 bits")
            p.drawRect(QRectF(-1e12, 20, 2e12, 100));
        if (scene == "polygon of 40000 points")
            p.drawPolygon(poly);
    });
    const mfread::Picture pic = read(format, bytes);
    QVERIFY2(pic.problems.isEmpty(), qPrintable(pic.problems.join("; ")));
    bool red = !pic.texts.isEmpty() || pic.images > 0;
    for (const mfread::Stroke &st : pic.strokes) {
        red = red || st.color == QColor(Qt::red);
        QVERIFY(format == MetafileFormat::Emf || st.points.size() <= 32767);
    }
    QCOMPARE(red, drawn);
}

void TestMetafile::zeroWidthLinesCountInBounds_data()
{
    QTest::addColumn<QLineF>("line");
    QTest::newRow("horizontal") << QLineF(10, 50, 200, 50);
    QTest::newRow("vertical") << QLineF(40, 20, 40, 150);
    QTest::newRow("a dot") << QLineF(70, 70, 70, 70);
}

void TestMetafile::zeroWidthLinesCountInBounds()
{
    QFETCH(QLineF, line);
    const QByteArray bytes = paint(MetafileFormat::Emf, QSize(300, 200), [&](QPainter &p) {
        p.setPen(QPen(Qt::red, 0));
        p.drawLine(line);
    });
    const mfread::Picture pic = read(MetafileFormat::Emf, bytes);
    QVERIFY2(pic.problems.isEmpty(), qPrintable(pic.problems.join("; ")));
    QVERIFY(pic.boundsPx.contains(line.p1().toPoint()) && pic.boundsPx.contains(line.p2().toPoint()));
}

void TestMetafile::fileWriting_data()
{
    QTest::addColumn<MetafileFormat>("format");
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("succeeds");
    for (auto [fmt, tag] : {std::pair{MetafileFormat::Emf, "emf"}, {MetafileFormat::Wmf, "wmf"}}) {
        auto row = [&](const char *name, const char *where, bool ok) {
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(tag, name))) << fmt << QString(where) << ok;
        };
        row("new file", "new", true);
        row("over an old file", "existing", true);
        row("folder missing", "missing folder", false);
        row("name is a folder", "folder", false);
        row("folder is a file", "under a file", false);
        row("painting fails", "paint throws", false);
    }
}

void TestMetafile::fileWriting()
{
    QFETCH(MetafileFormat, format);
    QFETCH(QString, where);
    QFETCH(bool, succeeds);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath("chart.mf");
    const QByteArray old("old contents");
    if (where == "existing" || where == "paint throws") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(old);
    } else if (where == "missing folder") {
        path = dir.filePath("no/such/chart.mf");
    } else if (where == "folder") {
        QVERIFY(QDir(dir.path()).mkdir("chart.mf"));
    } else if (where == "under a file") {
        QFile f(dir.filePath("plain"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        path = dir.filePath("plain/chart.mf");
    }

    bool threw = false;
    try {
        writeMetafile(path, format, QSize(120, 80), [&](QPainter &p) {
            p.setPen(Qt::blue);
            p.drawLine(0, 0, 100, 50);
            if (where == "paint throws")
                throw std::runtime_error("drawing failed");
        });
    } catch (const std::runtime_error &e) {
        threw = true;
        QVERIFY(QString::fromUtf8(e.what()).size() > 0);
    }
    QCOMPARE(threw, !succeeds);

    QFileInfo info(path);
    if (succeeds) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const mfread::Picture pic = read(format, f.readAll());
        QVERIFY2(pic.problems.isEmpty(), qPrintable(pic.problems.join("; ")));
        QCOMPARE(pic.sizePx, QSize(120, 80));
    } else if (where == "paint throws") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), old);
    } else if (where == "folder") {
        QVERIFY(info.isDir());
    } else {
        QVERIFY(!info.exists());
    }
    // No temporary left beside it either.
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    for (const QString &name : left)
        QVERIFY2(name == "chart.mf" || name == "plain", qPrintable(name));
}

QTEST_MAIN(TestMetafile)
#include "tst_metafile.moc"
