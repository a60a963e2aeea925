#include "library/ServerLocation.h"

#include <QStringList>

#ifdef VOLTRAK_SERVER
#include <libpq-fe.h>
#endif

namespace library {

bool IsServerLocation(const QString &location)
{
    const QString l = location.trimmed();
    if (l.startsWith(QLatin1String("postgresql://")) || l.startsWith(QLatin1String("postgres://")))
        return true;
    // libpq's keyword form; a file name holding '=' would need a space before it.
    static const char *const keywords[] = {"service=", "host=", "hostaddr=", "dbname="};
    for (const char *k : keywords) {
        if (l.startsWith(QLatin1String(k)))
            return true;
    }
    return false;
}

namespace {

// libpq's keyword value quoting: in single quotes, \ and ' escaped.
[[maybe_unused]] QString Quoted(const QString &value)
{
    QString v = value;
    v.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    v.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

} // namespace

#ifndef VOLTRAK_SERVER

ServerLocation ParseServerLocation(const QString &location)
{
    ServerLocation out;
    out.display = location.trimmed();
    out.reason = QStringLiteral("この版は PostgreSQL サーバーのセル台帳を開けません: %1").arg(out.display);
    return out;
}

#else

ServerLocation ParseServerLocation(const QString &location)
{
    ServerLocation out;
    out.display = location.trimmed();
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(out.display.toUtf8().constData(), &error);
    if (!options) {
        QString why = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("メモリ不足");
        if (error)
            PQfreemem(error);
        out.reason = QStringLiteral("セル台帳の接続先を読めません: %1（%2）").arg(out.display, why);
        return out;
    }
    QStringList pairs;
    bool hasPassword = false;
    for (PQconninfoOption *o = options; o->keyword; ++o) {
        if (!o->val)
            continue;
        const QString key = QString::fromUtf8(o->keyword);
        const QString value = QString::fromUtf8(o->val);
        if (key == QLatin1String("password")) {
            hasPassword = true;
            continue;
        }
        // Qt's driver turns every ';' into the space between pairs.
        if (value.contains(QLatin1Char(';'))) {
            PQconninfoFree(options);
            out.reason = QStringLiteral("セル台帳の接続先の %1 に ; は使えません: %2").arg(key, out.display);
            return out;
        }
        pairs << key + QLatin1Char('=') + Quoted(value);
    }
    PQconninfoFree(options);
    if (hasPassword) {
        out.reason = QStringLiteral("セル台帳の接続先にパスワードは書けません。~/.pgpass、PGPASSWORD "
                                    "またはサービスファイルに置いてください");
        out.display.clear();
        return out;
    }
    out.connectOptions = pairs.join(QLatin1Char(';'));
    out.ok = true;
    return out;
}

#endif

} // namespace library
