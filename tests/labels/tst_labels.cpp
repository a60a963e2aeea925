// The labels as others read them: the PDF rendered by pdftoppm and each code
// read back by zbarimg, the text by pdftotext; a drawn label's ink against
// its layout and its box; the refusals.
#include "core/SafeWrite.h"
#include "labels/LabelPrint.h"

#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace labels;

Q_DECLARE_METATYPE(labels::Symbology)
Q_DECLARE_METATYPE(labels::LabelContent)

namespace {

constexpr double PxPerMm = 300 / 25.4;

// The program's output; "<program failed>" unless it ends with one of the statuses.
QString run(const QString &program, const QStringList &args, QList<int> success = {0})
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(120000) || !success.contains(p.exitCode()))
        return QStringLiteral("<%1 failed>").arg(program);
    return QString::fromUtf8(p.readAllStandardOutput());
}

LabelContent cell(const QString &code)
{
    LabelContent c;
    c.code = code;
    c.capacity = 2450;
    c.grade = QStringLiteral("不良");
    c.lastRun = QDate(2024, 5, 1);
    c.resistance = 38.5;
    return c;
}

// What zbarimg reads in each file, "|" between several codes, "" where it finds none. One run a file: its XML
// output, which would name the file, spoils any byte over 0x7F.
QStringList decoded(const QStringList &files, Symbology symbology)
{
    QStringList out;
    const QString only = symbology == Symbology::Qr ? "-Sqrcode.enable" : "-Scode128.enable";
    for (const QString &f : files) // status 4: nothing found
        out << run("zbarimg", {"--raw", "-q", "-Sdisable", only, f}, {0, 4}).split('\n', Qt::SkipEmptyParts).join('|');
    return out;
}

QRect pixels(const QRectF &mm)
{
    return QRectF(mm.topLeft() * PxPerMm, mm.size() * PxPerMm).toRect();
}

} // namespace

class TestLabels : public QObject
{
    Q_OBJECT
private slots:
    void readBack_data();
    void readBack();
    void layout_data();
    void layout();
    void droppedLines_data();
    void droppedLines();
    void refused_data();
    void refused();
    void sizesAndNames();
    void pngFiles();
};

void TestLabels::readBack_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<Symbology>("symbology");
    QTest::addColumn<QStringList>("codes");
    QTest::addColumn<int>("pages");
    QStringList more;
    for (int i = 1; i <= 66; ++i)
        more << QStringLiteral("C-%1").arg(i, 4, 10, QLatin1Char('0'));
    const QStringList sheet = more.mid(0, 65);
    QStringList kana = sheet;
    kana[0] = QStringLiteral("セル甲-7");
    kana[64] = QStringLiteral("電池 b/12");
    const QStringList three{"A1", "NCR18650-17", "C-0100"};
    QTest::newRow("a4-65 QR, a full sheet") << "a4-65" << Symbology::Qr << kana << 1;
    QTest::newRow("a4-65 Code 128, a full sheet") << "a4-65" << Symbology::Code128 << sheet << 1;
    QTest::newRow("a4-65 QR, a sheet and one") << "a4-65" << Symbology::Qr << more << 2;
    for (const char *size : {"roll-62x29", "tape-24", "tape-12"}) {
        QTest::addRow("%s QR", size) << QString(size) << Symbology::Qr << three << 3;
        QTest::addRow("%s Code 128", size) << QString(size) << Symbology::Code128 << three << 3;
    }
}

void TestLabels::readBack()
{
    QFETCH(QString, size);
    QFETCH(Symbology, symbology);
    QFETCH(QStringList, codes);
    QFETCH(int, pages);
    const LabelSize &ls = *FindLabelSize(size);
    QList<LabelContent> contents;
    for (const QString &c : codes)
        contents.append(cell(c));
    QTemporaryDir dir;
    const QString pdf = dir.filePath("labels.pdf");
    WriteLabelsPdf(pdf, contents, ls, symbology);
    run("pdftoppm", {"-r", "300", "-gray", "-png", pdf, dir.filePath("page")});
    const QStringList rendered = QDir(dir.path()).entryList({"page-*.png"}, QDir::Files, QDir::Name);
    QCOMPARE(rendered.size(), pages);
    // A sheet is cut into its labels, so each read names its label; a roll's or tape's page is one label.
    QStringList crops;
    for (int page = 0; page < pages; ++page) {
        const QString file = dir.filePath(rendered.at(page));
        if (ls.labelsPerPage() == 1) {
            crops << file;
            continue;
        }
        const QImage image(file);
        for (int i = 0; i < ls.labelsPerPage() && crops.size() < codes.size(); ++i) {
            crops << dir.filePath(QStringLiteral("label-%1.png").arg(crops.size()));
            QVERIFY(image.copy(pixels(LabelRectOnPage(ls, i))).save(crops.last()));
        }
    }
    QCOMPARE(decoded(crops, symbology), codes);
}

void TestLabels::layout_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<Symbology>("symbology");
    for (const LabelSize &s : LabelSizes()) {
        for (Symbology y : Symbologies())
            QTest::addRow("%s %s", qPrintable(s.name), qPrintable(SymbologyTitle(y))) << s.name << y;
    }
}

void TestLabels::layout()
{
    QFETCH(QString, size);
    QFETCH(Symbology, symbology);
    const LabelSize &ls = *FindLabelSize(size);
    const LabelLayout l = LayOutLabel(cell(QStringLiteral("B-0042")), ls, symbology);
    QCOMPARE(l.size, QSizeF(ls.isTape() ? l.size.width() : ls.label.width(), ls.label.height()));
    const QRectF label(QPointF(), l.size);
    const QRectF inside = label.marginsRemoved(ls.margins);
    QVERIFY(label.contains(l.quietRect));
    QVERIFY(inside.contains(l.symbolRect));
    QVERIFY2(l.moduleMm >= 0.25, qPrintable(QString::number(l.moduleMm)));
    for (int i = 0; i < l.lines.size(); ++i) {
        const TextLine &t = l.lines.at(i);
        QVERIFY2(inside.contains(t.rect) && !t.rect.intersects(l.quietRect), qPrintable(t.text));
        QVERIFY(t.pointSize >= MinPointSize);
        QVERIFY(i == 0 || t.rect.top() >= l.lines.at(i - 1).rect.bottom() - 1e-9);
    }

    // The ink, drawn at 300 dpi in a white border: the code's modules fill whole pixels, and nothing lies
    // outside the code and the lines' boxes, the quiet zone blank (give or take a pixel of smoothing, and the
    // half pixel the code's corner may move to lie on one).
    const double snap = 0.5 / PxPerMm;
    const QPoint border(30, 30);
    QImage image(pixels(label).size() + QSize(60, 60), QImage::Format_Grayscale8);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        p.scale(PxPerMm, PxPerMm);
        PaintLabel(p, l, QPointF(border) / PxPerMm);
    }
    QRect code;
    int stray = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y).value() == 255)
                continue;
            const QPointF mm = QPointF(QPoint(x, y) - border) / PxPerMm;
            if (l.symbolRect.adjusted(-snap, -snap, snap, snap).contains(mm)) {
                code |= QRect(x, y, 1, 1);
                continue;
            }
            stray += std::none_of(l.lines.begin(), l.lines.end(),
                [&](const TextLine &t) { return t.rect.adjusted(-0.1, -0.1, 0.1, 0.1).contains(mm); });
        }
    }
    QCOMPARE(stray, 0);
    const int module = qRound(l.moduleMm * PxPerMm);
    QVERIFY(module >= 3);
    QCOMPARE(code.width(), l.symbol.columns * module);
    QCOMPARE(code.height(), l.symbol.linear ? qRound(l.symbolRect.height() * PxPerMm) : l.symbol.rows * module);
}

void TestLabels::droppedLines_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<LabelContent>("content");
    QTest::addColumn<bool>("drops");
    LabelContent bare;
    bare.code = QStringLiteral("X-9");
    QTest::newRow("tape-12, every line") << "tape-12" << cell("X-9") << true;
    QTest::newRow("tape-12, the label only") << "tape-12" << bare << false;
    QTest::newRow("a4-65, every line") << "a4-65" << cell("X-9") << false;
    QTest::newRow("roll-62x29, every line") << "roll-62x29" << cell("X-9") << false;
}

void TestLabels::droppedLines()
{
    QFETCH(QString, size);
    QFETCH(LabelContent, content);
    QFETCH(bool, drops);
    const LabelLayout l = LayOutLabel(content, *FindLabelSize(size), Symbology::Qr);
    QCOMPARE(!l.dropped.isEmpty(), drops);
    QCOMPARE(l.dropped, DropOrder().mid(0, l.dropped.size()));
    const QMap<Line, QString> shows{{Line::Label, "X-9"}, {Line::Capacity, "2450"}, {Line::Grade, "不良"},
        {Line::Resistance, "38.5"}, {Line::Date, "2024-05-01"}};
    QTemporaryDir dir;
    WriteLabelsPdf(dir.filePath("l.pdf"), {content}, *FindLabelSize(size), Symbology::Qr);
    const QString read = run("pdftotext", {"-enc", "UTF-8", dir.filePath("l.pdf"), "-"});
    QVERIFY(run("pdffonts", {dir.filePath("l.pdf")}).contains("IPAGothic"));
    QList<Line> shown;
    std::transform(l.lines.begin(), l.lines.end(), std::back_inserter(shown), [](const TextLine &t) { return t.line; });
    for (auto it = shows.begin(); it != shows.end(); ++it) {
        // The rows give every line or the label's alone.
        const bool given = it.key() == Line::Label || content.capacity;
        QCOMPARE(shown.contains(it.key()), given && !l.dropped.contains(it.key()));
        QVERIFY2(read.contains(it.value()) == shown.contains(it.key()), qPrintable(read + " / " + it.value()));
    }
}

void TestLabels::refused_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<Symbology>("symbology");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("reason");
    const QString longLabel = QStringLiteral("cell-2024-spring-panasonic-ncr18650b-pack-seven-position-017");
    QTest::newRow("too long for tape-12")
        << "tape-12" << Symbology::Qr << longLabel
        << QStringLiteral("「%1」の QR は tape-12 に収まりません（モジュール 0.254 mm で10.4 × 10.4 mm）")
               .arg(longLabel);
    QTest::newRow("too wide for a4-65")
        << "a4-65" << Symbology::Code128 << "NCR18650B-2024-0017"
        << QStringLiteral(
               "「NCR18650B-2024-0017」の Code 128 は a4-65 に収まりません（モジュール 0.254 mm で幅 64.3 mm）");
    QTest::newRow("kana in Code 128") << "roll-62x29" << Symbology::Code128 << QStringLiteral("セル甲")
                                      << QStringLiteral("「セル甲」は Code 128 で表せない文字を含みます");
    QTest::newRow("no code") << "roll-62x29" << Symbology::DataMatrix << QString()
                             << QStringLiteral("Data Matrix にする文字がありません");
}

void TestLabels::refused()
{
    QFETCH(QString, size);
    QFETCH(Symbology, symbology);
    QFETCH(QString, code);
    QFETCH(QString, reason);
    const LabelSize &ls = *FindLabelSize(size);
    QCOMPARE(RefusalReason(cell(code), ls, symbology), reason);
    QVERIFY(RefusalReason(cell("OK-1"), ls, symbology).isEmpty());
    // One refused label stops the whole file before anything is written, with the same reason.
    QTemporaryDir dir;
    const QString path = dir.filePath("labels.pdf");
    try {
        WriteLabelsPdf(path, {cell("OK-1"), cell(code)}, ls, symbology);
        QFAIL("written");
    } catch (const LabelError &e) {
        QCOMPARE(QString::fromUtf8(e.what()), reason);
    }
    QVERIFY_THROWS_EXCEPTION(LabelError, WriteLabelsPng(path, {cell("OK-1"), cell(code)}, ls, symbology));
    QVERIFY(QDir(dir.path()).isEmpty());
    QVERIFY_THROWS_EXCEPTION(LabelError, LabelsPdf({}, ls, symbology));
}

void TestLabels::sizesAndNames()
{
    QCOMPARE(LabelSizeNames(), QStringList({"a4-65", "roll-62x29", "tape-24", "tape-12"}));
    QCOMPARE(FindLabelSize("TAPE-12")->label.height(), 12.0);
    QVERIFY(FindLabelSize("a4") == nullptr);
    QCOMPARE(FindSymbology("Code 128"), Symbology::Code128);
    QCOMPARE(FindSymbology("data-matrix"), Symbology::DataMatrix);
    QVERIFY(!FindSymbology("ean13"));

    const LabelSize &a4 = *FindLabelSize("a4-65");
    for (int i = 0; i < a4.labelsPerPage(); ++i) {
        const QRectF r = LabelRectOnPage(a4, i);
        QCOMPARE(r.size(), QSizeF(38.1, 21.2));
        QVERIFY2(QRectF(QPointF(4, 10), QSizeF(202, 277)).contains(r), qPrintable(QString::number(i)));
        for (int j = 0; j < i; ++j)
            QVERIFY(r.intersected(LabelRectOnPage(a4, j)).height() < 1e-9);
    }
    QCOMPARE(PageCount(a4, 65), 1);
    QCOMPARE(PageCount(a4, 131), 3);
    QCOMPARE(PageCount(*FindLabelSize("tape-24"), 4), 4);
    QCOMPARE(PngPaths("out/l.png", 10).mid(8), QStringList({"out/l-09.png", "out/l-10.png"}));
}

void TestLabels::pngFiles()
{
    const LabelSize &roll = *FindLabelSize("roll-62x29");
    QTemporaryDir dir;
    const QStringList paths
        = WriteLabelsPng(dir.filePath("cells.png"), {cell("R-1"), cell("R-2")}, roll, Symbology::Qr);
    QCOMPARE(paths, QStringList({dir.filePath("cells-1.png"), dir.filePath("cells-2.png")}));
    QCOMPARE(QImage(paths.last()).size(), QSize(732, 343)); // 62 × 29 mm at 300 dpi
    QCOMPARE(decoded(paths, Symbology::Qr), QStringList({"R-1", "R-2"}));
    const QString one = dir.filePath("one.png");
    QCOMPARE(WriteLabelsPng(one, {cell("R-3")}, roll, Symbology::Qr), QStringList{one});
    QVERIFY_THROWS_EXCEPTION(
        safewrite::WriteError, WriteLabelsPng(dir.filePath("no/such.png"), {cell("R-4")}, roll, Symbology::Qr));
}

QTEST_MAIN(TestLabels)
#include "tst_labels.moc"
