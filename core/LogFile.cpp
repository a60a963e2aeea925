#include "core/LogFile.h"
#include "core/Messages.h"
#include "core/SjisText.h"

#include <QFile>

#include <stdexcept>

QString ReadLogFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error(messages::CannotOpenFile(path).toStdString());
    const QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw std::runtime_error(messages::CannotOpenFile(path).toStdString());
    return sjis::decodeText(data);
}

ByteLines ReadLogFileLines(const QString &path)
{
    return ByteLines::fromText(sjis::encode(ReadLogFile(path)));
}
