// The chart's metafiles opened by readers we did not write: libwmf's wmf2svg,
// emf2svg-conv and LibreOffice. They must read the files without error and find
// the four curves in their colours and the chart's texts.

#include "picture/MetafileGenerator.h"
#include "tests/picture/SampleChart.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run {
    bool started = false;
    int exitCode = -1;
    QString output;
};

Run run(const QString &program, const QStringList &args, const QProcessEnvironment &env, int timeoutMs)
{
    Run r;
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(20000))
        return r;
    r.started = true;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.output = "timed out";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.output = QString::fromLocal8Bit(p.readAll());
    return r;
}

// Longest stroked path or polyline (in coordinate pairs) per stroke colour.
QHash<QRgb, int> strokes(const QString &svg)
{
    QHash<QRgb, int> longest;
    static const QRegularExpression element(QStringLiteral("<(path|polyline|line)\\b[^>]*>"));
    static const QRegularExpression stroke(QStringLiteral("stroke\\s*[:=]\\s*\"?\\s*(#[0-9A-Fa-f]{6}|[a-zA-Z]+)"));
    static const QRegularExpression pair(QStringLiteral("-?\\d+(\\.\\d+)?\\s*,\\s*-?\\d+(\\.\\d+)?"));
    for (auto it = element.globalMatch(svg); it.hasNext();) {
        const QString el = it.next().captured(0);
        const auto s = stroke.match(el);
        if (!s.hasMatch() || s.captured(1) == QLatin1String("none"))
            continue;
        const QColor c = QColor::fromString(s.captured(1));
        if (!c.isValid())
            continue;
        int pairs = 0;
        for (auto p = pair.globalMatch(el); p.hasNext(); p.next())
            ++pairs;
        longest[c.rgb()] = std::max(longest.value(c.rgb()), pairs);
    }
    return longest;
}

// The texts' contents in document order, CDATA wrappers removed.
QStringList texts(const QString &svg)
{
    QStringList out;
    static const QRegularExpression text(
        QStringLiteral("<text\\b[^>]*>(.*?)</text>"), QRegularExpression::DotMatchesEverythingOption);
    for (auto it = text.globalMatch(svg); it.hasNext();) {
        QString t = it.next().captured(1);
        t.remove(QRegularExpression(QStringLiteral("<!\\[CDATA\\[|\\]\\]>|<[^>]*>")));
        out << t.trimmed();
    }
    return out;
}

} // namespace

class TestMetafileReaders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void svgReaders_data();
    void svgReaders();
    void libreOfficePicture();

private:
    QTemporaryDir dir_;
    QString wmf_, emf_;
};

void TestMetafileReaders::initTestCase()
{
    QVERIFY(dir_.isValid());
    sample::installFontSubstitutes();
    auto plot = sample::makeChart(QSize(600, 300), 255);
    wmf_ = dir_.filePath("chart.wmf");
    emf_ = dir_.filePath("chart.emf");
    for (auto [path, fmt] : {std::pair{wmf_, MetafileFormat::Wmf}, {emf_, MetafileFormat::Emf}}) {
        writeMetafileOnDevice(path, fmt, plot->size(), [&](MetafileGenerator &device) {
            QCPPainter painter(&device);
            plot->toPainter(&painter, plot->width(), plot->height());
            painter.end();
        });
    }
}

void TestMetafileReaders::svgReaders_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("wmf");
    QTest::addColumn<QString>("encoding"); // of the texts in the reader's output
    // libwmf copies WMF text bytes through unchanged: code page 932.
    QTest::newRow("wmf2svg (libwmf)") << "wmf2svg" << true << "Shift_JIS";
    QTest::newRow("emf2svg-conv") << "emf2svg-conv" << false << "UTF-8";
}

void TestMetafileReaders::svgReaders()
{
    QFETCH(QString, program);
    QFETCH(bool, wmf);
    QFETCH(QString, encoding);
    const QString exe = QStandardPaths::findExecutable(program);
    QVERIFY2(!exe.isEmpty(), qPrintable(program + " is not installed (scripts/install-deps)"));

    const QString out = dir_.filePath(program + ".svg");
    const QStringList args = wmf ? QStringList{"-o", out, wmf_} : QStringList{"-i", emf_, "-o", out};
    const Run r = run(exe, args, QProcessEnvironment::systemEnvironment(), 60000);
    QVERIFY2(r.started, qPrintable(program));
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QVERIFY2(!r.output.contains("ERROR", Qt::CaseInsensitive), qPrintable(r.output));

    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    // Multi-byte text split over several elements only decodes once joined again:
    // read the markup byte for byte and decode the texts afterwards.
    const bool bytewise = encoding != QLatin1String("UTF-8");
    const QByteArray raw = f.readAll();
    const QString svg = bytewise ? QString::fromLatin1(raw) : QString::fromUtf8(raw);
    QStringDecoder decode(encoding.toLatin1().constData());
    QVERIFY(decode.isValid());

    const QHash<QRgb, int> longest = strokes(svg);
    for (const QColor &c : sample::kSeriesColors)
        QVERIFY2(longest.value(c.rgb()) >= 100,
            qPrintable(QStringLiteral("%1: longest line %2 points").arg(c.name()).arg(longest.value(c.rgb()))));

    // libwmf sets each character (each byte) on its own; the sequence still holds
    // every text.
    QStringList found = texts(svg);
    if (bytewise) {
        for (QString &t : found)
            t = QStringDecoder(encoding.toLatin1().constData()).decode(t.toLatin1());
    }
    const QString all = bytewise ? decode.decode(texts(svg).join(QString()).toLatin1()) : found.join(QString());
    for (const char *want : {"電圧", "Bat1", "Bat2", "Bat3", "Bat4", "1.00"})
        QVERIFY2(found.contains(QString::fromUtf8(want)) || all.contains(QString::fromUtf8(want)),
            qPrintable(QString::fromUtf8(want) + " not in: " + all.left(300)));
}

// One LibreOffice conversion (it is slow): the WMF as a PNG, the one reader here that
// shows WMF Japanese text.
void TestMetafileReaders::libreOfficePicture()
{
    const QString exe = QStandardPaths::findExecutable("soffice");
    QVERIFY2(!exe.isEmpty(), "soffice is not installed (scripts/install-deps)");
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    const QString outDir = dir_.filePath("lo");
    const Run r = run(exe, {"--headless", "--norestore", "--convert-to", "png", "--outdir", outDir, wmf_}, env, 240000);
    QVERIFY2(r.started, "soffice did not start");
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QImage img(outDir + "/chart.png");
    QVERIFY2(!img.isNull(), qPrintable(r.output));
    img = img.convertToFormat(QImage::Format_RGB32);

    // The picture is the non-white part of the page.
    QRect box;
    for (int y = 0; y < img.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if (qGray(line[x]) < 245)
                box |= QRect(x, y, 1, 1);
    }
    QVERIFY(box.isValid());
    const double aspect = double(box.width()) / box.height();
    QVERIFY2(aspect > 1.6 && aspect < 2.5, qPrintable(QString::number(aspect)));

    auto near = [](QRgb a, QColor b) {
        return std::abs(qRed(a) - b.red()) + std::abs(qGreen(a) - b.green()) + std::abs(qBlue(a) - b.blue()) < 60;
    };
    for (const QColor &c : sample::kSeriesColors) {
        int n = 0;
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x)
                n += near(img.pixel(x, y), c);
        QVERIFY2(n >= 200, qPrintable(QStringLiteral("%1: %2 pixels").arg(c.name()).arg(n)));
    }

    // The upright axis title is the leftmost thing in the picture, halfway down,
    // alone in its column: dark pixels in the middle of that column, none in its
    // upper quarter (where the value labels would be if the title were missing).
    const int band = box.width() * 35 / 1000;
    auto darkIn = [&](int top, int bottom) {
        int n = 0;
        for (int y = top; y <= bottom; ++y)
            for (int x = box.left(); x < box.left() + band; ++x)
                n += qGray(img.pixel(x, y)) < 128;
        return n;
    };
    const int middle = darkIn(box.top() + box.height() * 35 / 100, box.top() + box.height() * 65 / 100);
    const int upper = darkIn(box.top(), box.top() + box.height() / 4);
    QVERIFY2(middle >= 20 && upper == 0,
        qPrintable(QStringLiteral("title column: %1 dark in the middle, %2 above").arg(middle).arg(upper)));
}

QTEST_MAIN(TestMetafileReaders)
#include "tst_metafilereaders.moc"
