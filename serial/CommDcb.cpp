#include "serial/CommDcb.h"
#include "serial/CommLine.h"

#ifndef Q_OS_WIN
#include <sys/ioctl.h> // TIOCM_*
#endif

using namespace dcbflag;

quint32 FlowCtrlFlags(TCommFlowCtrls mode)
{
    const quint32 base = Binary | Parity;
    switch (mode) {
    case cfcRtsCts: return base | OutxCtsFlow | DtrControlEnable | RtsControlHandshake;
    case cfcDtrDsr: return base | OutxDsrFlow | DtrControlHandshake | RtsControlEnable;
    case cfcXonXoff: return base | DtrControlEnable | OutX | InX | RtsControlEnable;
    case cfcHalfHigh: return base | DtrControlEnable;
    case cfcHalfLow:
    case cfcNone: return base | DtrControlEnable | RtsControlEnable;
    }
    return base | DtrControlEnable | RtsControlEnable;
}

void ApplyFlowCtrl(TCommDcb &dcb, TCommFlowCtrls mode, qint32 bufLenReceive)
{
    dcb.Flags = FlowCtrlFlags(mode);
    const quint16 limit = static_cast<quint16>(bufLenReceive / 4);
    dcb.XonLim = limit;
    dcb.XoffLim = limit;
}

TCommDcb OpenBaseDcb(TCommFlowCtrls flow, qint32 bufLenReceive, quint8 xonChar, quint8 xoffChar)
{
    TCommDcb dcb;
    ApplyFlowCtrl(dcb, flow, bufLenReceive);
    if (xonChar != xoffChar) {
        dcb.XonChar = xonChar;
        dcb.XoffChar = xoffChar;
    }
    return dcb;
}

qint32 HalfDelayFor(qint32 bitRate)
{
    const qint32 charsPerSecond = bitRate / 10;
    if (charsPerSecond <= 0)
        return 1001; // unreachable in use: such rates are refused
    return 1000 / charsPerSecond + 1;
}

quint32 ModemStatusWord(int tiocmBits)
{
    return (tiocmBits & TIOCM_CTS ? modemstat::Cts : 0) | (tiocmBits & TIOCM_DSR ? modemstat::Dsr : 0)
        | (tiocmBits & TIOCM_RNG ? modemstat::Ring : 0) | (tiocmBits & TIOCM_CAR ? modemstat::Rlsd : 0);
}
