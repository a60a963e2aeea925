// The serial port component on Windows: the same threads and hand-over as on Linux, with the Win32 serial
// functions underneath (CreateFile on \\.\COM<n>, the DCB, COMMTIMEOUTS, WaitCommEvent, overlapped I/O).
#include "serial/CommDcb.h"
#include "serial/CommxWorkers.h"

#include <QWinEventNotifier>

#include <chrono>
#include <system_error>
#include <thread>

#include <windows.h>

using namespace commx;

// Windows has no group that guards serial ports: a port that will not open is in use or absent.
QString OpenErrorText(int)
{
    return QString::fromUtf8(commmsg::CannotOpen);
}

namespace commx {
bool MakeWake(HANDLE &wake)
{
    wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return wake != nullptr;
}

void SignalWake(HANDLE wake)
{
    SetEvent(wake); // never reset: it wakes every wait on it for good
}

void CloseWake(HANDLE wake)
{
    CloseHandle(wake);
}

bool SleepOrWake(HANDLE wake, int ms)
{
    return WaitForSingleObject(wake, DWORD(ms < 0 ? 0 : ms)) == WAIT_OBJECT_0;
}
} // namespace commx

namespace {
// What a pulled-out USB adapter (or a closed handle) makes the serial functions answer.
bool DeviceGone(DWORD err)
{
    return err == ERROR_ACCESS_DENIED || err == ERROR_BAD_COMMAND || err == ERROR_DEVICE_NOT_CONNECTED
        || err == ERROR_INVALID_HANDLE || err == ERROR_FILE_NOT_FOUND || err == ERROR_GEN_FAILURE
        || err == ERROR_DEV_NOT_EXIST;
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

// ---------------------------------------------------------------- transmit

// The driver obeys CTS, DSR and XOFF itself (the DCB says which) and gives up after the write time-out of
// COMMTIMEOUTS, so a block is one overlapped write, woken early only to stop or clear.
void TCommTransThread::WriteBlock(const TransBlockData &block, const std::function<bool()> &abort)
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

// ----------------------------------------------------------------- receive

void TCommReceiveThread::Start()
{
    FThread = std::thread([this] { Execute(); });
}

TCommReceiveThread::~TCommReceiveThread()
{
    Join();
}

// The event mask (received character, break, line error) is set by the open; each WaitCommEvent returns
// the events since the last one.
void TCommReceiveThread::Execute()
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

// --------------------------------------------------------------- component

TCustomCommX::TCustomCommX(QObject *Owner)
    : QObject(Owner)
{
    ApplyFlowCtrl(FDcb, FFlowCtrl, FBufLenReceive);
    // The notification channel of the UI thread (the thread making us): a manual-reset event, set while
    // calls wait in the queue.
    FNotifyEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    FReadEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!FNotifyEvent || !FReadEvent) {
        const int err = int(GetLastError());
        if (FNotifyEvent)
            CloseHandle(FNotifyEvent);
        if (FReadEvent)
            CloseHandle(FReadEvent);
        throw std::system_error(err, std::system_category(), "CreateEvent");
    }
    FWindowHandle = new QWinEventNotifier(FNotifyEvent, this);
    connect(FWindowHandle, &QWinEventNotifier::activated, this, [this] { WndProc(); });
}

TCustomCommX::~TCustomCommX()
{
    PortClose();
    delete FWindowHandle;
    CloseHandle(FNotifyEvent);
    CloseHandle(FReadEvent);
}

quint32 TCustomCommX::Handle() const
{
    return FHandle ? static_cast<quint32>(reinterpret_cast<quintptr>(FHandle)) : 0xFFFFFFFFu;
}

// -------------------------------------------------------------- properties

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

// -------------------------------------------------------------- open/close

CommNativeHandle TCustomCommX::OpenDevice(const QString &path)
{
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

    return fd;
}

void TCustomCommX::WatchEvents()
{
    if (!SetCommMask(FHandle, FEventMask))
        Throw(commmsg::ReceiveThread);
}

void TCustomCommX::ClosePort()
{
    SetCommMask(FHandle, 0);
    CloseHandle(FHandle);
    FHandle = nullptr;
}

// ------------------------------------------------------------ transmission

// Aborts a write under way too: the transmit thread sees it end and drops its block.
void TCustomCommX::PurgeOutput()
{
    PurgeComm(FHandle, PURGE_TXABORT | PURGE_TXCLEAR);
}

// --------------------------------------------------------------- reception

// The time-outs make a read return at once.
qint32 TCustomCommX::ReadWaiting(char *buffer, qint32 size)
{
    // One event for every read (ReadFile resets it): a wait for input reads once a millisecond.
    OVERLAPPED ov{};
    ov.hEvent = FReadEvent;
    DWORD n = 0;
    DWORD err = 0;
    if (!ReadFile(FHandle, buffer, DWORD(size), &n, &ov)) {
        err = GetLastError();
        if (err == ERROR_IO_PENDING)
            err = GetOverlappedResult(FHandle, &ov, &n, TRUE) ? 0 : GetLastError();
    }
    if (n > 0)
        return qint32(n);
    return err != 0 && err != ERROR_OPERATION_ABORTED ? -1 : 0;
}

bool TCustomCommX::PauseForInput()
{
    Sleep(1);
    return true;
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

// ----------------------------------------------------------- notifications

void TCustomCommX::RaiseNotify()
{
    SetEvent(FNotifyEvent);
}

void TCustomCommX::LowerNotify()
{
    ResetEvent(FNotifyEvent);
}
