#pragma once
// The port's state as the main window's status bar words it.
#include <QString>
#include <QtGlobal>

namespace portstatus {

enum class State {
    Open, // the channel's device is open
    Closed, // nothing open (no device behind the channel, or the user closed it)
    Waiting, // the device went away; waiting for it to come back
};

// The adapter's name from a device description ("/dev/ttyUSB0 — FTDI FT232R
// USB UART (0403:6001)" gives "FTDI FT232R USB UART"); empty when the
// description is the path alone.
QString AdapterName(const QString &description);

// "COM1: /dev/ttyUSB0 FTDI FT232R USB UART" ("COM1" on Windows' own COM1, "COM1: COM5" where the ini file
// moves it), "ポート未接続" or "装置の再接続を待っています".
QString Text(State state, qint32 channel, const QString &devicePath, const QString &description);

} // namespace portstatus
