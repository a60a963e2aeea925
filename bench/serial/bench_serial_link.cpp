// 10 MB from the far end of a pseudo-terminal through the port component
// into the log pane, as fast as the pseudo-terminal takes it, once without
// and once with the receive journal. Prints the throughput, the longest
// stall of the UI thread (gap between the ticks of a 1 ms timer) for each and
// their ratio, and the latency from the far end's write of one line to its
// text standing in the pane.
#include "journal/Journal.h"
#include "serial/Commx.h"
#include "widgets/LogPane.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
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

struct Bulk {
    double seconds = 0;
    qint64 longestGap = 0, longestHandler = 0, notifications = 0, largestRead = 0;
};

QByteArray LogLine()
{
    QByteArray line = "T= 123m  1.254  1.251  1.262  1.249  ";
    return line + QByteArray(60 - line.size() - 2, '.') + "\r\n";
}

// total bytes from the far end through comm into pane (and journal, if any).
Bulk RunBulk(int master, TCommX &comm, LogPane &pane, bool toPane, journal::Journal *journal, qint64 total)
{
    Bulk r;
    qint64 received = 0;
    comm.OnReceive = [&](TCustomCommX *s, qint32 n) {
        QElapsedTimer h;
        h.start();
        ++r.notifications;
        r.largestRead = std::max<qint64>(r.largestRead, n);
        // As the main window does: read what is waiting, journal it, append it.
        QByteArray buf(n, Qt::Uninitialized);
        const qint32 got = s->ReceiveBlock(buf.data(), n);
        if (got > 0) {
            buf.truncate(got);
            received += got;
            if (journal)
                journal->append(buf.constData(), got);
            if (toPane)
                pane.appendReceived(buf);
        }
        r.longestHandler = std::max(r.longestHandler, h.nsecsElapsed());
    };

    // UI stall: the longest gap between ticks of a 1 ms timer.
    QElapsedTimer tickClock;
    qint64 lastTick = -1;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = tickClock.nsecsElapsed();
        if (lastTick >= 0)
            r.longestGap = std::max(r.longestGap, now - lastTick);
        lastTick = now;
    });
    tickClock.start();
    ticker.start(1);

    QElapsedTimer clock;
    clock.start();
    std::thread writer([&] {
        QByteArray chunk;
        while (chunk.size() < 64 * 1024)
            chunk += LogLine();
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
    r.seconds = clock.nsecsElapsed() / 1e9;
    writer.join();
    // What the pane still holds back goes on screen before the next run.
    pane.flushReceived();
    return r;
}

void PrintBulk(const char *title, const Bulk &b, qint64 total)
{
    std::printf("%s\n", title);
    std::printf("  throughput          %.2f MB/s (%.2f s)\n", total / 1e6 / b.seconds, b.seconds);
    std::printf("  longest UI stall    %.1f ms\n", b.longestGap / 1e6);
    std::printf("  notifications       %lld, largest %lld bytes, longest OnReceive %.1f ms\n",
        static_cast<long long>(b.notifications), static_cast<long long>(b.largestRead), b.longestHandler / 1e6);
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // Arguments: megabytes (default 10); "nopane" to leave the pane out and
    // measure the component (and the journal) alone.
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

    TCommX comm;
    const QString path = QString::fromLocal8Bit(name);
    comm.setChannelResolver([path](qint32) { return path; });
    comm.PortOpen();

    // The same stream without and with the journal (writing into a temporary
    // folder on this machine's disk), each into a fresh pane, after a warm-up
    // run; two rounds, alternating, so neither mode gets the quieter moments.
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench-journal-XXXXXX"));
    journal::Journal journal(dir.path(), QDateTime::currentDateTime());
    auto freshPane = [] {
        auto p = std::make_unique<LogPane>();
        p->resize(400, 600);
        p->show();
        return p;
    };
    RunBulk(master, comm, *freshPane(), toPane, nullptr, total / 10);
    Bulk plain, journalled;
    auto keep = [](Bulk &best, const Bulk &b) {
        if (best.seconds == 0 || b.seconds < best.seconds) {
            const qint64 gap = std::max(best.longestGap, b.longestGap);
            const qint64 handler = std::max(best.longestHandler, b.longestHandler);
            best = b;
            best.longestGap = gap;
            best.longestHandler = handler;
        } else {
            best.longestGap = std::max(best.longestGap, b.longestGap);
            best.longestHandler = std::max(best.longestHandler, b.longestHandler);
        }
    };
    std::unique_ptr<LogPane> last;
    for (int round = 0; round < 2; ++round) {
        keep(plain, RunBulk(master, comm, *freshPane(), toPane, nullptr, total));
        last = freshPane();
        keep(journalled, RunBulk(master, comm, *last, toPane, &journal, total));
    }
    LogPane &pane = *last;

    // One line at a time on a quiet line, with the 10 MB already in the pane
    // (which may end in the middle of a line), journal on.
    qint64 received = 0;
    comm.OnReceive = [&](TCustomCommX *s, qint32 n) {
        QByteArray buf(n, Qt::Uninitialized);
        const qint32 got = s->ReceiveBlock(buf.data(), n);
        if (got > 0) {
            buf.truncate(got);
            received += got;
            journal.append(buf.constData(), got);
            if (toPane)
                pane.appendReceived(buf);
        }
    };
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
            const bool there = toPane
                ? (last.previous().text().toLatin1() == marker || last.text().toLatin1() == marker)
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
    comm.PortClose();
    journal.close();

    std::printf("bytes                 %lld per run%s\n", static_cast<long long>(total),
        toPane ? "" : " (not shown in the pane)");
    std::printf("(each mode run twice: the faster run's throughput, the longest stall of both)\n");
    PrintBulk("journal off", plain, total);
    PrintBulk("journal on", journalled, total);
    std::printf("throughput ratio      %.2f (journal on / off)\n", plain.seconds / journalled.seconds);
    std::printf("journal file          %lld bytes (two runs plus the latency lines)%s\n",
        static_cast<long long>(QFileInfo(journal.filePath()).size()), journal.failed() ? " (write failed)" : "");
    std::printf("one-line latency      median %.2f ms, worst %.2f ms (20 lines, journal on)\n",
        latencies[latencies.size() / 2], latencies.back());
    ::close(master);
    ::close(slave);
    return 0;
}
