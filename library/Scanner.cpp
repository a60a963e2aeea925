#include "library/Scanner.h"

namespace library {

QString ScannedLabel(const QString &typed, const QString &prefix)
{
    const QString text = typed.trimmed();
    const QString p = prefix.trimmed();
    if (p.isEmpty() || !text.startsWith(p))
        return text;
    return text.mid(p.size()).trimmed();
}

} // namespace library
