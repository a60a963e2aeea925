#include "tests/support/MetafileReader.h"

#include <QStringDecoder>
#include <QtEndian>

#include <cstring>
#include <map>
#include <optional>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace mfread {

namespace {

// Code page 932 read by someone other than the program's own codec: ICU through Qt on Linux, the system's own
// conversion on Windows (whose Qt has no ICU). None when the bytes are not Shift-JIS.
std::optional<QString> DecodeShiftJis(const QByteArray &bytes)
{
#ifdef _WIN32
    if (bytes.isEmpty())
        return QString();
    const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.constData(), int(bytes.size()), nullptr, 0);
    if (n <= 0)
        return std::nullopt;
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.constData(), int(bytes.size()), wide.data(), n);
    return QString::fromStdWString(wide);
#else
    QStringDecoder dec("Shift_JIS");
    const QString text = dec.decode(bytes);
    if (dec.hasError())
        return std::nullopt;
    return text;
#endif
}

struct Cursor {
    const QByteArray &d;
    bool ok(qsizetype off, qsizetype n) const { return off >= 0 && n >= 0 && off + n <= d.size(); }
    quint32 u32(qsizetype off) const { return ok(off, 4) ? qFromLittleEndian<quint32>(d.constData() + off) : 0; }
    qint32 i32(qsizetype off) const { return qint32(u32(off)); }
    quint16 u16(qsizetype off) const { return ok(off, 2) ? qFromLittleEndian<quint16>(d.constData() + off) : 0; }
    qint16 i16(qsizetype off) const { return qint16(u16(off)); }
    quint8 u8(qsizetype off) const { return ok(off, 1) ? quint8(d.at(off)) : 0; }
};

QColor fromColorRef(quint32 c)
{
    return QColor(int(c & 0xff), int((c >> 8) & 0xff), int((c >> 16) & 0xff));
}

enum class Kind { Pen, Brush, Font, Other };

struct Object {
    Kind kind = Kind::Other;
    QColor color;
    int width = 0;
    int style = 0;
    Text font; // face, height, escapement, orientation, charset
};

} // namespace

// ------------------------------------------------------------------ EMF

Picture readEmf(const QByteArray &file)
{
    Picture pic;
    Cursor c{file};
    auto fail = [&](const QString &s) { pic.problems << s; };

    if (file.size() < 108 || c.u32(0) != 1) {
        fail("no EMR_HEADER at the start");
        return pic;
    }
    const quint32 headerSize = c.u32(4);
    if (c.u32(40) != 0x464D4520)
        fail("bad signature");
    if (headerSize < 88 || headerSize % 4 != 0 || headerSize > quint32(file.size()))
        fail(QString("bad header size %1").arg(headerSize));
    if (c.u32(48) != quint32(file.size()))
        fail(QString("nBytes %1, file has %2").arg(c.u32(48)).arg(file.size()));
    const quint32 nRecords = c.u32(52);
    const int nHandles = c.u16(56);
    const quint32 nDesc = c.u32(60), offDesc = c.u32(64);
    if (nDesc > 0 && (offDesc < 88 || offDesc + 2 * nDesc > headerSize))
        fail("description outside the header");
    const QRect bounds(QPoint(c.i32(8), c.i32(12)), QPoint(c.i32(16), c.i32(20)));
    const QRect frame(QPoint(c.i32(24), c.i32(28)), QPoint(c.i32(32), c.i32(36)));
    const double devPx = c.i32(72), devMm = c.i32(80);
    if (devPx <= 0 || devMm <= 0)
        fail("reference device size missing");
    else {
        const double pxPer001mm = devPx / (devMm * 100.0);
        pic.sizePx = QSize(
            qRound((frame.right() - frame.left()) * pxPer001mm), qRound((frame.bottom() - frame.top()) * pxPer001mm));
    }
    pic.boundsPx = bounds;

    std::map<int, Object> live;
    Object pen, brush, font;
    pen.kind = Kind::Pen;
    pen.color = Qt::black;
    QColor textColor = Qt::black;
    int mapMode = 1;
    double worldScale = 1.0;
    QSize windowExt(1, 1), viewportExt(1, 1);
    int count = 0;
    bool eofSeen = false;
    std::vector<std::pair<QPoint, int>> drawnPoints; // point, pen width

    qsizetype off = 0;
    while (off < file.size()) {
        if (!c.ok(off, 8)) {
            fail("truncated record header");
            break;
        }
        const quint32 type = c.u32(off), size = c.u32(off + 4);
        if (size < 8 || size % 4 != 0 || !c.ok(off, size)) {
            fail(QString("record %1 (type %2) has bad size %3").arg(count).arg(type).arg(size));
            break;
        }
        if (eofSeen)
            fail("records after EOF");
        ++count;
        if (count == 1 && type != 1)
            fail("first record is not the header");
        const qsizetype r = off;
        auto need = [&](quint32 n) {
            if (size < n)
                fail(QString("record type %1 too short (%2 < %3)").arg(type).arg(size).arg(n));
            return size >= n;
        };
        auto createAt = [&](quint32 ih, const Object &o) {
            if (ih == 0 || int(ih) >= nHandles)
                fail(QString("object index %1 outside 1..%2").arg(ih).arg(nHandles - 1));
            if (live.count(int(ih)))
                fail(QString("object index %1 created while in use").arg(ih));
            live[int(ih)] = o;
        };
        switch (type) {
        case 38: // CREATEPEN
            if (need(28)) {
                Object o;
                o.kind = Kind::Pen;
                o.style = int(c.u32(r + 12));
                o.width = c.i32(r + 16);
                o.color = fromColorRef(c.u32(r + 24));
                createAt(c.u32(r + 8), o);
            }
            break;
        case 95: // EXTCREATEPEN
            if (need(52)) {
                Object o;
                o.kind = Kind::Pen;
                o.style = int(c.u32(r + 28) & 0xf);
                o.width = int(c.u32(r + 32));
                o.color = fromColorRef(c.u32(r + 40));
                createAt(c.u32(r + 8), o);
            }
            break;
        case 39: // CREATEBRUSHINDIRECT
            if (need(24)) {
                Object o;
                o.kind = Kind::Brush;
                o.style = int(c.u32(r + 12));
                o.color = fromColorRef(c.u32(r + 16));
                createAt(c.u32(r + 8), o);
            }
            break;
        case 82: // EXTCREATEFONTINDIRECTW
            if (need(12 + 92)) {
                Object o;
                o.kind = Kind::Font;
                o.font.height = c.i32(r + 12);
                o.font.escapement = c.i32(r + 20);
                o.font.orientation = c.i32(r + 24);
                o.font.charset = c.u8(r + 12 + 23);
                QString face;
                for (int i = 0; i < 32; ++i) {
                    const quint16 ch = c.u16(r + 12 + 28 + 2 * i);
                    if (ch == 0)
                        break;
                    face.append(QChar(ch));
                }
                o.font.face = face;
                createAt(c.u32(r + 8), o);
            }
            break;
        case 37: // SELECTOBJECT
            if (need(12)) {
                const quint32 ih = c.u32(r + 8);
                if (ih & 0x80000000u) {
                    const int stock = int(ih & 0x7fffffff);
                    if (stock > 19)
                        fail(QString("unknown stock object %1").arg(stock));
                    if (stock >= 6 && stock <= 8) {
                        pen = Object();
                        pen.kind = Kind::Pen;
                        pen.style = stock == 8 ? 5 : 0;
                        pen.color = stock == 6 ? Qt::white : Qt::black;
                    }
                } else if (!live.count(int(ih))) {
                    fail(QString("select of object %1 that does not exist").arg(ih));
                } else {
                    const Object &o = live[int(ih)];
                    if (o.kind == Kind::Pen)
                        pen = o;
                    else if (o.kind == Kind::Brush)
                        brush = o;
                    else if (o.kind == Kind::Font)
                        font = o;
                }
            }
            break;
        case 40: // DELETEOBJECT
            if (need(12)) {
                const int ih = int(c.u32(r + 8));
                if (!live.erase(ih))
                    fail(QString("delete of object %1 that does not exist").arg(ih));
            }
            break;
        case 17:
            if (need(12))
                mapMode = int(c.u32(r + 8));
            break;
        case 9:
            if (need(16))
                windowExt = QSize(c.i32(r + 8), c.i32(r + 12));
            break;
        case 11:
            if (need(16))
                viewportExt = QSize(c.i32(r + 8), c.i32(r + 12));
            break;
        case 18:
            if (need(12))
                pic.transparentText = c.u32(r + 8) == 1;
            break;
        case 35: // SETWORLDTRANSFORM: only a uniform scale is expected
            if (need(32)) {
                float m[6];
                for (int i = 0; i < 6; ++i) {
                    const quint32 bits = c.u32(r + 8 + 4 * i);
                    std::memcpy(&m[i], &bits, 4);
                }
                if (m[0] <= 0 || m[0] != m[3] || m[1] != 0 || m[2] != 0 || m[4] != 0 || m[5] != 0)
                    fail("world transform is not a uniform scale");
                else
                    worldScale = 1.0 / m[0];
            }
            break;
        case 24:
            if (need(12))
                textColor = fromColorRef(c.u32(r + 8));
            break;
        case 86: // POLYGON16
        case 87: // POLYLINE16
        case 3: // POLYGON
        case 4: // POLYLINE
            if (need(28)) {
                const bool wide = type == 3 || type == 4;
                const quint32 n = c.u32(r + 24);
                if (size != 28 + (wide ? 8 : 4) * n) {
                    fail(QString("poly record size %1 does not hold %2 points").arg(size).arg(n));
                    break;
                }
                Stroke s;
                for (quint32 i = 0; i < n; ++i) {
                    const qsizetype p = r + 28 + (wide ? 8 : 4) * i;
                    s.points << (wide ? QPoint(c.i32(p), c.i32(p + 4)) : QPoint(c.i16(p), c.i16(p + 2)));
                }
                s.color = pen.color;
                s.width = pen.width;
                s.style = pen.style;
                s.closed = type == 86 || type == 3;
                for (const QPoint &p : s.points)
                    drawnPoints.push_back({p, pen.style == 5 ? 0 : pen.width});
                pic.strokes << s;
            }
            break;
        case 91: // POLYPOLYGON16
            if (need(32)) {
                const quint32 polys = c.u32(r + 24), total = c.u32(r + 28);
                if (size != 32 + 4 * polys + 4 * total)
                    fail("POLYPOLYGON16 size does not add up");
            }
            break;
        case 43: // RECTANGLE
            if (need(24)) {
                ++pic.rectangles;
                drawnPoints.push_back({QPoint(c.i32(r + 8), c.i32(r + 12)), pen.width});
                drawnPoints.push_back({QPoint(c.i32(r + 16), c.i32(r + 20)), pen.width});
            }
            break;
        case 81: // STRETCHDIBITS
            if (need(80)) {
                ++pic.images;
                const quint32 offBmi = c.u32(r + 48), cbBmi = c.u32(r + 52);
                const quint32 offBits = c.u32(r + 56), cbBits = c.u32(r + 60);
                if (offBmi + cbBmi > size || offBits + cbBits > size)
                    fail("STRETCHDIBITS data outside its record");
            }
            break;
        case 84: // EXTTEXTOUTW
            if (need(76)) {
                Text t = font.font;
                t.color = textColor;
                t.ref = QPoint(c.i32(r + 36), c.i32(r + 40));
                const quint32 n = c.u32(r + 44), offString = c.u32(r + 48);
                const quint32 options = c.u32(r + 52);
                const quint32 offDx = c.u32(r + ((options & 0x100) ? 56 : 72));
                if (offString + 2 * n > size || (offDx != 0 && offDx + 4 * n > size)) {
                    fail("EXTTEXTOUTW string or advances outside the record");
                    break;
                }
                for (quint32 i = 0; i < n; ++i)
                    t.text.append(QChar(c.u16(r + offString + 2 * i)));
                if (offDx != 0)
                    for (quint32 i = 0; i < n; ++i)
                        t.dx << c.i32(r + offDx + 4 * i);
                if (font.kind != Kind::Font)
                    fail("text drawn with no font of ours selected");
                pic.texts << t;
            }
            break;
        case 14: // EOF
            eofSeen = true;
            if (size != 20 || c.u32(r + size - 4) != 20)
                fail("EOF record malformed");
            break;
        default: break;
        }
        off += size;
    }
    if (!eofSeen)
        fail("no EOF record");
    else if (c.u32(file.size() - 20) != 14)
        fail("EOF is not the last record");
    if (quint32(count) != nRecords)
        fail(QString("nRecords %1, file holds %2").arg(nRecords).arg(count));
    pic.records = count;
    if ((mapMode == 8 || mapMode == 7) && viewportExt.width() > 0)
        pic.unitsPerPixel = double(windowExt.width()) / viewportExt.width();
    pic.unitsPerPixel *= worldScale;
    // Everything drawn lies inside the header's bounds (allowing for the pen).
    for (const auto &[p, w] : drawnPoints) {
        const double slack = (w / pic.unitsPerPixel) / 2.0 + 1.0;
        const double x = p.x() / pic.unitsPerPixel, y = p.y() / pic.unitsPerPixel;
        if (x < bounds.left() - slack || x > bounds.right() + slack || y < bounds.top() - slack
            || y > bounds.bottom() + slack) {
            fail(QString("drawing at (%1, %2) outside the bounds").arg(x).arg(y));
            break;
        }
    }
    return pic;
}

// ------------------------------------------------------------------ WMF

Picture readWmf(const QByteArray &file)
{
    Picture pic;
    Cursor c{file};
    auto fail = [&](const QString &s) { pic.problems << s; };

    if (file.size() < 22 + 18 || c.u32(0) != 0x9AC6CDD7) {
        fail("no placeable header");
        return pic;
    }
    quint16 sum = 0;
    for (int i = 0; i < 10; ++i)
        sum ^= c.u16(2 * i);
    if (sum != c.u16(20))
        fail("placeable header checksum wrong");
    const QRect box(QPoint(c.i16(6), c.i16(8)), QPoint(c.i16(10), c.i16(12)));
    const int inch = c.u16(14);
    if (inch <= 0) {
        fail("units per inch is 0");
        return pic;
    }
    pic.unitsPerPixel = inch / 96.0;
    pic.sizePx = QSize(
        qRound((box.right() - box.left()) / pic.unitsPerPixel), qRound((box.bottom() - box.top()) / pic.unitsPerPixel));

    const qsizetype h = 22;
    if (c.u16(h) != 1 && c.u16(h) != 2)
        fail("META_HEADER type");
    if (c.u16(h + 2) != 9)
        fail("META_HEADER size is not 9 words");
    if (c.u16(h + 4) != 0x0300 && c.u16(h + 4) != 0x0100)
        fail("META_HEADER version");
    const quint32 sizeWords = quint32(c.u16(h + 6)) | (quint32(c.u16(h + 8)) << 16);
    const int nObjects = c.u16(h + 10);
    const quint32 maxRecord = quint32(c.u16(h + 12)) | (quint32(c.u16(h + 14)) << 16);
    if (qsizetype(sizeWords) * 2 != file.size() - 22)
        fail(QString("file size %1 words, file holds %2 bytes after the placeable header")
                 .arg(sizeWords)
                 .arg(file.size() - 22));

    std::vector<std::optional<Object>> table(static_cast<size_t>(nObjects));
    Object pen, brush, font;
    pen.kind = Kind::Pen;
    pen.color = Qt::black;
    QColor textColor = Qt::black;
    quint32 largest = 0;
    int count = 0;
    bool eofSeen = false;

    qsizetype off = h + 18;
    while (off < file.size()) {
        if (!c.ok(off, 6)) {
            fail("truncated record");
            break;
        }
        const quint32 words = c.u32(off);
        const quint16 fn = c.u16(off + 4);
        if (words < 3 || !c.ok(off, qsizetype(words) * 2)) {
            fail(QString("record %1 (function 0x%2) has bad size %3").arg(count).arg(fn, 4, 16, QChar('0')).arg(words));
            break;
        }
        if (eofSeen)
            fail("records after EOF");
        ++count;
        largest = std::max(largest, words);
        const qsizetype p = off + 6; // parameters
        const int nParams = int(words) - 3;
        auto param = [&](int i) { return c.u16(p + 2 * i); };
        auto sparam = [&](int i) { return c.i16(p + 2 * i); };
        auto create = [&](const Object &o) {
            for (auto &s : table)
                if (!s) {
                    s = o;
                    return;
                }
            fail("object table full: nObjects too small");
        };
        auto slotAt = [&](int i) -> std::optional<Object> * {
            if (i < 0 || i >= nObjects || !table[size_t(i)]) {
                fail(QString("object slot %1 does not hold an object").arg(i));
                return nullptr;
            }
            return &table[size_t(i)];
        };
        switch (fn) {
        case 0x02FA: // CREATEPENINDIRECT
            if (nParams >= 5) {
                Object o;
                o.kind = Kind::Pen;
                o.style = param(0);
                o.width = sparam(1);
                o.color = fromColorRef(quint32(param(3)) | (quint32(param(4)) << 16));
                create(o);
            } else
                fail("short CREATEPENINDIRECT");
            break;
        case 0x02FC: // CREATEBRUSHINDIRECT
            if (nParams >= 4) {
                Object o;
                o.kind = Kind::Brush;
                o.style = param(0);
                o.color = fromColorRef(quint32(param(1)) | (quint32(param(2)) << 16));
                create(o);
            } else
                fail("short CREATEBRUSHINDIRECT");
            break;
        case 0x02FB: // CREATEFONTINDIRECT
            if (nParams >= 9) {
                Object o;
                o.kind = Kind::Font;
                o.font.height = sparam(0);
                o.font.escapement = sparam(2);
                o.font.orientation = sparam(3);
                o.font.charset = c.u8(p + 13);
                QByteArray face;
                for (qsizetype i = p + 18; i < off + qsizetype(words) * 2 && c.u8(i) != 0; ++i)
                    face.append(char(c.u8(i)));
                o.font.face = DecodeShiftJis(face).value_or(QString());
                create(o);
            } else
                fail("short CREATEFONTINDIRECT");
            break;
        case 0x00F7: // CREATEPALETTE
        case 0x01F9: // CREATEPATTERNBRUSH
        case 0x0142: // DIBCREATEPATTERNBRUSH
        case 0x06FF: // CREATEREGION
            create(Object());
            break;
        case 0x012D: // SELECTOBJECT
            if (auto *s = slotAt(param(0))) {
                const Object &o = **s;
                if (o.kind == Kind::Pen)
                    pen = o;
                else if (o.kind == Kind::Brush)
                    brush = o;
                else if (o.kind == Kind::Font)
                    font = o;
            }
            break;
        case 0x01F0: // DELETEOBJECT
            if (auto *s = slotAt(param(0)))
                s->reset();
            break;
        case 0x0102: // SETBKMODE
            pic.transparentText = param(0) == 1;
            break;
        case 0x0209: // SETTEXTCOLOR
            textColor = fromColorRef(quint32(param(0)) | (quint32(param(1)) << 16));
            break;
        case 0x0325: // POLYLINE
        case 0x0324: // POLYGON
        {
            const int n = sparam(0); // signed 16 bits
            if (nParams != 1 + 2 * n) {
                fail(QString("poly record of %1 words does not hold %2 points").arg(words).arg(n));
                break;
            }
            Stroke s;
            for (int i = 0; i < n; ++i)
                s.points << QPoint(sparam(1 + 2 * i), sparam(2 + 2 * i));
            s.color = pen.color;
            s.width = pen.width;
            s.style = pen.style;
            s.closed = fn == 0x0324;
            pic.strokes << s;
            break;
        }
        case 0x041B: // RECTANGLE
            ++pic.rectangles;
            break;
        case 0x0F43: // STRETCHDIB
            ++pic.images;
            break;
        case 0x0A32: // EXTTEXTOUT
        {
            const int len = param(2), options = param(3);
            int q = 4 + ((options & 0x0006) ? 4 : 0);
            const int stringWords = (len + 1) / 2;
            if (q + stringWords > nParams) {
                fail("EXTTEXTOUT string outside its record");
                break;
            }
            Text t = font.font;
            t.color = textColor;
            t.ref = QPoint(sparam(1), sparam(0));
            const QByteArray bytes = file.mid(p + 2 * q, len);
            const std::optional<QString> text = DecodeShiftJis(bytes);
            t.text = text.value_or(QString());
            if (!text)
                fail("EXTTEXTOUT bytes are not Shift-JIS");
            q += stringWords;
            if (nParams - q >= len)
                for (int i = 0; i < len; ++i)
                    t.dx << sparam(q + i);
            if (font.kind != Kind::Font)
                fail("text drawn with no font selected");
            pic.texts << t;
            break;
        }
        case 0x0000:
            eofSeen = true;
            if (words != 3)
                fail("EOF record malformed");
            break;
        default: break;
        }
        off += qsizetype(words) * 2;
    }
    if (!eofSeen)
        fail("no EOF record");
    else if (c.u32(file.size() - 6) != 3 || c.u16(file.size() - 2) != 0)
        fail("EOF is not the last record");
    if (largest != maxRecord)
        fail(QString("largest record %1 words, header says %2").arg(largest).arg(maxRecord));
    pic.records = count;
    return pic;
}

} // namespace mfread
