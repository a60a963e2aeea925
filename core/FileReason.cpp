#include "core/FileReason.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace filereason {

QString ReasonText(int err)
{
    switch (err) {
    case ENOENT: return QStringLiteral("ファイルまたはフォルダがありません");
    case ENOTDIR: return QStringLiteral("途中の名前がフォルダではありません");
    case EISDIR: return QStringLiteral("フォルダです");
    case EACCES:
    case EPERM: return QStringLiteral("アクセスが許可されていません");
    case ENOSPC:
    case EDQUOT: return QStringLiteral("ディスクの空きがありません");
    case EROFS: return QStringLiteral("読み取り専用の場所です");
    case ENAMETOOLONG: return QStringLiteral("名前が長すぎます");
    case 0: return QStringLiteral("原因不明");
    }
    // Anything rarer in the system's own words.
    return QString::fromLocal8Bit(std::strerror(err));
}

int ReadProblem(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno;
    struct stat st { };
    int err = 0;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (S_ISDIR(st.st_mode))
        err = EISDIR;
    ::close(fd);
    return err;
}

QString CannotRead(const QString &path, int err)
{
    return QStringLiteral("ファイル %1 は開けません（%2）").arg(path, ReasonText(err));
}

QString CannotWrite(const QString &path, int err)
{
    return QStringLiteral("ファイル %1 に書き込めません（%2）").arg(path, ReasonText(err));
}

} // namespace filereason
