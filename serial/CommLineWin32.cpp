#include "serial/CommLine.h"

#include <mutex>

#include <windows.h>

namespace {

class Win32CommLine : public ICommLine
{
public:
    explicit Win32CommLine(HANDLE h)
        : m_h(h)
    { }

    bool SetModemBit(int tiocmBit, bool on) override
    {
        if (tiocmBit == TIOCM_DTR)
            return EscapeCommFunction(m_h, on ? SETDTR : CLRDTR);
        if (tiocmBit == TIOCM_RTS)
            return EscapeCommFunction(m_h, on ? SETRTS : CLRRTS);
        return false;
    }
    bool GetModemBits(int &tiocmBits) override
    {
        DWORD s = 0;
        if (!GetCommModemStatus(m_h, &s))
            return false;
        tiocmBits = (s & MS_CTS_ON ? TIOCM_CTS : 0) | (s & MS_DSR_ON ? TIOCM_DSR : 0) | (s & MS_RING_ON ? TIOCM_RNG : 0)
            | (s & MS_RLSD_ON ? TIOCM_CAR : 0);
        return true;
    }
    bool GetCounters(TCommCounters &c) override
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (!Poll())
            return false;
        c = m_counts;
        return true;
    }
    bool SetBreak(bool on) override { return on ? SetCommBreak(m_h) : ClearCommBreak(m_h); }
    bool SetRs485(bool enable, bool rtsHighWhileSending) override
    {
        // The driver can raise RTS while it sends (RTS_CONTROL_TOGGLE), not lower it.
        if (enable && !rtsHighWhileSending)
            return false;
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(m_h, &dcb))
            return false;
        if (enable)
            dcb.fRtsControl = RTS_CONTROL_TOGGLE;
        else if (dcb.fRtsControl == RTS_CONTROL_TOGGLE)
            dcb.fRtsControl = RTS_CONTROL_DISABLE;
        return SetCommState(m_h, &dcb);
    }
    bool OutputPending(int &bytes) override
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (!Poll())
            return false;
        bytes = int(m_outQueue);
        return true;
    }

private:
    // ClearCommError reports each error once and clears it; counting them lets every reader compare snapshots.
    bool Poll()
    {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!ClearCommError(m_h, &errors, &stat))
            return false;
        m_counts.frame += (errors & CE_FRAME) ? 1 : 0;
        m_counts.parity += (errors & CE_RXPARITY) ? 1 : 0;
        m_counts.overrun += (errors & CE_OVERRUN) ? 1 : 0;
        m_counts.brk += (errors & CE_BREAK) ? 1 : 0;
        m_counts.bufOverrun += (errors & CE_RXOVER) ? 1 : 0;
        m_outQueue = stat.cbOutQue;
        return true;
    }

    HANDLE m_h;
    std::mutex m_lock;
    TCommCounters m_counts;
    DWORD m_outQueue = 0;
};

} // namespace

std::unique_ptr<ICommLine> MakeNativeCommLine(void *handle)
{
    return std::make_unique<Win32CommLine>(static_cast<HANDLE>(handle));
}
