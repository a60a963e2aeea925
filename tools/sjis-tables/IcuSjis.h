#pragma once
// The double-byte half of code page 932 as the system's codec (ICU) has it, with the rule VOLTRAK keeps: a pair
// counts only when it decodes to one character that encodes back to the same pair, so the NEC and IBM duplicates
// that the codec maps to one character keep only the pair the codec writes, and every other pair is an escaped
// byte. Shared by the table generator and the test that checks the tables against the codec.
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

namespace icusjis {

inline bool codecAvailable()
{
    return QStringDecoder("Shift_JIS").isValid() && QStringEncoder("Shift_JIS").isValid();
}

// The character the pair (lead, trail) stands for, 0 when it is none by the rule above.
inline char16_t pair(int lead, int trail)
{
    const char bytes[2] = {char(lead), char(trail)};
    QStringDecoder dec("Shift_JIS", QStringDecoder::Flag::Stateless);
    const QString s = dec(QByteArrayView(bytes, 2));
    if (s.size() != 1)
        return 0;
    const char16_t c = s.at(0).unicode();
    // ASCII and half-width katakana are single bytes; U+F780..U+F7FF are the escaped bytes.
    if (c < 0x80 || c == 0xFFFD || (c >= 0xFF61 && c <= 0xFF9F) || (c >= 0xF780 && c <= 0xF7FF)
        || QChar::isSurrogate(c))
        return 0;
    QStringEncoder enc("Shift_JIS", QStringEncoder::Flag::Stateless);
    const QByteArray back = enc(s);
    if (back.size() != 2 || uchar(back.at(0)) != lead || uchar(back.at(1)) != trail)
        return 0;
    return c;
}

} // namespace icusjis
