// The serial port component's code that is the same on every system: the
// properties, the transmit queue, the events and their hand-over to the
// component's thread. Opening, reading and the workers' waits are in
// Commx.cpp (Linux) and CommxWin32.cpp (Windows).
#include "serial/CommDcb.h"
#include "serial/CommxWorkers.h"
#include "serial/PortMap.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

using namespace commx;

namespace commx {
void Throw(const char *message)
{
    throw ECommError(QString::fromUtf8(message));
}

int MsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}
} // namespace commx

// ---------------------------------------------------------------- transmit

void TCommTransThread::Start()
{
    FThread = std::thread([this] { Execute(); });
}

void TCommTransThread::Post(TransBlockData block)
{
    {
        std::lock_guard<std::mutex> g(FQueueLock);
        FQueue.push_back(std::move(block));
    }
    FQueueCond.notify_one();
}

void TCommTransThread::RequestStop()
{
    {
        std::lock_guard<std::mutex> g(FQueueLock);
        FSession->stop = true;
    }
    FQueueCond.notify_all();
}

void TCommTransThread::Join()
{
    if (FThread.joinable())
        FThread.join();
}

void TCommTransThread::Execute()
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

bool TCommTransThread::HalfMode(TCommFlowCtrls &mode) const
{
    mode = static_cast<TCommFlowCtrls>(FSession->flow.load());
    return (mode == cfcHalfHigh || mode == cfcHalfLow) && !FSession->driverRs485.load();
}

void TCommTransThread::HalfCtrlStart()
{
    TCommFlowCtrls mode;
    if (!HalfMode(mode))
        return;
    if (SleepOrWake(FSession->wakeFd, 50))
        return;
    FSession->line->SetModemBit(TIOCM_RTS, mode == cfcHalfHigh);
    SleepOrWake(FSession->wakeFd, FHalfDelay.load());
}

void TCommTransThread::HalfCtrlEnd()
{
    TCommFlowCtrls mode;
    if (!HalfMode(mode))
        return;
    // The last byte must be on the wire before the direction turns;
    // draining the driver could block for ever, so watch the queue count instead.
    const auto deadline = Clock::now() + std::chrono::milliseconds(FSession->timeOutTrans.load());
    int pending = 0;
    while (!Stopping() && FSession->line->OutputPending(pending) && pending > 0 && Clock::now() < deadline)
        if (SleepOrWake(FSession->wakeFd, 1))
            break;
    SleepOrWake(FSession->wakeFd, FHalfDelay.load());
    FSession->line->SetModemBit(TIOCM_RTS, mode != cfcHalfHigh);
}

// ----------------------------------------------------------------- receive

void TCommReceiveThread::Join()
{
    if (FThread.joinable())
        FThread.join();
}

// -------------------------------------------------------------- properties

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

// -------------------------------------------------------------- open/close

void TCustomCommX::PortOpen()
{
    if (IsOpen())
        Throw(commmsg::AlreadyOpen);

    const QString path = FResolver ? FResolver(FPortNo) : ResolveChannel(FPortNo);
    if (path.isEmpty())
        Throw(commmsg::CannotOpen);
    const CommNativeHandle fd = OpenDevice(path);

    FHandle = fd;
    FDevicePath = path;
    FLine = FLineFactory ? FLineFactory(fd) : MakeNativeCommLine(fd);
    ++FSessionNo;
    try {
        {
            std::lock_guard<std::mutex> g(FCountLock);
            FTransLength = 0;
            FTransCount = 0;
        }
        ApplyQueueSizes();
        PurgeOutput();
        ClearReceiveBuf();
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
        FEventMask = 0xC1; // received character, break, line error
        WatchEvents();
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
    if (!MakeWake(session->wakeFd))
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
    SignalWake(FSession->wakeFd);
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
    ClosePort();
    if (FSession) {
        CloseWake(FSession->wakeFd);
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
        PurgeOutput();
        return;
    }
    FTransThread->FClearing = true;
    for (;;) {
        {
            std::lock_guard<std::mutex> g(FPortLock);
            PurgeOutput();
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
        const qint32 n = ReadWaiting(chunk, sizeof chunk);
        if (n > 0) {
            FReadAhead.append(chunk, static_cast<qsizetype>(n));
            take();
            continue;
        }
        if (n < 0) {
            LineErrorStep({}, true);
            return got > 0 ? got : -1; // the device is gone or failing; the receive thread reports a loss
        }
        if (Clock::now() >= deadline)
            break;
        QCoreApplication::processEvents();
        if (!IsOpen() || !FReceiveThread || FSessionNo != session)
            return -1;
        if (!PauseForInput())
            return got > 0 ? got : -1; // the device is gone; the receive thread reports it
    }
    return got;
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
            PurgeOutput();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    FLine->SetBreak(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    FLine->SetBreak(false);
}

// ----------------------------------------------------------- notifications

bool TCustomCommX::SendNotify(const Abort &abort, std::function<void()> handler)
{
    // A blocking queued call would deadlock when the UI thread joins this
    // worker, so the wait is in slices and gives up when asked to stop.
    // The call travels through our own locked queue and a handle the UI
    // thread watches, so every hand-over is under a lock we own.
    auto call = std::make_shared<SyncCall>();
    call->handler = std::move(handler);
    {
        std::lock_guard<std::mutex> g(FNotifyLock);
        FNotifyQueue.push_back(call);
        RaiseNotify();
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
        if (FNotifyQueue.empty())
            LowerNotify();
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
