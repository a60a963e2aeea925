#include "serial/CommTermios.h"
#include <sys/ioctl.h>

using namespace dcbflag;

namespace {
struct BaudPair {
    quint32 rate;
    speed_t constant;
};
const BaudPair kBauds[] = {
    {50, B50},
    {75, B75},
    {110, B110},
    {134, B134},
    {150, B150},
    {200, B200},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {500000, B500000},
    {576000, B576000},
    {921600, B921600},
    {1000000, B1000000},
    {1152000, B1152000},
    {1500000, B1500000},
    {2000000, B2000000},
    {2500000, B2500000},
    {3000000, B3000000},
    {3500000, B3500000},
    {4000000, B4000000},
};
} // namespace

speed_t BaudConstant(quint32 rate)
{
    for (const auto &b : kBauds)
        if (b.rate == rate)
            return b.constant;
    return B0;
}

quint32 BaudFromConstant(speed_t constant)
{
    for (const auto &b : kBauds)
        if (b.constant == constant)
            return b.rate;
    return 0;
}

TermiosPlan BuildTermios(const TCommDcb &dcb)
{
    TermiosPlan plan;
    // Below 10 bit/s the half-duplex guard time (a character time) is undefined.
    if (dcb.BaudRate < 10 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 2 || dcb.StopBits > 2)
        return plan;
    // One and a half stop bits exist only with five data bits, and two stop
    // bits never with five: the same combinations a UART driver rejects.
    if (dcb.StopBits == 1 && dcb.ByteSize != 5)
        return plan;
    if (dcb.StopBits == 2 && dcb.ByteSize == 5)
        return plan;
    if (dcb.XonChar == dcb.XoffChar)
        return plan;

    termios t{};
    if ((dcb.Flags & Parity) && dcb.Parity != 0)
        t.c_iflag |= INPCK;
    if (dcb.Flags & OutX)
        t.c_iflag |= IXON;
    if (dcb.Flags & InX)
        t.c_iflag |= IXOFF;

    // Raw: no output processing, no line editing, no echo, no signals.
    // HUPCL as a fresh port has it: the modem lines drop when the port closes.
    t.c_cflag = CREAD | CLOCAL | HUPCL;
    switch (dcb.ByteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
    }
    if (dcb.Parity == 1)
        t.c_cflag |= PARENB | PARODD;
    else if (dcb.Parity == 2)
        t.c_cflag |= PARENB;
    if (dcb.StopBits != 0)
        t.c_cflag |= CSTOPB;
    if ((dcb.Flags & OutxCtsFlow) || (dcb.Flags & RtsControlMask) == RtsControlHandshake)
        t.c_cflag |= CRTSCTS;

    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);

    const speed_t constant = BaudConstant(dcb.BaudRate);
    if (constant != B0) {
        cfsetispeed(&t, constant);
        cfsetospeed(&t, constant);
    } else {
        // Placeholder speed; the real rate goes in through termios2.
        cfsetispeed(&t, B38400);
        cfsetospeed(&t, B38400);
        plan.customBaud = true;
    }
    plan.baud = dcb.BaudRate;
    plan.tio = t;
    plan.ok = true;
    return plan;
}

TCommDcb DcbFromTermios(const termios &tio)
{
    TCommDcb dcb;
    const quint32 rate = BaudFromConstant(cfgetospeed(&tio));
    dcb.BaudRate = rate ? rate : 9600;
    switch (tio.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
    }
    if (tio.c_cflag & PARENB)
        dcb.Parity = (tio.c_cflag & PARODD) ? 1 : 2;
    dcb.StopBits = (tio.c_cflag & CSTOPB) ? (dcb.ByteSize == 5 ? 1 : 2) : 0;
    dcb.Flags = Binary | DtrControlEnable;
    if (tio.c_cflag & CRTSCTS)
        dcb.Flags |= OutxCtsFlow | RtsControlHandshake;
    else
        dcb.Flags |= RtsControlEnable;
    if (tio.c_iflag & INPCK)
        dcb.Flags |= Parity;
    if (tio.c_iflag & IXON)
        dcb.Flags |= OutX;
    if (tio.c_iflag & IXOFF)
        dcb.Flags |= InX;
    dcb.XonChar = tio.c_cc[VSTART];
    dcb.XoffChar = tio.c_cc[VSTOP];
    return dcb;
}
