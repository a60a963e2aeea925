#pragma once
// What sysfs knows about a serial device: for a USB adapter, its product and
// maker strings and its vendor:product id, as the channel dialog shows them.
#include <QString>

// "/dev/ttyUSB0 — FTDI FT232R USB UART (0403:6001)"; the path alone when sysfs
// knows nothing about it. A symbolic link (/dev/serial/by-id/...) is described
// by the node it points to. sysRoot is "/sys" except in tests.
QString DescribeSerialDevice(const QString &devicePath, const QString &sysRoot = QStringLiteral("/sys"));
