// How fast received data goes into the log pane, and how long one chunk holds
// the UI thread; compared with rewriting the whole text for every chunk.
#include "widgets/LogPane.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <cstdio>

namespace {

// Discharger-like output: progress lines and table rows.
QByteArray dischargerText(qint64 bytes)
{
    QByteArray out;
    out.reserve(bytes + 64);
    int minute = 0;
    while (out.size() < bytes) {
        out += QByteArray::number(minute++) + "min  1.32V 1.31V 1.33V 1.30V\r\n";
        if (minute % 40 == 0)
            out += "Bat-V Bat1 Bat2 Bat3 Bat4\r\n1.25V   12   13   14   15\r\n";
    }
    out.truncate(bytes);
    return out;
}

struct Result {
    double mbPerSecond;
    double worstMs;
    int over16;
    int chunks;
};

template <typename Feed> Result run(const QByteArray &data, Feed feed)
{
    QRandomGenerator rng(42);
    QElapsedTimer total, one;
    double worst = 0;
    int over16 = 0, chunks = 0;
    total.start();
    qsizetype pos = 0;
    while (pos < data.size()) {
        const int n = 8 + int(rng.bounded(57));
        one.start();
        feed(data.mid(pos, n));
        QCoreApplication::processEvents();
        const double ms = one.nsecsElapsed() / 1e6;
        worst = qMax(worst, ms);
        over16 += ms > 16 ? 1 : 0;
        ++chunks;
        pos += n;
    }
    const double secs = total.nsecsElapsed() / 1e9;
    return {data.size() / 1e6 / secs, worst, over16, chunks};
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const qint64 size = argc > 1 ? QByteArray(argv[1]).toLongLong() : 10'000'000;

    LogPane pane;
    pane.resize(277, 300);
    pane.show();
    pane.appendReceived(dischargerText(size)); // a pane already holding the first 10 MB
    const QByteArray data = dischargerText(size);
    const Result append = run(data, [&](const QByteArray &chunk) { pane.appendReceived(chunk); });
    std::printf("append: %.0f MB into a %.0f MB pane: %.2f MB/s, longest chunk %.2f ms, "
                "%d of %d chunks over 16 ms\n",
        size / 1e6, size / 1e6, append.mbPerSecond, append.worstMs, append.over16, append.chunks);

    // The naive way: rewrite the whole text for each chunk (on a small size only).
    const qint64 small = 200'000;
    LogPane naive;
    naive.resize(277, 300);
    naive.show();
    QString whole;
    const QByteArray smallData = dischargerText(small);
    const Result rewrite = run(smallData, [&](const QByteArray &chunk) {
        whole += sjis::decodeText(chunk);
        naive.setPlainText(whole);
    });
    LogPane fresh;
    fresh.resize(277, 300);
    fresh.show();
    const Result appendSmall = run(smallData, [&](const QByteArray &chunk) { fresh.appendReceived(chunk); });
    std::printf("rewrite per chunk: %.0f kB: %.3f MB/s, longest chunk %.2f ms\n", small / 1e3, rewrite.mbPerSecond,
        rewrite.worstMs);
    std::printf("append on the same %.0f kB: %.2f MB/s; append is %.0f times faster\n", small / 1e3,
        appendSmall.mbPerSecond, appendSmall.mbPerSecond / rewrite.mbPerSecond);
    return 0;
}
