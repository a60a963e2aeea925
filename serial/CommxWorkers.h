#pragma once
// Inside the serial port component: what its workers share with it for one
// open period, and its two threads. The transmit queue and the turns of a
// half-duplex line are the same on every system; writing one block, the
// receive thread's wait and the wake handle are each system's own (in
// Commx.cpp and CommxWin32.cpp).
#include "serial/Commx.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#ifndef Q_OS_WIN
#include <sys/ioctl.h> // TIOCM_*
#endif

namespace commx {
using Clock = std::chrono::steady_clock;
constexpr int kMaxQueuedBlocks = 32;
constexpr int kSliceMs = 20; // longest a worker goes without looking at its flags
constexpr quint8 kRs485Unknown = 0xFF;

[[noreturn]] void Throw(const char *message);
int MsUntil(Clock::time_point deadline);
// The wake handle of one open period; once signalled it stays so, and
// every worker's wait on it ends.
bool MakeWake(CommNativeHandle &wake);
void SignalWake(CommNativeHandle wake);
void CloseWake(CommNativeHandle wake);
// Sleeps ms unless the wake handle is signalled; true if woken.
bool SleepOrWake(CommNativeHandle wake, int ms);
} // namespace commx

struct CommSession {
#ifdef Q_OS_WIN
    CommNativeHandle fd = nullptr; // the port
    CommNativeHandle wakeFd = nullptr; // set once at the end: wakes every wait for good
#else
    CommNativeHandle fd = -1;
    CommNativeHandle wakeFd = -1;
#endif
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

// A worker's call waiting to run on the component's thread.
struct SyncCall {
    enum State { Pending, Running, Done, Cancelled };
    std::mutex lock;
    std::condition_variable cond;
    State state = Pending;
    std::function<void()> handler;
};

class TCommTransThread
{
public:
    TCommTransThread(TCustomCommX *owner, std::shared_ptr<CommSession> session)
        : FOwner(owner)
        , FSession(std::move(session))
    { }

    void Start();
    void Post(TransBlockData block);
    void RequestStop();
    void Join();

    std::atomic<bool> FClearing{false};
    std::atomic<qint32> FHalfDelay{0};

private:
    bool Stopping() const { return FSession->stop.load(); }
    bool Abandon() const { return FSession->stop.load() || FClearing.load(); }

    void Execute();
    bool HalfMode(TCommFlowCtrls &mode) const;
    void HalfCtrlStart();
    void HalfCtrlEnd();
    // Each system's own: writes one block within the write time-out, gives
    // the rest up when cleared or stopped, reports a device that went away.
    void WriteBlock(const TransBlockData &block, const std::function<bool()> &abort);

    TCustomCommX *FOwner;
    std::shared_ptr<CommSession> FSession;
    std::thread FThread;
    std::mutex FQueueLock;
    std::condition_variable FQueueCond;
    std::deque<TransBlockData> FQueue;
};

// Waits on the line and hands what it sees (bytes, a break, a line error, a
// lost device) to the component's thread. The wait is each system's own.
class TCommReceiveThread
{
public:
    TCommReceiveThread(TCustomCommX *owner, std::shared_ptr<CommSession> session)
        : FOwner(owner)
        , FSession(std::move(session))
    { }
    ~TCommReceiveThread();

    // Throws std::system_error when the thread (or its wait set) cannot be made.
    void Start();
    void Join();

private:
    void Execute();

    TCustomCommX *FOwner;
    std::shared_ptr<CommSession> FSession;
    std::thread FThread;
#ifndef Q_OS_WIN
    int FEpoll = -1; // the port and the wake descriptor
#endif
};
