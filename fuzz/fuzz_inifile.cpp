// The ini reader and writer on arbitrary file contents: reading every key the
// program reads, writing them back, and reading the result again.
#include "core/IniFile.h"
#include "core/Settings.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray contents(reinterpret_cast<const char *>(data), qsizetype(size));
    IniFile ini(QStringLiteral("/nonexistent/voltrak.ini"), contents);
    const QString section = QStringLiteral("VOLTRAK");
    const QStringList keys = ini.keys(section);
    qint32 v = 0;
    for (const QString &k : keys)
        v ^= ini.readInteger(section, k, 1);
    ini.keys(QStringLiteral("Ports"));
    ini.readString(QStringLiteral("Ports"), QStringLiteral("COM1"));
    ini.writeInteger(section, QStringLiteral("Vstop"), v);
    ini.writeString(QStringLiteral("Ports"), QStringLiteral("COM2"), QStringLiteral("/dev/ttyUSB0"));
    if (ini.isForeign())
        return 0;
    // What was written reads back.
    const IniFile again(QStringLiteral("/nonexistent/voltrak.ini"), ini.contents());
    if (again.readInteger(section, QStringLiteral("Vstop"), v + 1) != v)
        std::abort();
    qint32 parsed = 0;
    IniFile::parseInteger(contents.left(64), &parsed);
    return 0;
}
