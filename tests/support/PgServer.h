#pragma once
// A throwaway PostgreSQL server for one test program: its own cluster in a
// temporary folder, reached only through a socket in that folder (so no port
// is shared with anything else), made with initdb and run with pg_ctl as the
// postgres account when the tests run as root, as the caller otherwise.
// Stopped and removed with the object.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

class PgServer
{
public:
    PgServer() = default;
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;
    ~PgServer()
    {
        if (m_running)
            stop();
        if (!m_base.isEmpty())
            QDir(m_base).removeRecursively();
    }

    // Makes the cluster (once) and starts it; false with reason() when it cannot.
    bool start()
    {
        if (m_bin.isEmpty() && !findServer())
            return false;
        if (m_base.isEmpty() && !makeCluster())
            return false;
        if (!run(m_bin + "/pg_ctl",
                {"-D", m_base + "/data", "-l", m_base + "/server.log", "-w", "-t", "60", "-o",
                    QStringLiteral("-k %1 -c listen_addresses= -p %2 -c fsync=off").arg(m_base).arg(Port), "start"},
                true))
            return false;
        m_running = true;
        return true;
    }

    bool stop()
    {
        m_running = false;
        return run(m_bin + "/pg_ctl", {"-D", m_base + "/data", "-m", "fast", "-w", "stop"}, true);
    }

    bool isRunning() const { return m_running; }
    QString reason() const { return m_reason; }

    // The libpq keywords of database db on this server (as --library takes them).
    QString location(const QString &db, const QString &user = QStringLiteral("voltrak")) const
    {
        return QStringLiteral("host=%1 port=%2 user=%3 dbname=%4").arg(m_base).arg(Port).arg(user, db);
    }

    // Runs sql with psql in database db (as the cluster's owner unless user is given).
    bool psql(const QString &db, const QString &sql, QString *output = nullptr,
        const QString &user = QStringLiteral("voltrak"))
    {
        QProcess p;
        p.start(m_bin + "/psql",
            {"-X", "-q", "-t", "-A", "-v", "ON_ERROR_STOP=1", "-h", m_base, "-p", QString::number(Port), "-U", user,
                "-d", db, "-c", sql});
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            m_reason = QString::fromUtf8(p.readAllStandardError());
            return false;
        }
        if (output)
            *output = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
        return true;
    }

    // A new, empty database; its location.
    QString newDatabase()
    {
        const QString name = QStringLiteral("lib%1").arg(++m_databases);
        return psql("postgres", QStringLiteral("CREATE DATABASE %1").arg(name)) ? location(name) : QString();
    }

    // Where the cluster's files are (the log is server.log).
    QString folder() const { return m_base; }

private:
    static constexpr int Port = 5432;

    bool findServer()
    {
        // The newest installed server, as Debian lays it out.
        const QStringList versions = QDir("/usr/lib/postgresql").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        int best = -1;
        for (const QString &v : versions) {
            if (QFileInfo::exists("/usr/lib/postgresql/" + v + "/bin/initdb") && v.toInt() > best)
                best = v.toInt();
        }
        if (best < 0) {
            m_reason = "PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb): "
                       "scripts/install-deps installs it";
            return false;
        }
        m_bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(best);
        return true;
    }

    bool makeCluster()
    {
        // A short path: the socket's name must fit in 107 bytes.
        char name[] = "/tmp/vtpg-XXXXXX";
        if (!mkdtemp(name)) {
            m_reason = "no temporary folder";
            return false;
        }
        m_base = QString::fromLocal8Bit(name);
        if (geteuid() == 0) {
            const passwd *pg = getpwnam("postgres");
            if (!pg || chown(name, pg->pw_uid, pg->pw_gid) != 0) {
                m_reason = "no postgres account to run the server as";
                return false;
            }
            m_asPostgres = true;
        }
        return run(m_bin + "/initdb",
            {"-D", m_base + "/data", "-A", "trust", "-U", "voltrak", "-E", "UTF8", "--locale=C.UTF-8", "--no-sync"},
            true);
    }

    bool run(const QString &program, const QStringList &args, bool asServer)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        if (asServer && m_asPostgres)
            p.start("runuser", QStringList{"-u", "postgres", "--", program} + args);
        else
            p.start(program, args);
        if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            m_reason = QFileInfo(program).fileName() + ": " + QString::fromLocal8Bit(p.readAll());
            return false;
        }
        return true;
    }

    QString m_bin, m_base, m_reason;
    bool m_asPostgres = false, m_running = false;
    int m_databases = 0;
};
