#pragma once
// The parts of a serial line that only a real UART has (modem lines, error
// counters, breaks, RS-485 direction control, the output queue count),
// behind a small interface so tests can replace them: pseudo-terminals
// answer all of these with ENOTTY.
#include <QtGlobal>
#include <functional>
#include <memory>

struct TCommCounters {
    quint32 frame = 0;
    quint32 parity = 0;
    quint32 overrun = 0;
    quint32 brk = 0;
    quint32 bufOverrun = 0;
};

class ICommLine
{
public:
    virtual ~ICommLine() = default;
    // tiocmBit is TIOCM_DTR or TIOCM_RTS.
    virtual bool SetModemBit(int tiocmBit, bool on) = 0;
    // TIOCM_* bits of the line.
    virtual bool GetModemBits(int &tiocmBits) = 0;
    virtual bool GetCounters(TCommCounters &counters) = 0;
    virtual bool SetBreak(bool on) = 0;
    // Driver-side RTS switching for half-duplex lines; false if the driver lacks it.
    virtual bool SetRs485(bool enable, bool rtsHighWhileSending) = 0;
    // Bytes still in the driver's output queue.
    virtual bool OutputPending(int &bytes) = 0;
};

#ifdef Q_OS_WIN
// The port's HANDLE. Windows has no TIOCM_* bits: the line speaks them all the same, with Linux's values.
using CommNativeHandle = void *;
constexpr int TIOCM_DTR = 0x002;
constexpr int TIOCM_RTS = 0x004;
constexpr int TIOCM_CTS = 0x020;
constexpr int TIOCM_CAR = 0x040;
constexpr int TIOCM_RNG = 0x080;
constexpr int TIOCM_DSR = 0x100;
#else
using CommNativeHandle = int;
#endif
using CommLineFactory = std::function<std::unique_ptr<ICommLine>(CommNativeHandle port)>;

// The system's own line for an open port. On Windows: modem lines with EscapeCommFunction/GetCommModemStatus,
// errors and the output queue from ClearCommError (which clears the flags, so the line keeps the counts itself),
// breaks with SetCommBreak, RTS toggling by the driver. On Linux: TIOCM*, TIOCGICOUNT, TIOCSBRK, TIOCSRS485, TIOCOUTQ.
std::unique_ptr<ICommLine> MakeNativeCommLine(CommNativeHandle port);

// Line errors found by comparing two counter snapshots (bits of OnError);
// a buffer overrun in the driver is not a line error and is left out.
qint32 CounterErrors(const TCommCounters &before, const TCommCounters &after);
bool CounterBreak(const TCommCounters &before, const TCommCounters &after);

// Sets a rate that has no B-constant (termios2 with BOTHER); false if refused.
bool SetCustomBaud(int fd, quint32 rate);
