// The serial port component on Windows: the same threads and hand-over as on Linux, with the Win32 serial
// functions underneath (CreateFile on \\.\COM<n>, the DCB, COMMTIMEOUTS, WaitCommEvent, overlapped I/O).
#include "serial/CommDcb.h"
#include "serial/Commx.h"
#include "serial/PortMap.h"

#include <QCoreApplication>
#include <QWinEventNotifier>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
#include <system_error>
#include <thread>

#include <windows.h>

// Windows has no group that guards serial ports: a port that will not open is in use or absent.
QString OpenErrorText(int)
{
    return QString::fromUtf8(commmsg::CannotOpen);
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

// Sleeps ms unless the wake event is set; true if woken.
bool SleepOrWake(HANDLE wake, int ms)
{
    return WaitForSingleObject(wake, DWORD(ms < 0 ? 0 : ms)) == WAIT_OBJECT_0;
}

// What a pulled-out USB adapter (or a closed handle) makes the serial functions answer.
bool DeviceGone(DWORD err)
{
    return err == ERROR_ACCESS_DENIED || err == ERROR_BAD_COMMAND || err == ERROR_DEVICE_NOT_CONNECTED
        || err == ERROR_INVALID_HANDLE || err == ERROR_FILE_NOT_FOUND || err == ERROR_GEN_FAILURE
        || err == ERROR_DEV_NOT_EXIST;
}

// The line's TIOCM_* bits -> the modem status word IsSignal tests.
quint32 ModemStatusWord(int tiocmBits)
{
    return (tiocmBits & TIOCM_CTS ? modemstat::Cts : 0) | (tiocmBits & TIOCM_DSR ? modemstat::Dsr : 0)
        | (tiocmBits & TIOCM_RNG ? modemstat::Ring : 0) | (tiocmBits & TIOCM_CAR ? modemstat::Rlsd : 0);
}

// One overlapped operation with its own event.
struct Overlapped {
    OVERLAPPED ov{};
    Overlapped() { ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped()
    {
        if (ov.hEvent)
            CloseHandle(ov.hEvent);
    }
    Overlapped(const Overlapped &) = delete;
    Overlapped &operator=(const Overlapped &) = delete;
    void Reset()
    {
        const HANDLE e = ov.hEvent;
        ov = OVERLAPPED{};
        ov.hEvent = e;
        ResetEvent(e);
    }
};

// Waits for a started operation, or for the wake event (then cancels it); false on failure or when woken.
// *woken tells which.
bool Finish(HANDLE port, Overlapped &o, HANDLE wake, DWORD &done, bool *woken)
{
    const HANDLE both[2] = {o.ov.hEvent, wake};
    const DWORD r = WaitForMultipleObjects(2, both, FALSE, INFINITE);
    if (r == WAIT_OBJECT_0 + 1) {
        CancelIoEx(port, &o.ov);
        GetOverlappedResult(port, &o.ov, &done, TRUE);
        if (woken)
            *woken = true;
        return false;
    }
    return GetOverlappedResult(port, &o.ov, &done, TRUE);
}
} // namespace

// What the workers share with the component for one open period.
struct CommSession {
    HANDLE fd = nullptr; // the port
    HANDLE wakeFd = nullptr; // set once at the end: wakes every wait for good
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

    // The driver obeys CTS, DSR and XOFF itself (the DCB says which) and gives up after the write time-out of
    // COMMTIMEOUTS, so a block is one overlapped write, woken early only to stop or clear.
    void WriteBlock(const TransBlockData &block, const std::function<bool()> &abort)
    {
        const char *p = block.data.get();
        qint32 remaining = block.size;
        const auto deadline = Clock::now() + std::chrono::milliseconds(FSession->timeOutTrans.load());
        Overlapped o;
        while (remaining > 0 && !Abandon()) {
            o.Reset();
            DWORD n = 0;
            DWORD err = 0;
            bool woken = false;
            if (!WriteFile(FSession->fd, p, DWORD(remaining), &n, &o.ov)) {
                err = GetLastError();
                if (err == ERROR_IO_PENDING) {
                    err = Finish(FSession->fd, o, FSession->wakeFd, n, &woken) ? 0 : GetLastError();
                    if (woken && !FSession->stop.load() && FClearing.load())
                        return; // cleared: the rest of the block is given up
                }
            }
            if (n > 0) {
                p += n;
                remaining -= qint32(n);
                if (remaining > 0 && Clock::now() >= deadline)
                    return; // the driver's time-out cut the write short: the rest of this block is given up
                continue;
            }
            if (woken || err == ERROR_OPERATION_ABORTED)
                return;
            if (err == 0) {
                if (Clock::now() >= deadline)
                    return; // write time-out: the rest of this block is given up
                continue;
            }
            if (DeviceGone(err)) {
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

    // Throws std::system_error when the thread cannot be made.
    void Start()
    {
        FThread = std::thread([this] { Execute(); });
    }

    void Join()
    {
        if (FThread.joinable())
            FThread.join();
    }

    ~TCommReceiveThread() { Join(); }

private:
    // The event mask (received character, break, line error) is set by the open; each WaitCommEvent returns
    // the events since the last one.
    void Execute()
    {
        const auto abort = [this] { return FSession->stop.load(); };
        Overlapped o;
        while (!FSession->stop.load()) {
            o.Reset();
            DWORD events = 0;
            DWORD done = 0;
            bool woken = false;
            bool ok = WaitCommEvent(FSession->fd, &events, &o.ov);
            if (!ok && GetLastError() == ERROR_IO_PENDING)
                ok = Finish(FSession->fd, o, FSession->wakeFd, done, &woken);
            if (FSession->stop.load() || woken)
                break;
            if (!ok) {
                const DWORD err = GetLastError();
                if (err == ERROR_OPERATION_ABORTED) // a PurgeComm or a mask change: wait again
                    continue;
                FOwner->ReportLost(*FSession, abort);
                break;
            }
            FOwner->LineErrorStep(abort, false);
            if ((events & EV_BREAK || FOwner->BreakStep()) && !FSession->stop.load())
                FOwner->SendNotify(abort, [this] { FOwner->BreakEvent(); });
            if (events & EV_RXCHAR && !FSession->stop.load())
                FOwner->SendNotify(abort, [this] { FOwner->ReceiveEvent(); });
        }
    }

    TCustomCommX *FOwner;
    std::shared_ptr<CommSession> FSession;
    std::thread FThread;
};

// --------------------------------------------------------------- component

TCustomCommX::TCustomCommX(QObject *Owner)
    : QObject(Owner)
{
    ApplyFlowCtrl(FDcb, FFlowCtrl, FBufLenReceive);
    // The notification channel of the UI thread (the thread making us): a manual-reset event, set while
    // calls wait in the queue.
    FNotifyEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!FNotifyEvent)
        throw std::system_error(int(GetLastError()), std::system_category(), "CreateEvent");
    FWindowHandle = new QWinEventNotifier(FNotifyEvent, this);
    connect(FWindowHandle, &QWinEventNotifier::activated, this, [this] { WndProc(); });
}

TCustomCommX::~TCustomCommX()
{
    PortClose();
    delete FWindowHandle;
    CloseHandle(FNotifyEvent);
}

quint32 TCustomCommX::Handle() const
{
    return FHandle ? static_cast<quint32>(reinterpret_cast<quintptr>(FHandle)) : 0xFFFFFFFFu;
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
    using namespace dcbflag;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(FHandle, &dcb))
        Throw(message);
    const quint32 f = FDcb.Flags;
    dcb.BaudRate = FDcb.BaudRate;
    dcb.fBinary = TRUE;
    dcb.fParity = (f & Parity) ? TRUE : FALSE;
    dcb.fOutxCtsFlow = (f & OutxCtsFlow) ? TRUE : FALSE;
    dcb.fOutxDsrFlow = (f & OutxDsrFlow) ? TRUE : FALSE;
    dcb.fDtrControl = (f & DtrControlMask) >> 4;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = (f & OutX) ? TRUE : FALSE;
    dcb.fInX = (f & InX) ? TRUE : FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = (f & RtsControlMask) >> 12;
    // The driver's own RTS switching, once chosen, survives the rewrite of the other parameters.
    if (FDriverRs485 && FRs485Mode == 1)
        dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    dcb.fAbortOnError = FALSE;
    dcb.XonLim = FDcb.XonLim;
    dcb.XoffLim = FDcb.XoffLim;
    dcb.ByteSize = FDcb.ByteSize;
    dcb.Parity = FDcb.Parity; // NOPARITY, ODDPARITY, EVENPARITY
    dcb.StopBits = FDcb.StopBits; // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
    dcb.XonChar = char(FDcb.XonChar);
    dcb.XoffChar = char(FDcb.XoffChar);
    if (!SetCommState(FHandle, &dcb))
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
    // Reads return at once with what has arrived (ReceiveBlock waits out the receive time-out itself); a write
    // gives up after the transmit time-out.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = 0;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = DWORD(FTimeOutTrans);
    if (!SetCommTimeouts(FHandle, &t))
        Throw(commmsg::TimeOut);
    if (FSession)
        FSession->timeOutTrans = FTimeOutTrans;
}

void TCustomCommX::ApplyQueueSizes()
{
    if (FBufLenTrans < 1 || FBufLenReceive < 1 || !SetupComm(FHandle, DWORD(FBufLenReceive), DWORD(FBufLenTrans)))
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
    // Serial ports open exclusively on Windows (no sharing), overlapped so both threads use the handle at once.
    const HANDLE fd = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (fd == INVALID_HANDLE_VALUE)
        throw ECommError(OpenErrorText(int(GetLastError())));
    DCB probe{};
    probe.DCBlength = sizeof probe;
    if (!GetCommState(fd, &probe)) { // a file or another device, not a serial port
        CloseHandle(fd);
        Throw(commmsg::CannotOpen);
    }

    FHandle = fd;
    FDevicePath = path;
    FLine = FLineFactory ? FLineFactory(fd) : MakeWin32CommLine(fd);
    ++FSessionNo;
    try {
        {
            std::lock_guard<std::mutex> g(FCountLock);
            FTransLength = 0;
            FTransCount = 0;
        }
        ApplyQueueSizes();
        PurgeComm(fd, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
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
        FEventMask = EV_RXCHAR | EV_BREAK | EV_ERR; // 0xC1
        if (!SetCommMask(fd, FEventMask))
            Throw(commmsg::ReceiveThread);
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
    session->wakeFd = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!session->wakeFd)
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
    SetEvent(FSession->wakeFd); // never reset: it wakes every wait on it for good
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
    SetCommMask(FHandle, 0);
    CloseHandle(FHandle);
    FHandle = nullptr;
    if (FSession) {
        CloseHandle(FSession->wakeFd);
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
        PurgeComm(FHandle, PURGE_TXABORT | PURGE_TXCLEAR);
        return;
    }
    FTransThread->FClearing = true;
    for (;;) {
        {
            std::lock_guard<std::mutex> g(FPortLock);
            // Aborts a write under way too: the transmit thread sees it end and drops its block.
            PurgeComm(FHandle, PURGE_TXABORT | PURGE_TXCLEAR);
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
    Overlapped o;
    while (got < size) {
        // Read ahead in one go; handlers read byte by byte. The time-outs make a read return at once.
        char chunk[4096];
        o.Reset();
        DWORD n = 0;
        DWORD err = 0;
        if (!ReadFile(FHandle, chunk, sizeof chunk, &n, &o.ov)) {
            err = GetLastError();
            if (err == ERROR_IO_PENDING)
                err = GetOverlappedResult(FHandle, &o.ov, &n, TRUE) ? 0 : GetLastError();
        }
        if (n > 0) {
            FReadAhead.append(chunk, static_cast<qsizetype>(n));
            take();
            continue;
        }
        if (err != 0 && err != ERROR_OPERATION_ABORTED) {
            LineErrorStep({}, true);
            return got > 0 ? got : -1; // the device is gone or failing; the receive thread reports a loss
        }
        if (Clock::now() >= deadline)
            break;
        QCoreApplication::processEvents();
        if (!IsOpen() || !FReceiveThread || FSessionNo != session)
            return -1;
        Sleep(1);
    }
    return got;
}

void TCustomCommX::ClearReceiveBuf()
{
    if (!IsOpen())
        return;
    PurgeComm(FHandle, PURGE_RXABORT | PURGE_RXCLEAR);
    FReadAhead.clear();
}

qint32 TCustomCommX::GetReceiveLength()
{
    if (!IsOpen())
        return 0;
    // The counters first: the queue query below clears the error flags, and they must be counted before.
    TCommCounters now;
    const bool counted = FLine->GetCounters(now);
    DWORD errors = 0;
    COMSTAT stat{};
    const int waiting = ClearCommError(FHandle, &errors, &stat) ? int(stat.cbInQue) : 0;
    // The same query clears the line error flags without reporting them.
    if (counted) {
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
            PurgeComm(FHandle, PURGE_TXABORT | PURGE_TXCLEAR);
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
    // The call travels through our own locked queue and an event the UI
    // thread watches, so every hand-over is under a lock we own.
    auto call = std::make_shared<SyncCall>();
    call->handler = std::move(handler);
    {
        std::lock_guard<std::mutex> g(FNotifyLock);
        FNotifyQueue.push_back(call);
        SetEvent(FNotifyEvent);
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
            ResetEvent(FNotifyEvent);
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
