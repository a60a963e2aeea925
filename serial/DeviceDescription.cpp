#include "serial/DeviceDescription.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString ReadAttribute(const QDir &dir, const char *name)
{
    QFile f(dir.filePath(QString::fromLatin1(name)));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.read(256)).trimmed();
}

} // namespace

QString DescribeSerialDevice(const QString &devicePath, const QString &sysRoot)
{
    const QString node = QFileInfo(devicePath).canonicalFilePath();
    const QString name = QFileInfo(node.isEmpty() ? devicePath : node).fileName();
    const QString root = QDir(sysRoot).canonicalPath();
    QString dev = QFileInfo(QStringLiteral("%1/class/tty/%2/device").arg(sysRoot, name)).canonicalFilePath();
    if (name.isEmpty() || root.isEmpty() || dev.isEmpty())
        return devicePath;

    // From the port up through its interface to the USB device, which holds the ids.
    for (QDir d(dev); d.absolutePath().startsWith(root + QLatin1Char('/'));) {
        const QString vendor = ReadAttribute(d, "idVendor");
        const QString product = ReadAttribute(d, "idProduct");
        if (!vendor.isEmpty() && !product.isEmpty()) {
            QStringList words;
            for (const char *attr : {"manufacturer", "product"}) {
                const QString s = ReadAttribute(d, attr);
                if (!s.isEmpty())
                    words << s;
            }
            const QString ids = QStringLiteral("(%1:%2)").arg(vendor, product);
            words << ids;
            return devicePath + QStringLiteral(" — ") + words.join(QLatin1Char(' '));
        }
        if (!d.cdUp())
            break;
    }
    return devicePath;
}
