#include "serial/CommLine.h"
#include <cstring>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace {

class PosixCommLine : public ICommLine
{
public:
    explicit PosixCommLine(int fd)
        : fd_(fd)
    { }

    bool SetModemBit(int tiocmBit, bool on) override
    {
        int bit = tiocmBit;
        return ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) == 0;
    }
    bool GetModemBits(int &tiocmBits) override { return ioctl(fd_, TIOCMGET, &tiocmBits) == 0; }
    bool GetCounters(TCommCounters &c) override
    {
        serial_icounter_struct ic;
        std::memset(&ic, 0, sizeof ic);
        if (ioctl(fd_, TIOCGICOUNT, &ic) != 0)
            return false;
        c.frame = static_cast<quint32>(ic.frame);
        c.parity = static_cast<quint32>(ic.parity);
        c.overrun = static_cast<quint32>(ic.overrun);
        c.brk = static_cast<quint32>(ic.brk);
        c.bufOverrun = static_cast<quint32>(ic.buf_overrun);
        return true;
    }
    bool SetBreak(bool on) override { return ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) == 0; }
    bool SetRs485(bool enable, bool rtsHighWhileSending) override
    {
        serial_rs485 rs;
        std::memset(&rs, 0, sizeof rs);
        if (ioctl(fd_, TIOCGRS485, &rs) != 0)
            return false;
        if (enable) {
            rs.flags |= SER_RS485_ENABLED;
            rs.flags &= ~(SER_RS485_RTS_ON_SEND | SER_RS485_RTS_AFTER_SEND);
            rs.flags |= rtsHighWhileSending ? SER_RS485_RTS_ON_SEND : SER_RS485_RTS_AFTER_SEND;
        } else {
            rs.flags &= ~SER_RS485_ENABLED;
        }
        return ioctl(fd_, TIOCSRS485, &rs) == 0;
    }
    bool OutputPending(int &bytes) override { return ioctl(fd_, TIOCOUTQ, &bytes) == 0; }

private:
    int fd_;
};

} // namespace

std::unique_ptr<ICommLine> MakeNativeCommLine(int fd)
{
    return std::make_unique<PosixCommLine>(fd);
}
