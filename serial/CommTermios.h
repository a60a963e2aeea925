#pragma once
// Pure translation of the component's line parameters into termios settings.
// Nothing here touches a descriptor, so every mode can be checked in a table.
#include "serial/CommTypes.h"
#include <termios.h>

// The control flag word of a flow-control mode.
quint32 FlowCtrlFlags(TCommFlowCtrls mode);

// Writes the flag word and both XON/XOFF thresholds (a quarter of the
// receive buffer) of a flow-control mode into the block.
void ApplyFlowCtrl(TCommDcb &dcb, TCommFlowCtrls mode, qint32 bufLenReceive);

struct TermiosPlan {
    bool ok = false; // false: the driver would refuse this block
    termios tio{};
    bool customBaud = false; // the rate has no B-constant: set it with BOTHER
    quint32 baud = 0;
};

// Builds the whole raw-mode termios state from the block alone, starting
// from a cleared structure: nothing another program left on the port (start
// and stop characters, character size, RS-485 or canonical mode) survives.
TermiosPlan BuildTermios(const TCommDcb &dcb);

// The block an open starts from before the properties are applied one by
// one: 9600 bit/s, 8N1, the flow-control mode, and the component's own
// XON/XOFF characters (DC1/DC3 while those two are equal, so that the
// refusal names the character property and not the first one applied).
TCommDcb OpenBaseDcb(TCommFlowCtrls flow, qint32 bufLenReceive, quint8 xonChar, quint8 xoffChar);

// Reads what a port currently holds back into a block (open, step "read the
// current block"); fields termios cannot express keep their defaults.
TCommDcb DcbFromTermios(const termios &tio);

// B-constant for a rate, or B0 when the rate has none.
speed_t BaudConstant(quint32 rate);
// Rate of a B-constant, 0 for unknown.
quint32 BaudFromConstant(speed_t constant);

// TIOCM_* bits -> the modem status word IsSignal tests.
quint32 ModemStatusWord(int tiocmBits);

// Half-duplex guard time in ms: one character time at BitRate plus one.
// Rates below 10 bit/s are refused before this is ever asked.
qint32 HalfDelayFor(qint32 bitRate);
