// Time to write the chart as WMF and EMF files, 4 series of 255 points, and the
// files' sizes. Prints figures; asserts nothing.

#include "graph/MetafileGenerator.h"
#include "tests/metafile/SampleChart.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    sample::installFontSubstitutes();
    QTemporaryDir dir;
    const int rounds = 20;

    std::printf("chart 4 x 255 points, %d rounds each, median and worst\n", rounds);
    for (QSize size : {QSize(600, 300), QSize(1600, 900), QSize(4000, 2000)}) {
        auto plot = sample::makeChart(size, 255);
        for (auto [fmt, ext] : {std::pair{MetafileFormat::Wmf, "wmf"}, {MetafileFormat::Emf, "emf"}}) {
            const QString path = dir.filePath(QStringLiteral("chart.%1").arg(ext));
            std::vector<double> ms;
            for (int i = 0; i < rounds; ++i) {
                QElapsedTimer t;
                t.start();
                writeMetafileOnDevice(path, fmt, size, [&](MetafileGenerator& device) {
                    QCPPainter painter(&device);
                    plot->toPainter(&painter, size.width(), size.height());
                    painter.end();
                });
                ms.push_back(t.nsecsElapsed() / 1e6);
            }
            std::sort(ms.begin(), ms.end());
            std::printf("%4dx%-4d %s: %7.2f ms median, %7.2f ms worst, %7lld bytes\n", size.width(),
                        size.height(), ext, ms[ms.size() / 2], ms.back(),
                        static_cast<long long>(QFileInfo(path).size()));
        }
    }
    return 0;
}
