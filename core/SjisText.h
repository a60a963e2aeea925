#pragma once
// Shift-JIS (code page 932) text that survives a round trip byte for byte.
// Bytes that are not valid Shift-JIS decode to private-use characters
// U+F780..U+F7FF (one per byte 0x80..0xFF) and encode back to the same byte.
#include <QByteArray>
#include <QString>

namespace sjis {

// Decodes bytes; line breaks and every other byte pass through as characters.
// A lead byte at the very end of the input decodes as an escaped byte.
QString decode(const QByteArray &bytes);

// Encodes text; characters with no Shift-JIS form become "?".
QByteArray encode(const QString &text);

// Appends one character's bytes, as encode does for each character.
void appendEncoded(QByteArray &out, QChar ch);

// True for a byte that starts a double-byte character.
inline bool isLeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Decoder for data that arrives in chunks: zero bytes are dropped, a
// double-byte character split across chunks decodes whole, and CR LF, lone CR
// and lone LF each become one "\n", also when CR and LF arrive in two chunks.
class StreamDecoder
{
public:
    QString feed(const QByteArray &chunk);
    // Ends the stream: a lead byte still waiting for its partner comes out escaped.
    QString flush();
    void reset();
    // A lead byte fed but not yet given out (its character is still to come).
    bool holdsLead() const { return m_pendingLead >= 0; }

private:
    int m_pendingLead = -1;
    bool m_lastWasCr = false;
};

// Whole-file variant of the same rules (zero bytes dropped, all breaks as "\n").
QString decodeText(const QByteArray &bytes);

} // namespace sjis
