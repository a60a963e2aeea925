#include "serial/PortWatcher.h"
#include "serial/Commx.h"
#ifdef Q_OS_WIN
#include "serial/PortMap.h"
#endif

#include <QDir>
#include <QFileInfo>
#include <QTimer>

PortWatcher::PortWatcher(TCustomCommX *port, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(CheckIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &PortWatcher::CheckNow);
}

void PortWatcher::Remember(const QString &devicePath)
{
    m_path = devicePath;
    m_byIdName.clear();
    const QDir byId(m_byIdDir);
    if (devicePath.isEmpty() || QFileInfo(devicePath).absolutePath() == byId.absolutePath())
        return;
    const QString node = QFileInfo(devicePath).canonicalFilePath();
    if (node.isEmpty())
        return;
    const QStringList links = byId.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : links) {
        if (QFileInfo(byId.filePath(name)).canonicalFilePath() == node) {
            m_byIdName = name;
            return;
        }
    }
}

bool PortWatcher::PortLost(const QString &devicePath)
{
    if (m_path.isEmpty() || QFileInfo(devicePath).absoluteFilePath() != QFileInfo(m_path).absoluteFilePath())
        Remember(devicePath); // opened without our knowing; the path is all there is
    m_timer->start();
    const bool report = !m_reported;
    m_reported = true;
    return report;
}

void PortWatcher::Forget()
{
    m_timer->stop();
    m_reported = false;
}

bool PortWatcher::IsWatching() const
{
    return m_timer->isActive();
}

QString PortWatcher::ReturnedPath() const
{
    if (!m_byIdName.isEmpty()) {
        // Open the node the link names now, as the scan would have found it.
        const QFileInfo link(QDir(m_byIdDir).filePath(m_byIdName));
        return link.exists() ? link.symLinkTarget() : QString();
    }
#ifdef Q_OS_WIN
    // A COM port is back when the system lists it again (a device path is no file to look for).
    const QString prefix = QStringLiteral("\\\\.\\");
    if (m_path.startsWith(prefix))
        return PresentComPorts().contains(m_path.mid(prefix.size()), Qt::CaseInsensitive) ? m_path : QString();
#endif
    return !m_path.isEmpty() && QFileInfo::exists(m_path) ? m_path : QString();
}

bool PortWatcher::CheckNow()
{
    if (m_port->IsOpen()) {
        // Opened by other means meanwhile.
        m_timer->stop();
        return false;
    }
    const QString path = ReturnedPath();
    if (path.isEmpty())
        return false;
    // The component opens by channel; for this one open, the channel is the returned device.
    const TCustomCommX::ChannelResolver saved = m_port->channelResolver();
    m_port->setChannelResolver([path](qint32) { return path; });
    try {
        m_port->PortOpen();
    } catch (const ECommError &) {
        // A node that has just appeared may not be ready (udev still setting
        // its group, another program probing it): look again next time.
        m_port->setChannelResolver(saved);
        return false;
    }
    m_port->setChannelResolver(saved);
    m_timer->stop();
    const QString byId = m_byIdName;
    Remember(path);
    if (m_byIdName.isEmpty())
        m_byIdName = byId;
    emit reopened(path);
    return true;
}
