#include "serial/CommLine.h"

qint32 CounterErrors(const TCommCounters &before, const TCommCounters &after)
{
    qint32 e = 0;
    if (after.overrun != before.overrun)
        e |= 0x02;
    if (after.parity != before.parity)
        e |= 0x04;
    if (after.frame != before.frame)
        e |= 0x08;
    return e;
}

bool CounterBreak(const TCommCounters &before, const TCommCounters &after)
{
    return after.brk != before.brk;
}
