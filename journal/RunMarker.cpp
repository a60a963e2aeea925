#include "journal/RunMarker.h"
#include "journal/Journal.h"
#include "journal/PaneSnapshot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace journal {
namespace {

QByteArray Native(const QString &path)
{
    return QFile::encodeName(path);
}

QByteArray MarkerText(const QString &iniPath)
{
    return QByteArray::number(qint64(::getpid())) + '\n' + QFileInfo(iniPath).absoluteFilePath().toUtf8() + '\n';
}

// The ini file a marker names (its second line).
QString MarkerIni(int fd)
{
    QByteArray text(4096, '\0');
    const ssize_t n = ::pread(fd, text.data(), static_cast<size_t>(text.size()), 0);
    text.truncate(n > 0 ? n : 0);
    const QList<QByteArray> lines = text.split('\n');
    return lines.size() > 1 ? QString::fromUtf8(lines.at(1)) : QString();
}

// True when path still names the file open on fd (it was not removed or
// replaced between the open and the lock).
bool SameFile(int fd, const QString &path)
{
    struct stat a {
    }, b{};
    return ::fstat(fd, &a) == 0 && ::stat(Native(path).constData(), &b) == 0 && a.st_dev == b.st_dev
        && a.st_ino == b.st_ino;
}

} // namespace

RunMarker::~RunMarker()
{
    // Without remove() the marker stays: this run did not end through the close path.
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RunMarker::create(const QString &folder, const QDateTime &start, const QString &iniPath)
{
    if (m_fd >= 0 || !QDir().mkpath(folder))
        return false;
    // Made and locked under a temporary name first, then linked into place,
    // so a marker is never seen unlocked while its run is alive.
    QByteArray temp = Native(folder + QStringLiteral("/.run-XXXXXX"));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const QByteArray text = MarkerText(iniPath);
    bool ok = ::flock(fd, LOCK_EX) == 0 && ::write(fd, text.constData(), size_t(text.size())) == text.size();
    if (ok) {
        ok = false;
        for (int i = 1; i < 1000; ++i) {
            const QString base = folder + QLatin1Char('/') + RunName(start, i);
            if (QFileInfo::exists(base + QStringLiteral(".log")))
                continue;
            const QString path = base + QStringLiteral(".run");
            if (::link(temp.constData(), Native(path).constData()) == 0) {
                m_index = i;
                m_path = path;
                ok = true;
                break;
            }
            if (errno != EEXIST)
                break;
        }
    }
    ::unlink(temp.constData());
    if (!ok) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void RunMarker::remove()
{
    if (m_fd < 0)
        return;
    ::unlink(Native(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
}

Unfinished::~Unfinished()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Unfinished::Unfinished(Unfinished &&other) noexcept
{
    *this = std::move(other);
}

Unfinished &Unfinished::operator=(Unfinished &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_marker = std::move(other.m_marker);
        m_journal = std::move(other.m_journal);
    }
    return *this;
}

QString Unfinished::snapshotPath() const
{
    return m_journal.isEmpty() ? QString() : SnapshotPathFor(m_journal);
}

void Unfinished::dismiss()
{
    if (m_fd < 0)
        return;
    ::unlink(Native(snapshotPath()).constData());
    ::unlink(Native(m_marker).constData());
    ::close(m_fd);
    m_fd = -1;
}

Unfinished Unfinished::claim(const QString &markerPath, const QString &ini)
{
    Unfinished found;
    const int fd = ::open(Native(markerPath).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return found;
    // Locked: a copy that is still running. Another ini file: not ours to judge.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !SameFile(fd, markerPath) || MarkerIni(fd) != ini) {
        ::close(fd);
        return found;
    }
    found.m_fd = fd;
    found.m_marker = markerPath;
    return found;
}

} // namespace journal
