#pragma once
// Pure translation of the component's line parameters into termios settings.
// Nothing here touches a descriptor, so every mode can be checked in a table.
#include "serial/CommDcb.h"
#include <termios.h>

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

// Reads what a port currently holds back into a block (open, step "read the
// current block"); fields termios cannot express keep their defaults.
TCommDcb DcbFromTermios(const termios &tio);

// B-constant for a rate, or B0 when the rate has none.
speed_t BaudConstant(quint32 rate);
// Rate of a B-constant, 0 for unknown.
quint32 BaudFromConstant(speed_t constant);
