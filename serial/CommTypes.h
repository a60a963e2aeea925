#pragma once
// Enumerations, the device control block and the event types of the serial
// port component, kept apart from the component so that the termios builder
// and the tests can use them without threads or Qt objects.
#include <QtGlobal>
#include <functional>

class TCustomCommX;

enum TCommParityBits : quint8 { cpbNone, cpbOdd, cpbEven };
enum TCommStopBits : quint8 { csb1, csb1p5, csb2 };
enum TCommFlowCtrls : quint8 { cfcRtsCts, cfcDtrDsr, cfcXonXoff, cfcHalfHigh, cfcHalfLow, cfcNone };

using TCommReceiveEvent = std::function<void(TCustomCommX *Sender, qint32 ReceiveSize)>;
using TCommBreakEvent = std::function<void(TCustomCommX *Sender)>;
using TCommErrEvent = std::function<void(TCustomCommX *Sender, qint32 ErrorState)>;

// Bits of the control flag word, in the classic DCB layout the flow-control
// modes are defined by.
namespace dcbflag {
constexpr quint32 Binary = 0x0001;
constexpr quint32 Parity = 0x0002;
constexpr quint32 OutxCtsFlow = 0x0004;
constexpr quint32 OutxDsrFlow = 0x0008;
constexpr quint32 DtrControlMask = 0x0030;
constexpr quint32 DtrControlEnable = 0x0010;
constexpr quint32 DtrControlHandshake = 0x0020;
constexpr quint32 OutX = 0x0100;
constexpr quint32 InX = 0x0200;
constexpr quint32 RtsControlMask = 0x3000;
constexpr quint32 RtsControlEnable = 0x1000;
constexpr quint32 RtsControlHandshake = 0x2000;
} // namespace dcbflag

// The line parameters as the component edits them, field by field.
struct TCommDcb {
    quint32 BaudRate = 9600;
    quint32 Flags = 0;
    quint16 XonLim = 0;
    quint16 XoffLim = 0;
    quint8 ByteSize = 8;
    quint8 Parity = 0; // 0 none, 1 odd, 2 even
    quint8 StopBits = 0; // 0 one, 1 one and a half, 2 two
    quint8 XonChar = 17;
    quint8 XoffChar = 19;
};

// Line error bits as passed to OnError.
namespace commerr {
constexpr qint32 Overrun = 0x02;
constexpr qint32 Parity = 0x04;
constexpr qint32 Frame = 0x08;
} // namespace commerr

// Modem status bits as IsSignal takes them.
namespace modemstat {
constexpr quint32 Cts = 0x10;
constexpr quint32 Dsr = 0x20;
constexpr quint32 Ring = 0x40;
constexpr quint32 Rlsd = 0x80;
} // namespace modemstat
