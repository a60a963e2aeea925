#include "core/SjisText.h"

#include <QVector>

namespace sjis {
namespace {

constexpr char16_t EscapeBase = 0xF700; // byte b (0x80..0xFF) <-> U+F700 + b

bool isTrailByte(unsigned char b)
{
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}
bool isHalfKana(unsigned char b)
{
    return b >= 0xA1 && b <= 0xDF;
}

// The double-byte table comes from tools/sjis-tables (generated from ICU on Linux, kept in the tree), so no
// platform needs ICU at run time. Every entry round-trips; other pairs are escaped byte by byte.
constexpr int TrailFirst = 0x40, TrailCount = 0xFC - 0x40 + 1;
constexpr char16_t DoubleByte[] = {
#include "core/SjisTables.inc"
};
static_assert(sizeof(DoubleByte) / sizeof(DoubleByte[0]) == 60 * TrailCount, "60 lead bytes by 189 trail bytes");

constexpr int leadRow(int lead)
{
    return lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + (0x9F - 0x81 + 1);
}

struct Tables {
    QVector<char16_t> decode; // index (lead << 8 | trail) -> char, 0 = none
    QVector<quint16> encode; // char -> (lead << 8 | trail), 0 = none

    Tables()
        : decode(65536, 0)
        , encode(65536, 0)
    {
        for (int lead = 0x81; lead <= 0xFC; ++lead) {
            if (!isLeadByte(uchar(lead)))
                continue;
            for (int trail = TrailFirst; trail < TrailFirst + TrailCount; ++trail) {
                const char16_t c = DoubleByte[leadRow(lead) * TrailCount + (trail - TrailFirst)];
                if (!c || !isTrailByte(uchar(trail)))
                    continue;
                const int code = (lead << 8) | trail;
                decode[code] = c;
                encode[c] = quint16(code);
            }
        }
    }
};

const Tables &tables()
{
    static const Tables t;
    return t;
}

inline void appendByte(QString &out, unsigned char b, const Tables &)
{
    if (b < 0x80)
        out.append(QChar(char16_t(b)));
    else if (isHalfKana(b))
        out.append(QChar(char16_t(0xFF61 + (b - 0xA1))));
    else
        out.append(QChar(char16_t(EscapeBase + b)));
}

// Decodes bytes[from, to); a lead byte at the end is returned in *danglingLead
// when that pointer is given, else escaped.
void decodeInto(QString &out, const char *bytes, qsizetype n, int *danglingLead, bool dropZero)
{
    const Tables &t = tables();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char b = uchar(bytes[i]);
        if (b == 0 && dropZero) {
            ++i;
            continue;
        }
        if (isLeadByte(b)) {
            if (i + 1 >= n) {
                if (danglingLead) {
                    *danglingLead = b;
                    return;
                }
                appendByte(out, b, t);
                ++i;
                continue;
            }
            const unsigned char tb = uchar(bytes[i + 1]);
            const char16_t c = t.decode.at((b << 8) | tb);
            if (c) {
                out.append(QChar(c));
                i += 2;
                continue;
            }
        }
        appendByte(out, b, t);
        ++i;
    }
}

} // namespace

QString decode(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    decodeInto(out, bytes.constData(), bytes.size(), nullptr, false);
    return out;
}

namespace {

void appendChar(QByteArray &out, const Tables &t, QChar ch)
{
    const char16_t c = ch.unicode();
    if (c < 0x80) {
        out.append(char(c));
    } else if (c >= 0xFF61 && c <= 0xFF9F) {
        out.append(char(0xA1 + (c - 0xFF61)));
    } else if (c >= EscapeBase + 0x80 && c <= EscapeBase + 0xFF) {
        out.append(char(c - EscapeBase));
    } else if (const quint16 code = t.encode.at(c)) {
        out.append(char(code >> 8));
        out.append(char(code & 0xFF));
    } else {
        out.append('?');
    }
}

} // namespace

QByteArray encode(const QString &text)
{
    const Tables &t = tables();
    QByteArray out;
    out.reserve(text.size());
    for (const QChar ch : text)
        appendChar(out, t, ch);
    return out;
}

void appendEncoded(QByteArray &out, QChar ch)
{
    appendChar(out, tables(), ch);
}

QString StreamDecoder::feed(const QByteArray &chunk)
{
    // Break handling first, on bytes: CR and LF are never part of a double-byte
    // character, so they can be treated before decoding.
    QByteArray bytes;
    bytes.reserve(chunk.size() + 1);
    if (m_pendingLead >= 0) {
        bytes.append(char(m_pendingLead));
        m_pendingLead = -1;
    }
    for (const char c : chunk) {
        if (c == 0)
            continue;
        if (c == '\n') {
            if (m_lastWasCr) {
                m_lastWasCr = false;
                continue;
            }
            bytes.append('\n');
            continue;
        }
        m_lastWasCr = (c == '\r');
        bytes.append(m_lastWasCr ? '\n' : c);
    }
    QString out;
    out.reserve(bytes.size());
    int lead = -1;
    decodeInto(out, bytes.constData(), bytes.size(), &lead, true);
    m_pendingLead = lead;
    return out;
}

QString StreamDecoder::flush()
{
    QString out;
    if (m_pendingLead >= 0)
        appendByte(out, uchar(m_pendingLead), tables());
    m_pendingLead = -1;
    return out;
}

void StreamDecoder::reset()
{
    m_pendingLead = -1;
    m_lastWasCr = false;
}

QString decodeText(const QByteArray &bytes)
{
    StreamDecoder d;
    return d.feed(bytes) + d.flush();
}

} // namespace sjis
