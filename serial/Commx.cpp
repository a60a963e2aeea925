#include "serial/Commx.h"
#include "serial/CommTermios.h"
#include "serial/PortMap.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
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

QString OpenErrorText(int err)
{
    QString text = QString::fromUtf8(commmsg::CannotOpen);
    if (err == EACCES || err == EPERM)
        text += QLatin1Char('\n') + QString::fromUtf8(commmsg::DialoutHint);
    return text;
}

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kMaxQueuedBlocks = 32;
constexpr int kSliceMs = 20; // longest a worker goes without looking at its flags
constexpr quint8 kRs485Unknown = 0xFF;

[[noreturn]] void Throw(const char *message)
{
    throw ECommError(QString::fromUtf8(message));
}

int MsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Sleeps ms unless the wake descriptor is signalled; true if woken.
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

bool DeviceGone(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}
} // namespace

// What the workers share with the component for one open period.
struct CommSession {
    int fd = -1;
    int wakeFd = -1;
    quint64 number = 0;
    ICommLine *line = nullptr;
    std::atomic<bool> stop{false};
    std::atomic<bool> lost{false};
    std::atomic<qint32> timeOutTrans{3000};
    std::atomic<int> flow{cfcRtsCts};
    std::atomic<bool> driverRs485{false};
};

struct TransBlockData {
    std::unique_ptr<char[]> data;
    qint32 size = 0;
};

// ---------------------------------------------------------------- transmit

class TCommTransThread
{
public:
    TCommTransThread(TCustomCommX *owner, std::shared_ptr<CommSession> session)
        : FOwner(owner)
        , FSession(std::move(session))
    { }

    void Start()
    {
        FThread = std::thread([this] { Execute(); });
    }

    void Post(TransBlockData block)
    {
        {
            std::lock_guard<std::mutex> g(FQueueLock);
            FQueue.push_back(std::move(block));
        }
        FQueueCond.notify_one();
    }

    void RequestStop()
    {
        {
            std::lock_guard<std::mutex> g(FQueueLock);
            FSession->stop = true;
        }
        FQueueCond.notify_all();
    }

    void Join()
    {
        if (FThread.joinable())
            FThread.join();
    }

    std::atomic<bool> FClearing{false};
    std::atomic<qint32> FHalfDelay{0};

private:
    bool Stopping() const { return FSession->stop.load(); }
    bool Abandon() const { return FSession->stop.load() || FClearing.load(); }

    void Execute()
    {
        const auto abort = [this] { return Abandon(); };
        while (!Stopping()) {
            {
                std::unique_lock<std::mutex> lk(FQueueLock);
                FQueueCond.wait(lk, [this] { return !FQueue.empty() || FSession->stop.load(); });
            }
            bool batchStarted = false;
            for (;;) {
                TransBlockData block;
                {
                    std::lock_guard<std::mutex> g(FQueueLock);
                    if (FQueue.empty())
                        break;
                    block = std::move(FQueue.front());
                    FQueue.pop_front();
                }
                if (!Abandon() && !FSession->lost.load()) {
                    if (!batchStarted) {
                        batchStarted = true;
                        HalfCtrlStart();
                    }
                    WriteBlock(block, abort);
                }
                const qint32 size = block.size;
                block.data.reset();
                std::lock_guard<std::mutex> g(FOwner->FCountLock);
                FOwner->FTransLength = FOwner->FTransLength - size > 0 ? FOwner->FTransLength - size : 0;
                if (FOwner->FTransCount > 0)
                    --FOwner->FTransCount;
            }
            if (batchStarted)
                HalfCtrlEnd();
        }
    }

    bool HalfMode(TCommFlowCtrls &mode) const
    {
        mode = static_cast<TCommFlowCtrls>(FSession->flow.load());
        return (mode == cfcHalfHigh || mode == cfcHalfLow) && !FSession->driverRs485.load();
    }

    void HalfCtrlStart()
    {
        TCommFlowCtrls mode;
        if (!HalfMode(mode))
            return;
        if (SleepOrWake(FSession->wakeFd, 50))
            return;
        FSession->line->SetModemBit(TIOCM_RTS, mode == cfcHalfHigh);
        SleepOrWake(FSession->wakeFd, FHalfDelay.load());
    }

    void HalfCtrlEnd()
    {
        TCommFlowCtrls mode;
        if (!HalfMode(mode))
            return;
        // The last byte must be on the wire before the direction turns;
        // tcdrain could block for ever, so watch the queue count instead.
        const auto deadline = Clock::now() + std::chrono::milliseconds(FSession->timeOutTrans.load());
        int pending = 0;
        while (!Stopping() && FSession->line->OutputPending(pending) && pending > 0 && Clock::now() < deadline)
            if (SleepOrWake(FSession->wakeFd, 1))
                break;
        SleepOrWake(FSession->wakeFd, FHalfDelay.load());
        FSession->line->SetModemBit(TIOCM_RTS, mode != cfcHalfHigh);
    }

    // Waits for room in the output queue (or for DSR in DTR/DSR mode).
    void WaitWritable(int ms)
    {
        pollfd p[2] = {{FSession->fd, POLLOUT, 0}, {FSession->wakeFd, POLLIN, 0}};
        ::poll(p, 2, ms);
    }

    bool DsrHolds()
    {
        if (FSession->flow.load() != cfcDtrDsr)
            return false;
        int bits = 0;
        if (!FSession->line->GetModemBits(bits))
            return false; // no modem status on this line: nothing to obey
        return !(bits & TIOCM_DSR);
    }

    void WriteBlock(const TransBlockData &block, const std::function<bool()> &abort)
    {
        const char *p = block.data.get();
        qint32 remaining = block.size;
        const auto deadline = Clock::now() + std::chrono::milliseconds(FSession->timeOutTrans.load());
        while (remaining > 0 && !Abandon()) {
            if (DsrHolds()) {
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
                WaitWritable(std::min(MsUntil(deadline) + 1, kSliceMs));
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

    TCustomCommX *FOwner;
    std::shared_ptr<CommSession> FSession;
    std::thread FThread;
    std::mutex FQueueLock;
    std::condition_variable FQueueCond;
    std::deque<TransBlockData> FQueue;
};

// ----------------------------------------------------------------- receive

class TCommReceiveThread
{
public:
    TCommReceiveThread(TCustomCommX *owner, std::shared_ptr<CommSession> session)
        : FOwner(owner)
        , FSession(std::move(session))
    { }

    // Throws std::system_error when the thread or its wait set cannot be made.
    void Start()
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

    void Join()
    {
        if (FThread.joinable())
            FThread.join();
    }

    ~TCommReceiveThread()
    {
        Join();
        if (FEpoll >= 0)
            ::close(FEpoll);
    }

private:
    void Execute()
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

    TCustomCommX *FOwner;
    std::shared_ptr<CommSession> FSession;
    std::thread FThread;
    int FEpoll = -1;
};

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

// ------------------------------------------------------------- properties

void TCustomCommX::setPortNo(qint32 value)
{
    FPortNo = value;
    if (IsOpen()) {
        PortClose();
        PortOpen();
    }
}

void TCustomCommX::setBitRate(qint32 value)
{
    FBitRate = value;
    if (!IsOpen())
        return;
    FDcb.BaudRate = value < 0 ? 0 : static_cast<quint32>(value);
    WriteDcb(commmsg::BitRate);
    if (FTransThread)
        FTransThread->FHalfDelay = HalfDelayFor(FBitRate);
}

void TCustomCommX::setCharSize(qint32 value)
{
    FCharSize = value;
    if (!IsOpen())
        return;
    FDcb.ByteSize = static_cast<quint8>(value & 0xFF);
    WriteDcb(commmsg::CharSize);
}

void TCustomCommX::setParityBit(TCommParityBits value)
{
    FParityBit = value;
    if (!IsOpen())
        return;
    FDcb.Parity = static_cast<quint8>(value);
    WriteDcb(commmsg::Parity);
}

void TCustomCommX::setStopBit(TCommStopBits value)
{
    FStopBit = value;
    if (!IsOpen())
        return;
    FDcb.StopBits = static_cast<quint8>(value);
    WriteDcb(commmsg::StopBit);
}

void TCustomCommX::setFlowCtrl(TCommFlowCtrls value)
{
    FFlowCtrl = value;
    if (!IsOpen())
        return;
    ApplyFlowCtrl(FDcb, value, FBufLenReceive);
    WriteDcb(commmsg::FlowCtrl);
}

void TCustomCommX::setTimeOutTrans(qint32 value)
{
    FTimeOutTrans = value;
    if (IsOpen())
        ApplyTimeOuts();
}

void TCustomCommX::setTimeOutReceive(qint32 value)
{
    FTimeOutReceive = value;
    if (IsOpen())
        ApplyTimeOuts();
}

void TCustomCommX::setXonChar(char value)
{
    FXonChar = static_cast<quint8>(value);
    if (!IsOpen())
        return;
    FDcb.XonChar = FXonChar;
    WriteDcb(commmsg::XonChar);
}

void TCustomCommX::setXoffChar(char value)
{
    FXoffChar = static_cast<quint8>(value);
    if (!IsOpen())
        return;
    FDcb.XoffChar = FXoffChar;
    WriteDcb(commmsg::XoffChar);
}

void TCustomCommX::setBufLenTrans(qint32 value)
{
    FBufLenTrans = value;
    if (IsOpen())
        ApplyQueueSizes();
}

void TCustomCommX::setBufLenReceive(qint32 value)
{
    FBufLenReceive = value;
    if (!IsOpen())
        return;
    ApplyQueueSizes();
    setFlowCtrl(FFlowCtrl);
}

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

// Modem lines and RS-485 direction control as the flag word asks.
void TCustomCommX::ApplyLines()
{
    using namespace dcbflag;
    const quint32 dtr = FDcb.Flags & DtrControlMask;
    FLine->SetModemBit(TIOCM_DTR, dtr != 0);
    const quint32 rts = FDcb.Flags & RtsControlMask;
    if (rts != RtsControlHandshake)
        FLine->SetModemBit(TIOCM_RTS, rts == RtsControlEnable);

    // The driver's RS-485 mode is changed only when the wanted direction
    // changes, not on every rewrite of the other line parameters.
    const quint8 wanted = FFlowCtrl == cfcHalfHigh ? 1 : FFlowCtrl == cfcHalfLow ? 2 : 0;
    if (wanted != FRs485Mode) {
        if (wanted != 0) {
            FDriverRs485 = FLine->SetRs485(true, wanted == 1);
            FRs485Mode = FDriverRs485 ? wanted : 0;
        } else {
            FLine->SetRs485(false, false);
            FDriverRs485 = false;
            FRs485Mode = 0;
        }
    }
    if (FSession) {
        FSession->flow = FFlowCtrl;
        FSession->driverRs485 = FDriverRs485;
    }
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

// ------------------------------------------------------------- open/close

void TCustomCommX::PortOpen()
{
    if (IsOpen())
        Throw(commmsg::AlreadyOpen);

    const QString path = FResolver ? FResolver(FPortNo) : ResolveChannel(FPortNo);
    if (path.isEmpty())
        Throw(commmsg::CannotOpen);
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

    FHandle = fd;
    FDevicePath = path;
    FLine = FLineFactory ? FLineFactory(fd) : MakePosixCommLine(fd);
    ++FSessionNo;
    try {
        {
            std::lock_guard<std::mutex> g(FCountLock);
            FTransLength = 0;
            FTransCount = 0;
        }
        ApplyQueueSizes();
        ::tcflush(fd, TCOFLUSH);
        ::tcflush(fd, TCIFLUSH);
        FReadAhead.clear();
        // Built from our own properties only: what the port's previous user
        // left there (XON equal to XOFF, 5 data bits with 2 stop bits,
        // RS-485 mode) can neither stop the open nor outlive it.
        FDcb = OpenBaseDcb(FFlowCtrl, FBufLenReceive, FXonChar, FXoffChar);
        {
            std::lock_guard<std::mutex> g(FErrLock);
            FCounters = TCommCounters();
            FHaveCounters = FLine->GetCounters(FCounters);
        }
        // Both lines up, as opening a port raises them, whatever the previous
        // user left; the flow-control mode then takes them over.
        FLine->SetModemBit(TIOCM_DTR, true);
        FLine->SetModemBit(TIOCM_RTS, true);
        FDriverRs485 = false;
        FRs485Mode = kRs485Unknown; // the first write sets or clears it either way
        setBitRate(FBitRate);
        setCharSize(FCharSize);
        setParityBit(FParityBit);
        setStopBit(FStopBit);
        setFlowCtrl(FFlowCtrl);
        ApplyTimeOuts();
        setXonChar(static_cast<char>(FXonChar));
        setXoffChar(static_cast<char>(FXoffChar));
        FEventMask = 0xC1;
        ThreadCreate();
    } catch (...) {
        PortClose();
        throw;
    }
}

void TCustomCommX::ThreadCreate()
{
    FTransThread.reset();
    FReceiveThread.reset();

    auto session = std::make_shared<CommSession>();
    session->fd = FHandle;
    session->number = FSessionNo;
    session->line = FLine.get();
    session->timeOutTrans = FTimeOutTrans;
    session->flow = FFlowCtrl;
    session->driverRs485 = FDriverRs485;
    session->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (session->wakeFd < 0)
        Throw(commmsg::TransThread);
    FSession = session;

    try {
        auto t = std::make_unique<TCommTransThread>(this, session);
        t->FHalfDelay = HalfDelayFor(FBitRate);
        t->Start();
        FTransThread = std::move(t);
    } catch (const ECommError &) {
        throw;
    } catch (...) {
        Throw(commmsg::TransThread);
    }
    try {
        auto r = std::make_unique<TCommReceiveThread>(this, session);
        r->Start();
        FReceiveThread = std::move(r);
    } catch (...) {
        Throw(commmsg::ReceiveThread);
    }
}

void TCustomCommX::StopThreads()
{
    if (!FSession)
        return;
    FSession->stop = true;
    const quint64 one = 1;
    // Never read: once written it wakes every wait on it for good.
    [[maybe_unused]] const ssize_t w = ::write(FSession->wakeFd, &one, sizeof one);
    if (FTransThread) {
        FTransThread->RequestStop();
        FTransThread->Join();
    }
    if (FReceiveThread)
        FReceiveThread->Join();
    FTransThread.reset();
    FReceiveThread.reset();
}

void TCustomCommX::PortClose()
{
    if (!IsOpen())
        return;
    SetDtrSignal(false);
    SetRtsSignal(false);
    ClearTransBuf();
    ClearReceiveBuf();
    StopThreads();
    if (FDriverRs485)
        FLine->SetRs485(false, false);
    FDriverRs485 = false;
    FRs485Mode = 0;
    DisposeSession();
}

void TCustomCommX::DisposeSession()
{
    FLine.reset();
    ::ioctl(FHandle, TIOCNXCL);
    ::close(FHandle);
    FHandle = -1;
    if (FSession) {
        ::close(FSession->wakeFd);
        FSession.reset();
    }
    FDevicePath.clear();
    FReadAhead.clear();
    FEventMask = 0;
    std::lock_guard<std::mutex> g(FCountLock);
    FTransLength = 0;
    FTransCount = 0;
}

// ------------------------------------------------------------ transmission

bool TCustomCommX::TransChar(char c)
{
    return TransBlock(&c, 1);
}

bool TCustomCommX::TransString(const QByteArray &s)
{
    if (s.isEmpty())
        return true;
    // A block size is 32 bits: a longer string would be cut to a wrong
    // length, so it is refused whole rather than sent in part.
    if (s.size() > std::numeric_limits<qint32>::max())
        return false;
    return TransBlock(s.constData(), static_cast<qint32>(s.size()));
}

char *TCustomCommX::NewBlock(qint32 size)
{
    return new (std::nothrow) char[static_cast<size_t>(size)];
}

bool TCustomCommX::TransBlock(const char *data, qint32 size)
{
    if (size == 0)
        return true;
    if (size < 0 || !data) // a negative size is a length that did not fit
        return false;
    const char *p = data;
    qint32 remaining = size;
    while (remaining > 0) {
        if (!IsOpen() || !FTransThread)
            return false;
        bool full;
        {
            std::lock_guard<std::mutex> g(FCountLock);
            full = FTransCount >= kMaxQueuedBlocks;
        }
        if (full) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const qint32 limit = FBufLenTrans > 0 ? FBufLenTrans : remaining;
        const qint32 n = remaining < limit ? remaining : limit;
        TransBlockData block;
        block.data.reset(NewBlock(n));
        if (!block.data)
            return false; // the caller must learn that these bytes never went out
        block.size = n;
        std::memcpy(block.data.get(), p, static_cast<size_t>(n));
        {
            std::lock_guard<std::mutex> g(FCountLock);
            FTransLength += n;
            ++FTransCount;
        }
        FTransThread->Post(std::move(block));
        p += n;
        remaining -= n;
    }
    return true;
}

void TCustomCommX::ClearTransBuf()
{
    if (!IsOpen())
        return;
    if (!FTransThread) {
        std::lock_guard<std::mutex> g(FPortLock);
        ::tcflush(FHandle, TCOFLUSH);
        return;
    }
    FTransThread->FClearing = true;
    for (;;) {
        {
            std::lock_guard<std::mutex> g(FPortLock);
            ::tcflush(FHandle, TCOFLUSH);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::lock_guard<std::mutex> g(FCountLock);
        if (FTransLength == 0 && FTransCount == 0)
            break;
    }
    FTransThread->FClearing = false;
}

qint32 TCustomCommX::GetTransLength()
{
    if (!IsOpen())
        return 0;
    std::lock_guard<std::mutex> g(FCountLock);
    return FTransLength;
}

// --------------------------------------------------------------- reception

qint32 TCustomCommX::ReceiveChar()
{
    unsigned char c = 0;
    return ReceiveBlock(reinterpret_cast<char *>(&c), 1) == 1 ? c : -1;
}

qint32 TCustomCommX::ReceiveBlock(char *buffer, qint32 size)
{
    if (!IsOpen() || !FReceiveThread || !buffer)
        return -1;
    if (size <= 0)
        return 0;
    const quint64 session = FSessionNo;
    qint32 got = 0;
    const auto take = [&] {
        const qint32 n = std::min<qint32>(size - got, static_cast<qint32>(FReadAhead.size()));
        if (n > 0) {
            std::memcpy(buffer + got, FReadAhead.constData(), static_cast<size_t>(n));
            FReadAhead.remove(0, n);
            got += n;
        }
    };
    take();
    const auto deadline = Clock::now() + std::chrono::milliseconds(FTimeOutReceive);
    while (got < size) {
        // Read ahead in one go; handlers read byte by byte.
        char chunk[4096];
        const ssize_t n = ::read(FHandle, chunk, sizeof chunk);
        const int err = errno;
        if (n > 0) {
            FReadAhead.append(chunk, static_cast<qsizetype>(n));
            take();
            continue;
        }
        // With VMIN and VTIME 0 an empty queue reads as 0, not EAGAIN.
        if (n < 0 && err != EAGAIN && err != EINTR) {
            LineErrorStep({}, true);
            return got > 0 ? got : -1;
        }
        if (Clock::now() >= deadline)
            break;
        QCoreApplication::processEvents();
        if (!IsOpen() || !FReceiveThread || FSessionNo != session)
            return -1;
        pollfd p{FHandle, POLLIN, 0};
        if (::poll(&p, 1, 1) > 0 && (p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLIN))
            return got > 0 ? got : -1; // the device is gone; the receive thread reports it
    }
    return got;
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

// ------------------------------------------------------------ signal lines

void TCustomCommX::SetRtsSignal(bool on)
{
    if (IsOpen())
        FLine->SetModemBit(TIOCM_RTS, on);
}

void TCustomCommX::SetDtrSignal(bool on)
{
    if (IsOpen())
        FLine->SetModemBit(TIOCM_DTR, on);
}

bool TCustomCommX::IsSignal(quint32 mask)
{
    if (!IsOpen())
        return false;
    int bits = 0;
    if (!FLine->GetModemBits(bits))
        return false;
    return (ModemStatusWord(bits) & mask) != 0;
}

void TCustomCommX::SendBreak()
{
    if (!IsOpen())
        return;
    // Setting a break first waits, without limit, for the driver's output
    // queue to drain, and a line held by flow control never drains. So the
    // queue is watched here for at most the write time-out (no write can
    // start meanwhile: the port lock is held); output still stalled then is
    // given up, as a write time-out gives it up, and the break goes out.
    std::lock_guard<std::mutex> g(FPortLock);
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max<qint32>(FTimeOutTrans, 0));
    int pending = 0;
    while (FLine->OutputPending(pending) && pending > 0) {
        if (Clock::now() >= deadline) {
            ::tcflush(FHandle, TCOFLUSH);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    FLine->SetBreak(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    FLine->SetBreak(false);
}

// ------------------------------------------------------------ notifications

struct SyncCall {
    enum State { Pending, Running, Done, Cancelled };
    std::mutex lock;
    std::condition_variable cond;
    State state = Pending;
    std::function<void()> handler;
};

bool TCustomCommX::SendNotify(const Abort &abort, std::function<void()> handler)
{
    // A blocking queued call would deadlock when the UI thread joins this
    // worker, so the wait is in slices and gives up when asked to stop.
    // The call travels through our own locked queue and an eventfd the UI
    // thread watches, so every hand-over is under a lock we own.
    auto call = std::make_shared<SyncCall>();
    call->handler = std::move(handler);
    {
        std::lock_guard<std::mutex> g(FNotifyLock);
        FNotifyQueue.push_back(call);
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t w = ::write(FNotifyFd, &one, sizeof one);
    }
    std::unique_lock<std::mutex> lk(call->lock);
    while (call->state != SyncCall::Done) {
        if (abort && abort()) {
            if (call->state == SyncCall::Pending)
                call->state = SyncCall::Cancelled;
            return false;
        }
        call->cond.wait_for(lk, std::chrono::milliseconds(5));
    }
    return true;
}

void TCustomCommX::WndProc()
{
    std::shared_ptr<SyncCall> call;
    {
        std::lock_guard<std::mutex> g(FNotifyLock);
        if (!FNotifyQueue.empty()) {
            call = FNotifyQueue.front();
            FNotifyQueue.pop_front();
        }
        // Left signalled while calls remain, so a handler that throws does
        // not strand the ones behind it.
        if (FNotifyQueue.empty()) {
            quint64 count;
            [[maybe_unused]] const ssize_t r = ::read(FNotifyFd, &count, sizeof count);
        }
    }
    if (!call)
        return;
    {
        std::lock_guard<std::mutex> g(call->lock);
        if (call->state == SyncCall::Cancelled)
            return;
        call->state = SyncCall::Running;
    }
    struct Finish {
        SyncCall &c;
        ~Finish()
        {
            std::lock_guard<std::mutex> g(c.lock);
            c.state = SyncCall::Done;
            c.cond.notify_all();
        }
    } finish{*call};
    call->handler(); // may throw: the application's notify shows it
}

void TCustomCommX::LineErrorStep(const Abort &abort, bool fromUiThread)
{
    if (!FHaveCounters)
        return;
    ICommLine *line = fromUiThread ? FLine.get() : nullptr;
    if (!fromUiThread && FSession)
        line = FSession->line;
    if (!line)
        return;
    TCommCounters now;
    if (!line->GetCounters(now))
        return;
    qint32 e;
    {
        std::lock_guard<std::mutex> g(FErrLock);
        e = CounterErrors(FCounters, now);
        FCounters.frame = now.frame;
        FCounters.parity = now.parity;
        FCounters.overrun = now.overrun;
    }
    if (e == 0)
        return;
    if (fromUiThread)
        ErrEvent(static_cast<quint32>(e));
    else
        SendNotify(abort, [this, e] { ErrEvent(static_cast<quint32>(e)); });
}

bool TCustomCommX::BreakStep()
{
    if (!FHaveCounters)
        return false;
    TCommCounters now;
    if (!FSession->line->GetCounters(now))
        return false;
    std::lock_guard<std::mutex> g(FErrLock);
    const bool brk = CounterBreak(FCounters, now);
    FCounters.brk = now.brk;
    return brk;
}

void TCustomCommX::ReportLost(CommSession &session, const Abort &abort)
{
    session.lost = true;
    const quint64 number = session.number;
    SendNotify(abort, [this, number] { LostEvent(number); });
}

void TCustomCommX::ReceiveEvent()
{
    if (!IsOpen() || !OnReceive)
        return;
    const qint32 n = GetReceiveLength();
    if (n != 0)
        OnReceive(this, n);
}

void TCustomCommX::BreakEvent()
{
    if (IsOpen() && OnBreak)
        OnBreak(this);
}

void TCustomCommX::ErrEvent(quint32 ErrorState)
{
    if (IsOpen() && OnError)
        OnError(this, static_cast<qint32>(ErrorState));
}

void TCustomCommX::LostEvent(quint64 session)
{
    // The other worker may have noticed too; only the first report while
    // this very port is open counts.
    if (!IsOpen() || FSessionNo != session)
        return;
    const QString path = FDevicePath;
    PortClose();
    if (!OnLost)
        Throw(commmsg::PortLost);
    if (OnLost(this, path))
        throw ECommError(
            QString::fromUtf8(commmsg::PortLost) + QLatin1Char('\n') + QString::fromUtf8(commmsg::PortReturns));
}
