// Where a channel is on Windows: the COM port of the same number, as the system's serial drivers list them.
#include "core/Settings.h"
#include "serial/PortMap.h"

#include <windows.h>

QStringList PresentComPorts()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    QStringList names;
    for (DWORD i = 0;; ++i) {
        wchar_t valueName[256];
        DWORD nameLen = 256;
        wchar_t data[64];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        const LONG r
            = RegEnumValueW(key, i, valueName, &nameLen, nullptr, &type, reinterpret_cast<BYTE *>(data), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue;
        // The data need not end in a zero.
        names << QString::fromWCharArray(data, int(dataSize / sizeof(wchar_t))).section(QChar(0), 0, 0);
    }
    RegCloseKey(key);
    return OrderComNames(names);
}

QString ComDevicePath(int channel)
{
    return QStringLiteral("\\\\.\\COM%1").arg(channel);
}

QStringList ScanSerialDevices(const QString &, const std::function<bool(const QString &)> &)
{
    QStringList out;
    for (const QString &name : PresentComPorts())
        out << ComDevicePath(ChannelOfKey(name));
    return out;
}

QString ResolveChannel(int channel)
{
    if (channel < 1)
        return {};
    const QMap<int, QString> overrides = ReadPortOverrides(settings::IniFilePath());
    const auto it = overrides.find(channel);
    if (it == overrides.end())
        return ComDevicePath(channel);
    // A key may name the port ("COM5") or give its path.
    const int named = ChannelOfKey(it.value());
    return named > 0 ? ComDevicePath(named) : it.value();
}
