#include "core/SafeWrite.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace safewrite {
namespace {

[[noreturn]] void Fail(const QString &path, const char *what, int err)
{
    throw WriteError(QStringLiteral("%1 %2: %3")
                         .arg(QString::fromUtf8(what), path, QString::fromLocal8Bit(std::strerror(err)))
                         .toStdString(),
        err);
}

bool WriteAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// The process's umask, read without changing it (umask() itself can only
// be read by setting it, which would race with other threads).
mode_t CurrentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return static_cast<mode_t>(mask & 0777);
            }
        }
    }
    return 022;
}

// The file a path stands for: a symbolic link is followed, so the link
// itself survives the rename.
QString RealTarget(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return path;
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

Method WriteInPlace(const QString &path, const QByteArray &native, const QByteArray &data)
{
    const int fd = ::open(native.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        Fail(path, "cannot write", errno);
    if (!WriteAll(fd, data)) {
        const int err = errno;
        ::close(fd);
        Fail(path, "cannot write", err);
    }
    struct stat st { };
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        Fail(path, "cannot write", err);
    }
    if (::close(fd) != 0)
        Fail(path, "cannot write", errno);
    return Method::InPlace;
}

// Errors that mean "this folder takes no new file here", not "the disk is
// full" or "the data is bad": only these turn into writing in place.
bool FolderRefuses(int err)
{
    return err == EACCES || err == EPERM || err == EROFS || err == EBUSY || err == EXDEV;
}

} // namespace

Method WriteFile(const QString &path, const QByteArray &data)
{
    if (path.isEmpty())
        Fail(path, "cannot create", ENOENT);
    const QString target = RealTarget(path);
    const QByteArray native = QFile::encodeName(target);

    struct stat st { };
    const bool exists = ::stat(native.constData(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        Fail(path, "cannot create", EISDIR);
    if (exists && !S_ISREG(st.st_mode))
        return WriteInPlace(path, native, data); // never rename over a device or a pipe
    if (exists) {
        // Refuse a file we may not write, as writing in place would; a rename
        // would replace it regardless. open() rather than access(): it asks
        // with the rights this process really uses.
        const int probe = ::open(native.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (probe < 0)
            Fail(path, "cannot write", errno);
        ::close(probe);
    }

    const QFileInfo info(target);
    QByteArray temp
        = QFile::encodeName(info.absolutePath()) + "/." + QFile::encodeName(info.fileName()).left(200) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (exists && FolderRefuses(err))
            return WriteInPlace(path, native, data);
        Fail(path, "cannot create", err);
    }
    const auto abandon = [&](int err) {
        ::close(fd);
        ::unlink(temp.constData());
        Fail(path, "cannot write", err);
    };
    if (!WriteAll(fd, data) || ::fsync(fd) != 0)
        abandon(errno);
    if (exists) {
        // Owner first: changing it can clear the set-id bits the mode restores.
        if (::fchown(fd, st.st_uid, st.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
            // Only root may give a file away: ours it becomes, with its mode kept.
        }
        if (::fchmod(fd, st.st_mode & 07777) != 0)
            abandon(errno);
    } else if (::fchmod(fd, 0666 & ~CurrentUmask()) != 0) {
        abandon(errno);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        Fail(path, "cannot write", err);
    }
    if (::rename(temp.constData(), native.constData()) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        if (exists && FolderRefuses(err))
            return WriteInPlace(path, native, data);
        Fail(path, "cannot replace", err);
    }
    return Method::Replaced;
}

void CommitFile(const QString &temp, const QString &target)
{
    const QByteArray from = QFile::encodeName(temp);
    const int fd = ::open(from.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        Fail(temp, "cannot open", errno);
    if (::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        Fail(temp, "cannot write", err);
    }
    ::close(fd);
    if (::rename(from.constData(), QFile::encodeName(target).constData()) != 0)
        Fail(target, "cannot replace", errno);
}

} // namespace safewrite
