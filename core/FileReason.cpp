#include "core/FileReason.h"

#include <cerrno>
#include <cstring>

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
#ifdef EDQUOT
    case EDQUOT:
#endif
        return QStringLiteral("ディスクの空きがありません");
    case EROFS: return QStringLiteral("読み取り専用の場所です");
    case ENAMETOOLONG: return QStringLiteral("名前が長すぎます");
    case 0: return QStringLiteral("原因不明");
    }
    // Anything rarer in the system's own words.
    return QString::fromLocal8Bit(std::strerror(err));
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
