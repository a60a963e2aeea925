#include "serial/CommTermios.h"
#include "serial/CommxWorkers.h"

#include <QSocketNotifier>

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace commx;

QString OpenErrorText(int err)
{
    QString text = QString::fromUtf8(commmsg::CannotOpen);
    if (err == EACCES || err == EPERM)
        text += QLatin1Char('\n') + QString::fromUtf8(commmsg::DialoutHint);
    return text;
}

namespace commx {
bool MakeWake(int &wake)
{
    wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return wake >= 0;
}

void SignalWake(int wake)
{
    const quint64 one = 1;
    // Never read: once written it wakes every wait on it for good.
    [[maybe_unused]] const ssize_t w = ::write(wake, &one, sizeof one);
}

void CloseWake(int wake)
{
    ::close(wake);
}

bool SleepOrWake(int wakeFd, int ms)
{
    pollfd p{wakeFd, POLLIN, 0};
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const int r = ::poll(&p, 1, MsUntil(deadline));
        if (r > 0)
            return true;
        if (r == 0 || errno != EINTR)
            return false;
    }
}
} // namespace commx

namespace {
bool DeviceGone(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

// Waits for room in the output queue (or for DSR in DTR/DSR mode).
void WaitWritable(const CommSession &session, int ms)
{
    pollfd p[2] = {{session.fd, POLLOUT, 0}, {session.wakeFd, POLLIN, 0}};
    ::poll(p, 2, ms);
}

bool DsrHolds(const CommSession &session)
{
    if (session.flow.load() != cfcDtrDsr)
        return false;
    int bits = 0;
    if (!session.line->GetModemBits(bits))
        return false; // no modem status on this line: nothing to obey
    return !(bits & TIOCM_DSR);
}
} // namespace

// ---------------------------------------------------------------- transmit

void TCommTransThread::WriteBlock(const TransBlockData &block, const std::function<bool()> &abort)
{
    const char *p = block.data.get();
    qint32 remaining = block.size;
    const auto deadline = Clock::now() + std::chrono::milliseconds(FSession->timeOutTrans.load());
    while (remaining > 0 && !Abandon()) {
        if (DsrHolds(*FSession)) {
            if (Clock::now() >= deadline)
                return;
            SleepOrWake(FSession->wakeFd, std::min(MsUntil(deadline) + 1, 10));
            continue;
        }
        ssize_t n;
        int err;
        {
            std::lock_guard<std::mutex> g(FOwner->FPortLock);
            n = ::write(FSession->fd, p, static_cast<size_t>(remaining));
            err = errno;
        }
        if (n > 0) {
            p += n;
            remaining -= static_cast<qint32>(n);
            continue;
        }
        if (n < 0 && (err == EAGAIN || err == EINTR)) {
            if (Clock::now() >= deadline)
                return; // write time-out: the rest of this block is given up
            WaitWritable(*FSession, std::min(MsUntil(deadline) + 1, kSliceMs));
            continue;
        }
        if (n < 0 && DeviceGone(err)) {
            FOwner->ReportLost(*FSession, abort);
            return;
        }
        FOwner->LineErrorStep(abort, false);
        return;
    }
}

// ----------------------------------------------------------------- receive

void TCommReceiveThread::Start()
{
    FEpoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (FEpoll < 0)
        throw std::system_error(errno, std::generic_category());
    // Edge-triggered: only newly arrived bytes wake the thread, so bytes
    // the handler leaves unread cannot make it spin.
    epoll_event port{};
    port.events = EPOLLIN | EPOLLET | EPOLLRDHUP;
    port.data.fd = FSession->fd;
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = FSession->wakeFd;
    if (::epoll_ctl(FEpoll, EPOLL_CTL_ADD, FSession->fd, &port) != 0
        || ::epoll_ctl(FEpoll, EPOLL_CTL_ADD, FSession->wakeFd, &wake) != 0) {
        const int err = errno;
        ::close(FEpoll);
        FEpoll = -1;
        throw std::system_error(err, std::generic_category());
    }
    FThread = std::thread([this] { Execute(); });
}

TCommReceiveThread::~TCommReceiveThread()
{
    Join();
    if (FEpoll >= 0)
        ::close(FEpoll);
}

void TCommReceiveThread::Execute()
{
    const auto abort = [this] { return FSession->stop.load(); };
    while (!FSession->stop.load()) {
        epoll_event events[4];
        const int n = ::epoll_wait(FEpoll, events, 4, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (FSession->stop.load())
            break;
        if (n < 0) {
            FOwner->ReportLost(*FSession, abort);
            break;
        }
        bool data = false;
        bool hangUp = false;
        for (int i = 0; i < n; ++i) {
            if (events[i].data.fd != FSession->fd)
                continue;
            if (events[i].events & EPOLLIN)
                data = true;
            if (events[i].events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP))
                hangUp = true;
        }
        FOwner->LineErrorStep(abort, false);
        if (FOwner->BreakStep() && !FSession->stop.load())
            FOwner->SendNotify(abort, [this] { FOwner->BreakEvent(); });
        if (data && !FSession->stop.load())
            FOwner->SendNotify(abort, [this] { FOwner->ReceiveEvent(); });
        if (hangUp) {
            FOwner->ReportLost(*FSession, abort);
            break;
        }
    }
}

// --------------------------------------------------------------- component

TCustomCommX::TCustomCommX(QObject *Owner)
    : QObject(Owner)
{
    ApplyFlowCtrl(FDcb, FFlowCtrl, FBufLenReceive);
    // The notification channel of the UI thread (the thread making us).
    FNotifyFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FNotifyFd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    FWindowHandle = new QSocketNotifier(FNotifyFd, QSocketNotifier::Read, this);
    connect(FWindowHandle, &QSocketNotifier::activated, this, [this] { WndProc(); });
}

TCustomCommX::~TCustomCommX()
{
    PortClose();
    delete FWindowHandle;
    ::close(FNotifyFd);
}

quint32 TCustomCommX::Handle() const
{
    return FHandle >= 0 ? static_cast<quint32>(FHandle) : 0xFFFFFFFFu;
}

// -------------------------------------------------------------- properties

void TCustomCommX::WriteDcb(const char *message)
{
    const TermiosPlan plan = BuildTermios(FDcb);
    if (!plan.ok)
        Throw(message);
    if (::tcsetattr(FHandle, TCSANOW, &plan.tio) != 0)
        Throw(message);
    if (plan.customBaud && !SetCustomBaud(FHandle, plan.baud))
        Throw(message);
    ApplyLines();
}

void TCustomCommX::ApplyTimeOuts()
{
    if (FTimeOutTrans < 0 || FTimeOutReceive < 0)
        Throw(commmsg::TimeOut);
    if (FSession)
        FSession->timeOutTrans = FTimeOutTrans;
}

void TCustomCommX::ApplyQueueSizes()
{
    // The driver keeps its own queues; what must hold is that a block has
    // room for at least one byte and thresholds can be derived.
    if (FBufLenTrans < 1 || FBufLenReceive < 1)
        Throw(commmsg::Buffer);
}

// -------------------------------------------------------------- open/close

CommNativeHandle TCustomCommX::OpenDevice(const QString &path)
{
    const QByteArray native = path.toLocal8Bit();
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw ECommError(OpenErrorText(errno));
    termios probe{};
    if (::tcgetattr(fd, &probe) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        Throw(commmsg::CannotOpen);
    }
    ::ioctl(fd, TIOCEXCL);
    return fd;
}

// The receive thread's wait set takes the port's events when it starts.
void TCustomCommX::WatchEvents()
{ }

void TCustomCommX::ClosePort()
{
    ::ioctl(FHandle, TIOCNXCL);
    ::close(FHandle);
    FHandle = -1;
}

// ------------------------------------------------------------ transmission

void TCustomCommX::PurgeOutput()
{
    ::tcflush(FHandle, TCOFLUSH);
}

// --------------------------------------------------------------- reception

qint32 TCustomCommX::ReadWaiting(char *buffer, qint32 size)
{
    const ssize_t n = ::read(FHandle, buffer, static_cast<size_t>(size));
    if (n > 0)
        return static_cast<qint32>(n);
    // With VMIN and VTIME 0 an empty queue reads as 0, not EAGAIN.
    return n < 0 && errno != EAGAIN && errno != EINTR ? -1 : 0;
}

bool TCustomCommX::PauseForInput()
{
    pollfd p{FHandle, POLLIN, 0};
    return !(::poll(&p, 1, 1) > 0 && (p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLIN));
}

void TCustomCommX::ClearReceiveBuf()
{
    if (!IsOpen())
        return;
    ::tcflush(FHandle, TCIFLUSH);
    FReadAhead.clear();
}

qint32 TCustomCommX::GetReceiveLength()
{
    if (!IsOpen())
        return 0;
    int waiting = 0;
    if (::ioctl(FHandle, FIONREAD, &waiting) != 0)
        waiting = 0;
    // The same query clears the line error flags without reporting them.
    TCommCounters now;
    if (FLine->GetCounters(now)) {
        std::lock_guard<std::mutex> g(FErrLock);
        FCounters.frame = now.frame;
        FCounters.parity = now.parity;
        FCounters.overrun = now.overrun;
    }
    return static_cast<qint32>(FReadAhead.size()) + waiting;
}

// ----------------------------------------------------------- notifications

void TCustomCommX::RaiseNotify()
{
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t w = ::write(FNotifyFd, &one, sizeof one);
}

void TCustomCommX::LowerNotify()
{
    quint64 count;
    [[maybe_unused]] const ssize_t r = ::read(FNotifyFd, &count, sizeof count);
}
