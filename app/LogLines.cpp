#include "app/LogLines.h"
#include "app/SjisText.h"

#include <QFile>
#include <stdexcept>

ByteLines ByteLines::fromText(const QByteArray &text)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = text.at(i);
        if (c == '\r' || c == '\n') {
            lines.append(text.mid(start, i - start));
            if (c == '\r' && i + 1 < n && text.at(i + 1) == '\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines.append(text.mid(start));
    return ByteLines(std::move(lines));
}

ByteLines ReadLogFile(const QString &path)
{
    QFile f(path);
    QByteArray data;
    if (f.open(QIODevice::ReadOnly))
        data = f.readAll();
    if (!f.isOpen() || f.error() != QFileDevice::NoError)
        throw std::runtime_error(QStringLiteral("ファイル %1 は開けません").arg(path).toStdString());
    // The pane decodes the file and hands out its lines encoded again; going
    // the same way gives the same lines (zero bytes dropped, breaks unified).
    return ByteLines::fromText(sjis::encode(sjis::decodeText(data)));
}
