#include "core/IniFile.h"
#include "core/LogLines.h"
#include "core/SjisText.h"

#include "core/SafeWrite.h"
#include <QFile>
#include <QFileInfo>

namespace {

QByteArray trimmed(const QByteArray &b)
{
    return b.trimmed();
}

// "[name]" with optional blanks around; returns the name or a null array.
QByteArray sectionName(const QByteArray &line)
{
    const QByteArray t = trimmed(line);
    if (t.size() >= 2 && t.startsWith('[')) {
        const int close = int(t.indexOf(']'));
        if (close > 0)
            return t.mid(1, close - 1).trimmed();
    }
    return QByteArray();
}

bool isComment(const QByteArray &t)
{
    return t.startsWith(';') || t.startsWith('#');
}

// Key of a "key=value" line, or a null array.
QByteArray keyOf(const QByteArray &line)
{
    const QByteArray t = trimmed(line);
    if (t.isEmpty() || isComment(t) || t.startsWith('['))
        return QByteArray();
    const int eq = int(t.indexOf('='));
    if (eq <= 0)
        return QByteArray();
    return t.left(eq).trimmed();
}

QByteArray valueOf(const QByteArray &line)
{
    const int eq = int(line.indexOf('='));
    QByteArray v = line.mid(eq + 1).trimmed();
    // A value wrapped in matching quotes reads without them, as Windows does.
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v;
}

// What no Shift-JIS or ASCII text holds: zero bytes (UTF-16 and UTF-32 have
// them in every ASCII character) and a UTF-16 byte order mark.
bool notText(const QByteArray &data)
{
    return data.contains('\0') || data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF");
}

const char kUtf8Bom[] = "\xEF\xBB\xBF";

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

IniFile::IniFile(const QString &path)
    : m_path(path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return;
    parse(f.readAll());
}

IniFile::IniFile(const QString &path, const QByteArray &contents)
    : m_path(path)
{
    parse(contents);
}

void IniFile::parse(QByteArray data)
{
    if (notText(data)) {
        m_foreign = true; // read as empty, never written over
        return;
    }
    // Another editor's byte order mark would hide the first section.
    if (data.startsWith(kUtf8Bom)) {
        m_bom = true;
        data.remove(0, 3);
    }
    m_lines = SplitLines(data);
}

IniFile::Found IniFile::find(const QByteArray &section, const QByteArray &key) const
{
    Found r;
    bool inSection = false;
    for (int i = 0; i < m_lines.size(); ++i) {
        const QByteArray name = sectionName(m_lines.at(i));
        if (!name.isNull()) {
            if (inSection)
                break; // the first section of that name is the one read and written
            inSection = sameName(name, section);
            if (inSection)
                r.sectionLine = i;
            continue;
        }
        if (!inSection)
            continue;
        const QByteArray k = keyOf(m_lines.at(i));
        if (k.isNull())
            continue;
        r.lastKeyLine = i;
        if (r.keyLine < 0 && sameName(k, key))
            r.keyLine = i;
    }
    return r;
}

bool IniFile::hasKey(const QString &section, const QString &key) const
{
    return find(sjis::encode(section), sjis::encode(key)).keyLine >= 0;
}

QString IniFile::readString(const QString &section, const QString &key, const QString &defaultValue) const
{
    const Found f = find(sjis::encode(section), sjis::encode(key));
    if (f.keyLine < 0)
        return defaultValue;
    return sjis::decode(valueOf(m_lines.at(f.keyLine)));
}

qint32 IniFile::readInteger(const QString &section, const QString &key, qint32 defaultValue) const
{
    const Found f = find(sjis::encode(section), sjis::encode(key));
    if (f.keyLine < 0)
        return defaultValue;
    qint32 v = 0;
    return parseInteger(valueOf(m_lines.at(f.keyLine)), &v) ? v : defaultValue;
}

QStringList IniFile::keys(const QString &section) const
{
    QStringList out;
    const QByteArray sec = sjis::encode(section);
    bool inSection = false;
    for (const QByteArray &line : m_lines) {
        const QByteArray name = sectionName(line);
        if (!name.isNull()) {
            if (inSection)
                break;
            inSection = sameName(name, sec);
            continue;
        }
        if (inSection) {
            const QByteArray k = keyOf(line);
            if (!k.isNull())
                out.append(sjis::decode(k));
        }
    }
    return out;
}

void IniFile::writeString(const QString &section, const QString &key, const QString &value)
{
    const QByteArray sec = sjis::encode(section);
    const QByteArray k = sjis::encode(key);
    const QByteArray line = k + '=' + sjis::encode(value);
    const Found f = find(sec, k);
    if (f.keyLine >= 0) {
        m_lines[f.keyLine] = line;
    } else if (f.sectionLine >= 0) {
        const int after = f.lastKeyLine >= 0 ? f.lastKeyLine : f.sectionLine;
        m_lines.insert(after + 1, line);
    } else {
        m_lines.append('[' + sec + ']');
        m_lines.append(line);
    }
}

void IniFile::writeInteger(const QString &section, const QString &key, qint32 value)
{
    writeString(section, key, QString::number(value));
}

QByteArray IniFile::contents() const
{
    QByteArray out;
    if (m_bom)
        out += kUtf8Bom;
    for (const QByteArray &line : m_lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

void IniFile::save() const
{
    if (m_foreign)
        throw IniWriteError(
            QStringLiteral("%1 is not a Shift-JIS text file; left as it was").arg(m_path).toStdString());
    try {
        safewrite::WriteFile(m_path, contents());
    } catch (const safewrite::WriteError &e) {
        throw IniWriteError(e.what());
    }
}

bool IniFile::parseInteger(const QByteArray &text, qint32 *value)
{
    const QByteArray t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t.at(i) == '+' || t.at(i) == '-')) {
        negative = t.at(i) == '-';
        ++i;
    }
    int base = 10;
    if (i < t.size() && t.at(i) == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < t.size() && t.at(i) == '0' && (t.at(i + 1) == 'x' || t.at(i + 1) == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= t.size())
        return false;
    quint64 magnitude = 0;
    for (; i < t.size(); ++i) {
        const char c = t.at(i);
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        magnitude = magnitude * quint64(base) + quint64(d);
        if (magnitude > 0xFFFFFFFFull)
            return false;
    }
    qint64 v;
    if (base == 16) {
        // Hexadecimal is a 32-bit pattern: $FFFFFFFF reads as -1.
        v = qint64(qint32(quint32(magnitude)));
    } else {
        v = qint64(magnitude);
        if (negative ? v > 2147483648ll : v > 2147483647ll)
            return false;
    }
    if (negative)
        v = -v;
    if (v < INT32_MIN || v > INT32_MAX)
        return false;
    *value = qint32(v);
    return true;
}
