// 10 MB from the far end of a pseudo-terminal through the port component
// into the log pane, as fast as the pseudo-terminal takes it. Prints the
// throughput, the longest stall of the UI thread (gap between the ticks of
// a 1 ms timer) and the latency from the far end's write of one line to its
// text standing in the pane.
#include "app/LogPane.h"
#include "serial/Commx.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
bool WriteAll(int fd, const char *p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd pf{fd, POLLOUT, 0};
        ::poll(&pf, 1, 10);
    }
    return true;
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // Arguments: megabytes (default 10); "nopane" to leave the pane out and
    // measure the component alone.
    const qint64 total = (argc > 1 ? std::atoll(argv[1]) : 10) * 1000 * 1000;
    const bool toPane = !(argc > 2 && QByteArray(argv[2]) == "nopane");

    int master = -1, slave = -1;
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);

    LogPane pane;
    pane.resize(400, 600);
    pane.show();

    TCommX comm;
    const QString path = QString::fromLocal8Bit(name);
    comm.setChannelResolver([path](qint32) { return path; });
    qint64 received = 0;
    qint64 longestHandler = 0, notifications = 0, largestRead = 0;
    comm.OnReceive = [&](TCustomCommX *s, qint32 n) {
        QElapsedTimer h;
        h.start();
        ++notifications;
        largestRead = std::max<qint64>(largestRead, n);
        // As the main window does: read what is waiting, append it.
        QByteArray buf(n, Qt::Uninitialized);
        const qint32 got = s->ReceiveBlock(buf.data(), n);
        if (got > 0) {
            buf.truncate(got);
            received += got;
            if (toPane)
                pane.appendReceived(buf);
        }
        longestHandler = std::max(longestHandler, h.nsecsElapsed());
    };
    comm.PortOpen();

    // UI stall: the longest gap between ticks of a 1 ms timer.
    QElapsedTimer tickClock;
    qint64 lastTick = -1, longestGap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = tickClock.nsecsElapsed();
        if (lastTick >= 0)
            longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });
    tickClock.start();
    ticker.start(1);

    // 10 MB of log-like lines.
    QByteArray line = "T= 123m  1.254  1.251  1.262  1.249  ";
    line += QByteArray(60 - line.size() - 2, '.') + "\r\n";
    QElapsedTimer clock;
    clock.start();
    std::thread writer([&] {
        QByteArray chunk;
        while (chunk.size() < 64 * 1024)
            chunk += line;
        qint64 sent = 0;
        while (sent < total) {
            const qint64 n = std::min<qint64>(chunk.size(), total - sent);
            if (!WriteAll(master, chunk.constData(), static_cast<size_t>(n)))
                return;
            sent += n;
        }
    });
    // Run the event loop as the program does (no busy polling here, which
    // would take the CPU from the threads being measured).
    QEventLoop bulk;
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (received >= total)
            bulk.quit();
    });
    done.start(5);
    bulk.exec();
    done.stop();
    const double seconds = clock.nsecsElapsed() / 1e9;
    writer.join();
    const qint64 bulkGap = longestGap;
    const qint64 bulkHandler = longestHandler;

    // One line at a time on a quiet line, with the 10 MB already in the pane
    // (which may end in the middle of a line).
    WriteAll(master, "\r\n", 2);
    std::vector<double> latencies;
    for (int i = 0; i < 20; ++i) {
        const QByteArray marker = "latency-" + QByteArray::number(i);
        QEventLoop quiet;
        QTimer::singleShot(50, &quiet, &QEventLoop::quit);
        quiet.exec();
        const QByteArray text = marker + "\r\n";
        const qint64 before = received;
        QElapsedTimer l;
        l.start();
        WriteAll(master, text.constData(), static_cast<size_t>(text.size()));
        QEventLoop wait;
        QTimer check;
        check.setTimerType(Qt::PreciseTimer);
        QObject::connect(&check, &QTimer::timeout, [&] {
            // What the pane shows, not what it still holds back for the screen.
            const QTextBlock last = pane.document()->lastBlock();
            const bool there = toPane ? (last.previous().text().toLatin1() == marker || last.text().toLatin1() == marker)
                                      : received >= before + text.size();
            if (there || l.elapsed() > 5000) {
                if (!there)
                    std::printf("line %d never appeared\n", i);
                wait.quit();
            }
        });
        check.start(0);
        wait.exec();
        latencies.push_back(l.nsecsElapsed() / 1e6);
    }
    std::sort(latencies.begin(), latencies.end());

    std::printf("bytes                 %lld%s\n", static_cast<long long>(total), toPane ? "" : " (not shown in the pane)");
    std::printf("throughput            %.2f MB/s (%.2f s)\n", total / 1e6 / seconds, seconds);
    std::printf("longest UI stall      %.1f ms (during the 10 MB), %.1f ms (whole run)\n", bulkGap / 1e6,
                longestGap / 1e6);
    std::printf("notifications         %lld, largest %lld bytes, longest OnReceive %.1f ms\n",
                static_cast<long long>(notifications), static_cast<long long>(largestRead), bulkHandler / 1e6);
    std::printf("one-line latency      median %.2f ms, worst %.2f ms (20 lines)\n", latencies[latencies.size() / 2],
                latencies.back());
    comm.PortClose();
    ::close(master);
    ::close(slave);
    return 0;
}
