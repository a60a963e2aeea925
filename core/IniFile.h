#pragma once
// A small Windows-style ini file: Shift-JIS text (a UTF-8 byte order mark
// before it is kept), CR LF lines. Writing replaces a
// key's value in place or appends the key to its section; every other line is
// kept byte for byte.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <stdexcept>

class IniWriteError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class IniFile
{
public:
    // Reads the file; a missing or unreadable file reads as empty.
    explicit IniFile(const QString &path);
    // As if the file at path held contents (the file is not read).
    IniFile(const QString &path, const QByteArray &contents);

    const QString &path() const { return m_path; }

    bool hasKey(const QString &section, const QString &key) const;
    QString readString(const QString &section, const QString &key, const QString &defaultValue = {}) const;
    qint32 readInteger(const QString &section, const QString &key, qint32 defaultValue) const;
    // Keys of a section in file order.
    QStringList keys(const QString &section) const;

    // Changes the text in memory; save() writes it.
    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, qint32 value);

    // Writes the file through safewrite::WriteFile (beside and renamed, else in
    // place; permissions kept). A file that was not Shift-JIS/ASCII text when
    // read (zero bytes, UTF-16) is never written over. Throws IniWriteError.
    void save() const;

    // The file began with a UTF-8 byte order mark: skipped when read, kept when written.
    bool hasByteOrderMark() const { return m_bom; }
    // The file held something other than text and reads as empty.
    bool isForeign() const { return m_foreign; }

    // The text as it would be written.
    QByteArray contents() const;

    // Integer as the settings read it: decimal with sign, or "0x", "0X", "$"
    // hexadecimal; anything else, or a value outside 32 bits, fails.
    static bool parseInteger(const QByteArray &text, qint32 *value);

private:
    struct Found {
        int sectionLine = -1;
        int keyLine = -1;
        int lastKeyLine = -1;
    };
    Found find(const QByteArray &section, const QByteArray &key) const;
    void parse(QByteArray data);

    QString m_path;
    QList<QByteArray> m_lines; // without line breaks
    bool m_bom = false;
    bool m_foreign = false;
};
