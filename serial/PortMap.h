#pragma once
// Channel number -> serial device path. Channel n is the device named by the
// ini file's "Ports" section under COM<n>; the channels without such a key
// take the present serial ports in turn (UARTs that really exist, then USB
// adapters, then CDC-ACM devices), lowest free channel first, leaving out
// devices a key already names.
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

using PathCanonicalizer = std::function<QString(const QString &)>;

// The pure mapping. overrides: channel -> path from the "Ports" section;
// present: the serial devices found, in counting order; canonical maps a
// path to the file it stands for (so a /dev/serial/by-id link and its
// ttyUSB node count as one device). Empty result: no device for the channel.
QString ChannelDevice(int channel, const QMap<int, QString> &overrides, const QStringList &present,
    const PathCanonicalizer &canonical = {});

// "COM3" -> 3; 0 for anything else (case-insensitive, as ini keys are).
int ChannelOfKey(const QString &key);

// Counting order of device names: ttyS*, ttyUSB*, ttyACM*, each by number.
// names are bare names ("ttyUSB0"); others are dropped.
QStringList OrderSerialNames(const QStringList &names);

// COM port names ("COM3", any case, blanks around) in number order, each once, upper case; others are dropped.
QStringList OrderComNames(const QStringList &names);

#ifdef Q_OS_WIN
// The COM ports Windows lists now (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), in number order: "COM1", "COM3".
QStringList PresentComPorts();
// The device path of a COM port name: "COM12" -> "\\.\COM12", which also opens ports above COM9.
QString ComDevicePath(int channel);
#endif

// The serial devices present under devDir, in counting order, full paths.
// isPresentUart decides whether a ttyS node has a real UART behind it.
QStringList ScanSerialDevices(
    const QString &devDir = QStringLiteral("/dev"), const std::function<bool(const QString &)> &isPresentUart = {});

// The "Ports" section of an ini file: channel -> path. The file is only read.
QMap<int, QString> ReadPortOverrides(const QString &iniPath);

// The resolver the program uses: the ini file beside the program plus /dev; on Windows the ini file's key, else
// channel n is COM<n> itself.
QString ResolveChannel(int channel);
