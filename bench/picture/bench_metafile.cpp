// Time to write the chart as WMF and EMF files, 4 series of 255 points, and the
// files' sizes; and how the time for one text grows with its length (a ratio
// near 8 for 8 times the characters means linear). Prints figures; asserts nothing.

#include "picture/MetafileGenerator.h"
#include "tests/picture/SampleChart.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    sample::installFontSubstitutes();
    QTemporaryDir dir;
    const int rounds = 20;

    std::printf("chart 4 x 255 points, %d rounds each: median and worst in ms\n", rounds);
    std::printf("  render: painting into memory; file: render and write (safewrite, synced to disk)\n");
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return std::pair{v[v.size() / 2], v.back()};
    };
    for (QSize size : {QSize(600, 300), QSize(1600, 900), QSize(4000, 2000)}) {
        auto plot = sample::makeChart(size, 255);
        for (auto [fmt, ext] : {std::pair{MetafileFormat::Wmf, "wmf"}, {MetafileFormat::Emf, "emf"}}) {
            const QString path = dir.filePath(QStringLiteral("chart.%1").arg(ext));
            auto paintOn = [&](MetafileGenerator &device) {
                QCPPainter painter(&device);
                plot->toPainter(&painter, size.width(), size.height());
                painter.end();
            };
            std::vector<double> render, file;
            for (int i = 0; i < rounds; ++i) {
                QElapsedTimer t;
                t.start();
                MetafileGenerator device(fmt, size);
                paintOn(device);
                const QByteArray bytes = device.data();
                render.push_back(t.nsecsElapsed() / 1e6);
                t.restart();
                writeMetafileOnDevice(path, fmt, size, paintOn);
                file.push_back(t.nsecsElapsed() / 1e6);
            }
            const auto [rm, rw] = median(render);
            const auto [fm, fw] = median(file);
            std::printf("%4dx%-4d %s: render %6.2f / %6.2f, file %6.2f / %6.2f, %6lld bytes\n", size.width(),
                size.height(), ext, rm, rw, fm, fw, static_cast<long long>(QFileInfo(path).size()));
        }
    }

    std::printf("one drawText of n characters on EMF: ms, and the ratio to n/8\n");
    double previous = 0;
    for (int n : {1000, 8000, 64000}) {
        QElapsedTimer t;
        t.start();
        MetafileGenerator device(MetafileFormat::Emf, QSize(600, 300));
        QPainter p(&device);
        p.scale(0.0005, 1.0); // squeezed so that the whole text lies on the picture
        p.drawText(QPointF(0, 50), QString(n, QChar(0x3042)));
        p.end();
        const double ms = t.nsecsElapsed() / 1e6;
        if (previous > 0)
            std::printf("  n=%6d: %8.1f ms, %5.1f times n/8\n", n, ms, ms / previous);
        else
            std::printf("  n=%6d: %8.1f ms\n", n, ms);
        previous = ms;
    }
    return 0;
}
