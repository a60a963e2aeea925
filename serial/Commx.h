#pragma once
// The serial port component: owns one serial port, queues outgoing blocks to
// a transmit thread, reads incoming bytes on request and raises its events
// on the user-interface thread, where the object itself lives (it is the
// target every worker notification is delivered to).
#include "serial/CommLine.h"
#include "serial/CommTypes.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>

// Every failure to open or configure the port. The message is UTF-8.
class ECommError : public std::runtime_error
{
public:
    explicit ECommError(const QString &message);
    QString Message() const { return QString::fromUtf8(what()); }
};

// Text of a failed open: a permission failure also names the group.
QString OpenErrorText(int err);

// The exact message texts.
namespace commmsg {
extern const char *const AlreadyOpen;
extern const char *const CannotOpen;
extern const char *const DialoutHint;
extern const char *const Buffer;
extern const char *const BitRate;
extern const char *const CharSize;
extern const char *const Parity;
extern const char *const StopBit;
extern const char *const FlowCtrl;
extern const char *const TimeOut;
extern const char *const XonChar;
extern const char *const XoffChar;
extern const char *const TransThread;
extern const char *const ReceiveThread;
extern const char *const PortLost;
extern const char *const PortReturns;
} // namespace commmsg

class TCommTransThread;
class TCommReceiveThread;
struct CommSession;
struct SyncCall;
#ifdef Q_OS_WIN
class QWinEventNotifier;
#else
class QSocketNotifier;
#endif

class TCustomCommX : public QObject
{
    Q_OBJECT
    friend class TCommTransThread;
    friend class TCommReceiveThread;

public:
    explicit TCustomCommX(QObject *Owner = nullptr);
    ~TCustomCommX() override;

    // --- properties
    qint32 PortNo() const { return FPortNo; }
    void setPortNo(qint32 value);
    qint32 BitRate() const { return FBitRate; }
    void setBitRate(qint32 value);
    qint32 CharSize() const { return FCharSize; }
    void setCharSize(qint32 value);
    TCommParityBits ParityBit() const { return FParityBit; }
    void setParityBit(TCommParityBits value);
    TCommStopBits StopBit() const { return FStopBit; }
    void setStopBit(TCommStopBits value);
    TCommFlowCtrls FlowCtrl() const { return FFlowCtrl; }
    void setFlowCtrl(TCommFlowCtrls value);
    qint32 TimeOutTrans() const { return FTimeOutTrans; }
    void setTimeOutTrans(qint32 value);
    qint32 TimeOutReceive() const { return FTimeOutReceive; }
    void setTimeOutReceive(qint32 value);
    char XonChar() const { return static_cast<char>(FXonChar); }
    void setXonChar(char value);
    char XoffChar() const { return static_cast<char>(FXoffChar); }
    void setXoffChar(char value);
    qint32 BufLenTrans() const { return FBufLenTrans; }
    void setBufLenTrans(qint32 value);
    qint32 BufLenReceive() const { return FBufLenReceive; }
    void setBufLenReceive(qint32 value);
    // The open port's descriptor; all bits set while closed.
    quint32 Handle() const;

    TCommReceiveEvent OnReceive;
    TCommBreakEvent OnBreak;
    TCommErrEvent OnError;
    // The device went away while open (the port is closed already). Returns
    // whether the loss is to be reported; when set, the report also says the
    // port comes back by itself.
    std::function<bool(TCustomCommX *Sender, const QString &devicePath)> OnLost;

    // --- port
    void PortOpen();
    void PortClose();
#ifdef Q_OS_WIN
    bool IsOpen() const
    {
        return FHandle != nullptr;
    }
#else
    bool IsOpen() const
    {
        return FHandle >= 0;
    }
#endif

    // --- transmission
    bool TransChar(char c);
    // A string longer than a block size can say (2 GiB) is refused: false, nothing sent.
    bool TransString(const QByteArray &s);
    virtual bool TransBlock(const char *data, qint32 size);
    void ClearTransBuf();
    qint32 GetTransLength();

    // --- reception
    qint32 ReceiveChar();
    virtual qint32 ReceiveBlock(char *buffer, qint32 size);
    void ClearReceiveBuf();
    qint32 GetReceiveLength();

    // --- signal lines
    void SetRtsSignal(bool on);
    void SetDtrSignal(bool on);
    bool IsCtsSignal()
    {
        return IsSignal(modemstat::Cts);
    }
    bool IsDsrSignal()
    {
        return IsSignal(modemstat::Dsr);
    }
    bool IsRingSignal()
    {
        return IsSignal(modemstat::Ring);
    }
    bool IsRlsdSignal()
    {
        return IsSignal(modemstat::Rlsd);
    }
    bool IsSignal(quint32 mask);
    // Waits at most TimeOutTrans for stalled output before the 300 ms break.
    void SendBreak();

    // --- where the port is on this machine
    using ChannelResolver = std::function<QString(qint32 channel)>;
    // Channel -> device path; the default reads the ini file's "Ports"
    // section and scans /dev. Tests put pseudo-terminals here.
    void setChannelResolver(ChannelResolver resolver)
    {
        FResolver = std::move(resolver);
    }
    const ChannelResolver &channelResolver() const
    {
        return FResolver;
    }
    // Makes the modem-line interface for an open descriptor (tests: a fake).
    void setLineFactory(CommLineFactory factory)
    {
        FLineFactory = std::move(factory);
    }
    // The device the port was opened on, empty while closed.
    QString DevicePath() const
    {
        return FDevicePath;
    }
    // The settings block as last written (for checks).
    const TCommDcb &Dcb() const
    {
        return FDcb;
    }
    // Port events the receive thread waits for while open (received
    // character 0x01, break 0x40, line error 0x80); 0 while closed.
    quint32 EventMask() const
    {
        return FEventMask;
    }
    // True when the driver switches RTS in the half-duplex modes itself.
    bool DriverRs485() const
    {
        return FDriverRs485;
    }

protected:
    void ThreadCreate();
    void ReceiveEvent();
    void BreakEvent();
    void ErrEvent(quint32 ErrorState);
    // A worker found the device gone: close and report it once.
    void LostEvent(quint64 session);
    // Storage for one transmit block; nullptr when it cannot be had.
    virtual char *NewBlock(qint32 size);

private:
    using Abort = std::function<bool()>;
    // Runs handler on this object's thread and waits until it has run, or
    // until abort() turns true (then a handler not yet started never runs).
    bool SendNotify(const Abort &abort, std::function<void()> handler);
    void WriteDcb(const char *message);
    void ApplyTimeOuts();
    void ApplyQueueSizes();
    void ApplyLines();
    void LineErrorStep(const Abort &abort, bool fromUiThread);
    bool BreakStep();
    void ReportLost(CommSession &session, const Abort &abort);
    void StopThreads();
    void DisposeSession();

    // Each system's own (Commx.cpp, CommxWin32.cpp); the rest is shared.
    // Opens the device exclusively (throws ECommError).
    CommNativeHandle OpenDevice(const QString &path);
    // Asks the driver for the events of FEventMask where it must be asked.
    void WatchEvents();
    // What the driver holds for us, at once (0: nothing, -1: the line failed).
    qint32 ReadWaiting(char *buffer, qint32 size);
    // Waits a moment for more input; false when the device has gone.
    bool PauseForInput();
    // Drops what the driver still has to send.
    void PurgeOutput();
    // Closes the port's handle (the session's wake handle is closed apart).
    void ClosePort();
    // Signals, and after the last queued call clears, the channel WndProc watches.
    void RaiseNotify();
    void LowerNotify();

    // Notifications from the workers: a locked queue plus an eventfd (on
    // Windows an event object) the UI thread's notifier watches.
    void WndProc();
#ifdef Q_OS_WIN
    QWinEventNotifier *FWindowHandle = nullptr;
    void *FNotifyEvent = nullptr;
    void *FReadEvent = nullptr; // the UI thread's overlapped reads, made once
#else
    QSocketNotifier *FWindowHandle = nullptr;
    int FNotifyFd = -1;
#endif
    std::mutex FNotifyLock;
    std::deque<std::shared_ptr<SyncCall>> FNotifyQueue;

#ifdef Q_OS_WIN
    void *FHandle = nullptr;
#else
    int FHandle = -1;
#endif
    std::unique_ptr<TCommTransThread> FTransThread;
    std::unique_ptr<TCommReceiveThread> FReceiveThread;
    std::shared_ptr<CommSession> FSession;
    std::mutex FPortLock;
    std::mutex FCountLock;
    std::mutex FErrLock; // the counter snapshot: fetched and cleared by whoever looks first

    qint32 FPortNo = 1;
    qint32 FBitRate = 9600;
    qint32 FCharSize = 8;
    TCommParityBits FParityBit = cpbNone;
    TCommStopBits FStopBit = csb1;
    TCommFlowCtrls FFlowCtrl = cfcRtsCts;
    qint32 FTimeOutTrans = 3000;
    qint32 FTimeOutReceive = 3000;
    quint8 FXonChar = 17;
    quint8 FXoffChar = 19;
    qint32 FBufLenTrans = 2048;
    qint32 FBufLenReceive = 2048;

    TCommDcb FDcb;
    qint32 FTransLength = 0;
    qint32 FTransCount = 0;
    TCommCounters FCounters;
    bool FHaveCounters = false;
    bool FDriverRs485 = false;
    quint8 FRs485Mode = 0; // 0 off, 1 RTS high while sending, 2 low, 0xFF not known (just opened)
    QByteArray FReadAhead; // bytes taken from the driver but not yet handed out
    quint64 FSessionNo = 0;
    quint32 FEventMask = 0;

    ChannelResolver FResolver;
    CommLineFactory FLineFactory;
    std::unique_ptr<ICommLine> FLine;
    QString FDevicePath;
};

// The published component; it adds nothing.
class TCommX : public TCustomCommX
{
    Q_OBJECT
public:
    explicit TCommX(QObject *Owner = nullptr)
        : TCustomCommX(Owner)
    { }
};
