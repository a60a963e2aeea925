#pragma once
// Whole-file reads and writes for tests.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

// The file's bytes; "<missing>" when it cannot be read, so a missing file
// never passes for an empty one.
inline QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Writes bytes as the whole file; a failure fails the calling test.
inline void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}
