#include "core/Messages.h"

namespace messages {

QString NoValidData()
{
    return QStringLiteral("有効なデータがありません");
}

QString CannotOpenFile(const QString &path)
{
    return QStringLiteral("ファイル %1 は開けません").arg(path);
}

QString FileWriteFailed()
{
    return QStringLiteral("ファイル書き込み失敗");
}

QString IniWriteFailed()
{
    return QStringLiteral("iniファイル書き込み失敗");
}

QString LogFileFilter()
{
    return QStringLiteral("テキスト,ログファイル (*.txt *.log)");
}

QString SaveGraphAs()
{
    return QStringLiteral("名前を付けてグラフを保存(BMP,WMF)");
}

} // namespace messages
