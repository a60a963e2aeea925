#pragma once
// The device control block as the component builds it, independent of the system's serial interface (termios on
// Linux, the Win32 DCB on Windows).
#include "serial/CommTypes.h"

// The control flag word of a flow-control mode.
quint32 FlowCtrlFlags(TCommFlowCtrls mode);

// Writes the flag word and both XON/XOFF thresholds (a quarter of the
// receive buffer) of a flow-control mode into the block.
void ApplyFlowCtrl(TCommDcb &dcb, TCommFlowCtrls mode, qint32 bufLenReceive);

// The block an open starts from before the properties are applied one by
// one: 9600 bit/s, 8N1, the flow-control mode, and the component's own
// XON/XOFF characters (DC1/DC3 while those two are equal, so that the
// refusal names the character property and not the first one applied).
TCommDcb OpenBaseDcb(TCommFlowCtrls flow, qint32 bufLenReceive, quint8 xonChar, quint8 xoffChar);

// Half-duplex guard time in ms: one character time at BitRate plus one.
// Rates below 10 bit/s are refused before this is ever asked.
qint32 HalfDelayFor(qint32 bitRate);

// The line's TIOCM_* bits -> the modem status word IsSignal tests.
quint32 ModemStatusWord(int tiocmBits);
