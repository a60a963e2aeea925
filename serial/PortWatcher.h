#pragma once
// Brings a lost port back. When the device of the open port goes away, the
// watcher looks for the same device to appear again and reopens the port on
// it with the settings the component holds, so reception goes on by itself.
//
// "The same device" is the same USB adapter, by its /dev/serial/by-id name,
// when the port was opened on a kernel name (/dev/ttyUSB0) that such a link
// pointed to: the adapter may come back under another number, and another
// adapter may take the old one. Otherwise (a by-id path, a symbolic link of
// the user's, a built-in UART) it is the same path.
#include <QObject>
#include <QString>

class QTimer;
class TCustomCommX;

class PortWatcher : public QObject
{
    Q_OBJECT
public:
    explicit PortWatcher(TCustomCommX *port, QObject *parent = nullptr);

    // Notes the device the port has just been opened on, while its by-id
    // link still exists.
    void Remember(const QString &devicePath);

    // The port lost its device: starts watching. True for the first loss
    // since the channel was chosen (that one is reported); a device that
    // comes and goes again is not reported again.
    bool PortLost(const QString &devicePath);

    // The user chose a channel: watching ends, and the next loss is reported.
    void Forget();

    bool IsWatching() const;
    // The by-id name remembered for the device, empty when the path itself is the identity.
    QString ByIdName() const { return m_byIdName; }
    // The path the watched device has now, or empty while it is absent.
    QString ReturnedPath() const;
    // Looks once; true when the port was reopened.
    bool CheckNow();

    // Tests point these elsewhere.
    void setByIdDir(const QString &dir) { m_byIdDir = dir; }
    // How often the watcher looks, in ms; a device is back in well under 2 s.
    static constexpr int CheckIntervalMs = 250;

signals:
    void reopened(const QString &devicePath);

private:
    TCustomCommX *m_port;
    QTimer *m_timer;
    QString m_byIdDir = QStringLiteral("/dev/serial/by-id");
    QString m_path;
    QString m_byIdName;
    bool m_reported = false;
};
