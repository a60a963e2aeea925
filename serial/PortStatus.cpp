#include "serial/PortStatus.h"

#include <QRegularExpression>

namespace portstatus {

QString AdapterName(const QString &description)
{
    const QString dash = QStringLiteral(" — ");
    const qsizetype at = description.indexOf(dash);
    if (at < 0)
        return QString();
    QString name = description.mid(at + dash.size());
    // The vendor:product numbers say nothing to a person at the bench.
    static const QRegularExpression ids(QStringLiteral("\\s*\\([0-9A-Fa-f]{4}:[0-9A-Fa-f]{4}\\)$"));
    name.remove(ids);
    return name.trimmed();
}

QString Text(State state, qint32 channel, const QString &devicePath, const QString &description)
{
    switch (state) {
    case State::Closed: return QStringLiteral("ポート未接続");
    case State::Waiting: return QStringLiteral("装置の再接続を待っています");
    case State::Open: break;
    }
    QString text = QStringLiteral("COM%1").arg(channel);
    // Windows names its ports "\\.\COM5": the prefix says nothing to a person, and a channel on the port of
    // its own number needs no second name.
    QString device = devicePath;
    if (device.startsWith(QLatin1String("\\\\.\\")))
        device.remove(0, 4);
    if (device.compare(text, Qt::CaseInsensitive) != 0)
        text += QStringLiteral(": ") + device;
    const QString name = AdapterName(description);
    if (!name.isEmpty())
        text += QLatin1Char(' ') + name;
    return text;
}

} // namespace portstatus
