#include "serial/PortMap.h"
#include "core/IniFile.h"
#include "core/Settings.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#ifndef Q_OS_WIN
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

QString ChannelDevice(
    int channel, const QMap<int, QString> &overrides, const QStringList &present, const PathCanonicalizer &canonical)
{
    if (channel < 1)
        return {};
    const auto canon = [&](const QString &p) { return canonical ? canonical(p) : p; };
    const auto it = overrides.find(channel);
    if (it != overrides.end())
        return it.value();

    QSet<QString> named;
    for (const QString &p : overrides)
        named.insert(canon(p));
    QStringList remaining;
    for (const QString &p : present)
        if (!named.contains(canon(p)))
            remaining << p;

    // Free channels below ours each consume one remaining device first.
    int index = 0;
    for (int c = 1; c < channel; ++c)
        if (!overrides.contains(c))
            ++index;
    return index < remaining.size() ? remaining.at(index) : QString();
}

int ChannelOfKey(const QString &key)
{
    static const QRegularExpression re(QStringLiteral("^COM([0-9]{1,9})$"), QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(key.trimmed());
    if (!m.hasMatch())
        return 0;
    return m.captured(1).toInt();
}

QStringList OrderSerialNames(const QStringList &names)
{
    static const QRegularExpression re(QStringLiteral("^tty(S|USB|ACM)([0-9]+)$"));
    struct Entry {
        int group;
        int number;
        QString name;
    };
    std::vector<Entry> entries;
    for (const QString &n : names) {
        const auto m = re.match(n);
        if (!m.hasMatch())
            continue;
        const QString kind = m.captured(1);
        const int group = kind == QLatin1String("S") ? 0 : kind == QLatin1String("USB") ? 1 : 2;
        entries.push_back({group, m.captured(2).toInt(), n});
    }
    std::sort(entries.begin(), entries.end(),
        [](const Entry &a, const Entry &b) { return a.group != b.group ? a.group < b.group : a.number < b.number; });
    QStringList out;
    for (const auto &e : entries)
        out << e.name;
    return out;
}

QStringList OrderComNames(const QStringList &names)
{
    static const QRegularExpression re(QStringLiteral("^COM([0-9]{1,9})$"), QRegularExpression::CaseInsensitiveOption);
    std::vector<std::pair<int, QString>> ports;
    for (const QString &n : names) {
        const auto m = re.match(n.trimmed());
        if (m.hasMatch() && m.captured(1).toInt() > 0)
            ports.emplace_back(m.captured(1).toInt(), n.trimmed().toUpper());
    }
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    QStringList out;
    for (const auto &p : ports)
        out << p.second;
    return out;
}

#ifndef Q_OS_WIN
namespace {
// A ttyS node exists whether or not a UART answers behind it; the driver
// reports PORT_UNKNOWN for the empty ones.
bool UartPresent(const QString &path)
{
    // sysfs tells the UART type without opening the port (opening raises
    // DTR and RTS on a real line).
    QFile type(QStringLiteral("/sys/class/tty/") + QFileInfo(path).fileName() + QStringLiteral("/type"));
    if (type.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const int t = type.readAll().trimmed().toInt(&ok);
        if (ok)
            return t != PORT_UNKNOWN;
    }
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES || errno == EBUSY; // there, but not ours to probe
    serial_struct ss{};
    const bool ok = ioctl(fd, TIOCGSERIAL, &ss) == 0 && ss.type != PORT_UNKNOWN;
    ::close(fd);
    return ok;
}
} // namespace

QStringList ScanSerialDevices(const QString &devDir, const std::function<bool(const QString &)> &isPresentUart)
{
    // Every device that exists counts, whether or not this user may open it:
    // channel numbers must not change with permissions, and opening one the
    // user may not use fails with the hint about the dialout group.
    const QDir dir(devDir);
    const QStringList names = OrderSerialNames(
        dir.entryList({QStringLiteral("ttyS*"), QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")},
            QDir::System | QDir::Files | QDir::NoDotAndDotDot));
    const auto present = isPresentUart ? isPresentUart : UartPresent;
    QStringList out;
    for (const QString &n : names) {
        const QString path = dir.filePath(n);
        if (n.startsWith(QLatin1String("ttyS")) && !present(path))
            continue;
        out << path;
    }
    return out;
}
#endif

QMap<int, QString> ReadPortOverrides(const QString &iniPath)
{
    QMap<int, QString> map;
    if (!QFileInfo::exists(iniPath))
        return map;
    const IniFile ini(iniPath);
    const QString section = QStringLiteral("Ports");
    for (const QString &key : ini.keys(section)) {
        const int channel = ChannelOfKey(key);
        const QString path = ini.readString(section, key).trimmed();
        if (channel > 0 && !path.isEmpty())
            map.insert(channel, path);
    }
    return map;
}

#ifndef Q_OS_WIN
QString ResolveChannel(int channel)
{
    const auto canonical = [](const QString &p) {
        const QString c = QFileInfo(p).canonicalFilePath();
        return c.isEmpty() ? p : c;
    };
    return ChannelDevice(channel, ReadPortOverrides(settings::IniFilePath()), ScanSerialDevices(), canonical);
}
#endif
