#include "core/TextSniff.h"

#include <QFile>

namespace textsniff {

bool LooksLikeText(const QByteArray &head)
{
    qsizetype control = 0;
    for (const char ch : head) {
        const uchar c = uchar(ch);
        if (c == 0)
            return false;
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\f' && c != '\r') || c == 0x7F)
            ++control;
    }
    return control * 2 <= head.size();
}

QByteArray ReadHead(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(HeadBytes);
}

} // namespace textsniff
