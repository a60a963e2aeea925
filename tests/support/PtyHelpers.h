#pragma once
// A pseudo-terminal playing the far end of a serial line, an application
// that records what escapes a handler (as the program's error display
// would show it), and a fake for the lines a pseudo-terminal lacks.
#include "serial/CommLine.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

struct Pty {
    int master = -1;
    int slave = -1; // held open all along, so a reopen never hangs the line up
    QString name;

    Pty()
    {
        char buf[128] = {};
        if (::openpty(&master, &slave, buf, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        name = QString::fromLocal8Bit(buf);
        // The far end reads and writes raw bytes.
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
    }
    ~Pty()
    {
        closeMaster();
        if (slave >= 0)
            ::close(slave);
    }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    // Writes everything (blocking in short polls).
    bool writeAll(const QByteArray &data) const
    {
        qsizetype done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(master, data.constData() + done, static_cast<size_t>(data.size() - done));
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
        return true;
    }
    // Reads what is there within waitMs after the last byte seen.
    QByteArray readFor(int waitMs) const
    {
        QByteArray out;
        for (;;) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, waitMs) <= 0 || !(p.revents & POLLIN))
                return out;
            char buf[8192];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0)
                return out;
            out.append(buf, n);
        }
    }
    // Reads until count bytes arrived or timeoutMs passed with none.
    QByteArray readCount(qsizetype count, int timeoutMs = 10000) const
    {
        QByteArray out;
        while (out.size() < count) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN))
                break;
            char buf[8192];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0)
                break;
            out.append(buf, n);
        }
        return out;
    }
};

// Records exceptions escaping event handlers, as the program's application
// object shows them in its error display.
class RecordingApp : public QCoreApplication
{
public:
    RecordingApp(int &argc, char **argv)
        : QCoreApplication(argc, argv)
    { }
    bool notify(QObject *receiver, QEvent *event) override
    {
        try {
            return QCoreApplication::notify(receiver, event);
        } catch (const std::exception &e) {
            std::lock_guard<std::mutex> g(lock);
            errors << QString::fromUtf8(e.what());
        }
        return true;
    }
    QStringList takeErrors()
    {
        std::lock_guard<std::mutex> g(lock);
        QStringList e = errors;
        errors.clear();
        return e;
    }
    std::mutex lock;
    QStringList errors;
};

#define SERIAL_TEST_MAIN(TestObject)                                                                                   \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        RecordingApp app(argc, argv);                                                                                  \
        TestObject tc;                                                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }

// Shared state of the fake line, so the test can steer it while the
// component's threads use it.
struct FakeLineState {
    std::mutex lock;
    int modemBits = 0; // TIOCM_* as the line reports them
    bool haveCounters = true;
    TCommCounters counters;
    bool rs485Available = false;
    std::vector<QByteArray> log; // "DTR+", "RTS-", "BRK+", "485+H" ...
    int outputPending = 0;

    void note(const QByteArray &s) { log.push_back(s); }
    std::vector<QByteArray> takeLog()
    {
        std::lock_guard<std::mutex> g(lock);
        auto l = log;
        log.clear();
        return l;
    }
};

class FakeLine : public ICommLine
{
public:
    explicit FakeLine(FakeLineState &s)
        : s_(s)
    { }
    bool SetModemBit(int bit, bool on) override
    {
        std::lock_guard<std::mutex> g(s_.lock);
        s_.note(QByteArray(bit == TIOCM_DTR ? "DTR" : "RTS") + (on ? "+" : "-"));
        if (on)
            s_.modemBits |= bit;
        else
            s_.modemBits &= ~bit;
        return true;
    }
    bool GetModemBits(int &bits) override
    {
        std::lock_guard<std::mutex> g(s_.lock);
        bits = s_.modemBits;
        return true;
    }
    bool GetCounters(TCommCounters &c) override
    {
        std::lock_guard<std::mutex> g(s_.lock);
        c = s_.counters;
        return s_.haveCounters;
    }
    bool SetBreak(bool on) override
    {
        std::lock_guard<std::mutex> g(s_.lock);
        s_.note(on ? "BRK+" : "BRK-");
        return true;
    }
    bool SetRs485(bool enable, bool high) override
    {
        std::lock_guard<std::mutex> g(s_.lock);
        if (!s_.rs485Available)
            return false;
        s_.note(enable ? (high ? "485+H" : "485+L") : "485-");
        return true;
    }
    bool OutputPending(int &bytes) override
    {
        std::lock_guard<std::mutex> g(s_.lock);
        bytes = s_.outputPending;
        return true;
    }

private:
    FakeLineState &s_;
};
