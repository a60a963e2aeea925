#include "core/LogTimes.h"
#include "core/SjisText.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace logtimes {

namespace {
const QString StampForm = QStringLiteral("yyyy/MM/dd HH:mm");
} // namespace

QString RunName(const QDateTime &start, int index)
{
    const QString stem = start.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return index <= 1 ? stem : stem + QLatin1Char('-') + QString::number(index);
}

QDateTime RunStartOf(const QString &path)
{
    // Only what RunName makes and the journal adds: a log that merely begins
    // with digits is not a journal.
    static const QRegularExpression form(
        QStringLiteral(R"(^(\d{8}-\d{6})(?:-\d+)?\.log$)"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(QFileInfo(path).fileName());
    if (!m.hasMatch())
        return {};
    return QDateTime::fromString(m.captured(1), QStringLiteral("yyyyMMdd-HHmmss"));
}

QString RestartLine(const QDateTime &restart)
{
    return QStringLiteral("---- 再開 %1 ----").arg(restart.toString(StampForm));
}

QDateTime RestartTime(const QByteArray &line)
{
    // Most lines are rows or text: only one that starts as the line does is decoded.
    if (!line.trimmed().startsWith("---- "))
        return {};
    static const QRegularExpression form(QStringLiteral(R"(^\s*---- 再開 (\d{4}/\d\d/\d\d \d\d:\d\d) ----\s*$)"));
    const QRegularExpressionMatch m = form.match(sjis::decode(line));
    return m.hasMatch() ? QDateTime::fromString(m.captured(1), StampForm) : QDateTime();
}

} // namespace logtimes
