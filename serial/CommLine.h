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

using CommLineFactory = std::function<std::unique_ptr<ICommLine>(int fd)>;

std::unique_ptr<ICommLine> MakePosixCommLine(int fd);

// Line errors found by comparing two counter snapshots (bits of OnError);
// a buffer overrun in the driver is not a line error and is left out.
qint32 CounterErrors(const TCommCounters &before, const TCommCounters &after);
bool CounterBreak(const TCommCounters &before, const TCommCounters &after);

// Sets a rate that has no B-constant (termios2 with BOTHER); false if refused.
bool SetCustomBaud(int fd, quint32 rate);
