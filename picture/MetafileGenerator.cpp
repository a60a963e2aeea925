#include "picture/MetafileGenerator.h"
#include "core/SafeWrite.h"
#include "core/SjisText.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTransform>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

// ---------------------------------------------------------------- byte output

class Bytes
{
public:
    void u8(quint8 v) { buf_.append(char(v)); }
    void u16(quint16 v)
    {
        u8(quint8(v & 0xff));
        u8(quint8(v >> 8));
    }
    void i16(qint16 v) { u16(quint16(v)); }
    void u32(quint32 v)
    {
        u16(quint16(v & 0xffff));
        u16(quint16(v >> 16));
    }
    void i32(qint32 v) { u32(quint32(v)); }
    void f32(float v)
    {
        quint32 bits;
        static_assert(sizeof bits == sizeof v, "float is 32 bits");
        std::memcpy(&bits, &v, sizeof v);
        u32(bits);
    }
    void raw(const QByteArray &b) { buf_.append(b); }
    void zeros(int n) { buf_.append(n, '\0'); }
    void padTo(int multiple)
    {
        while (buf_.size() % multiple != 0)
            u8(0);
    }
    int size() const { return int(buf_.size()); }
    const QByteArray &data() const { return buf_; }
    void putU32At(int offset, quint32 v) { qToLittleEndian<quint32>(v, buf_.data() + offset); }

private:
    QByteArray buf_;
};

// ---------------------------------------------------------------- GDI objects

struct PenSpec {
    int style = 0; // PS_SOLID 0 .. PS_NULL 5
    int width = 0; // logical units; 0 draws one pixel wide
    quint32 color = 0;
    int capJoin = 0; // PS_ENDCAP_* | PS_JOIN_* for wide pens
    bool operator==(const PenSpec &o) const
    {
        return style == o.style && width == o.width && color == o.color && capJoin == o.capJoin;
    }
};

struct BrushSpec {
    int style = 0; // BS_SOLID 0, BS_NULL 1, BS_HATCHED 2
    quint32 color = 0;
    int hatch = 0;
    bool operator==(const BrushSpec &o) const { return style == o.style && color == o.color && hatch == o.hatch; }
};

struct FontRecord {
    QString face;
    int height = 0; // em height in device pixels (written negative)
    int escapement = 0; // tenths of a degree, counter-clockwise
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    bool operator==(const FontRecord &o) const
    {
        return face == o.face && height == o.height && escapement == o.escapement && weight == o.weight
            && italic == o.italic && underline == o.underline && strikeOut == o.strikeOut;
    }
};

constexpr int kPsNull = 5;
constexpr int kBsNull = 1;
constexpr quint8 kShiftJisCharset = 128;
constexpr int kTransparent = 1;
constexpr int kTaBaselineLeft = 0x18;
constexpr int kAlternate = 1;
constexpr int kWinding = 2;

quint32 colorRef(QRgb rgb)
{
    return quint32(qRed(rgb)) | (quint32(qGreen(rgb)) << 8) | (quint32(qBlue(rgb)) << 16);
}

// Metafiles carry no alpha: a translucent colour is blended against white, the
// chart's background.
QRgb opaqueOnWhite(const QColor &c)
{
    const QRgb rgb = c.rgba();
    const int a = qAlpha(rgb);
    if (a == 255)
        return rgb;
    auto mix = [a](int v) { return (v * a + 255 * (255 - a) + 127) / 255; };
    return qRgb(mix(qRed(rgb)), mix(qGreen(rgb)), mix(qBlue(rgb)));
}

qint16 clamp16(int v)
{
    return qint16(std::clamp(v, -32767, 32767));
}

// Hostile drawing (a transform that overflows, NaN, coordinates beyond any
// picture) must never reach a float-to-int conversion or overflow an int.
// A shape with a coordinate that is not finite, or farther than kFar logical
// units, is dropped; kFar leaves clipping arithmetic finite and exact enough.
constexpr double kFar = 1e15;
// Whole logical units a record field may hold, with room for width sums.
constexpr double kIntLimit = 1 << 30;

bool usable(double v)
{
    return std::isfinite(v) && std::abs(v) <= kFar;
}
bool usable(const QPointF &p)
{
    return usable(p.x()) && usable(p.y());
}
bool usable(const QRectF &r)
{
    return usable(r.topLeft()) && usable(r.bottomRight());
}
bool usable(const QPolygonF &poly)
{
    return std::all_of(poly.begin(), poly.end(), [](const QPointF &p) { return usable(p); });
}

// Rounds to an int within +-kIntLimit; NaN gives 0.
int toInt(double v)
{
    if (std::isnan(v))
        return 0;
    return int(std::clamp(std::round(v), -kIntLimit, kIntLimit));
}

// WMF point counts are signed 16-bit: a longer polygon keeps its corners
// (collinear points go first) and then every n-th point.
constexpr int kWmfMaxPoints = 32767;
QPolygon fitPointCount(const QPolygon &in, int maxPoints)
{
    if (in.size() <= maxPoints)
        return in;
    QPolygon corners;
    corners.reserve(in.size());
    for (int i = 0; i < in.size(); ++i) {
        const QPoint a = corners.isEmpty() ? in.last() : corners.last();
        const QPoint b = in.at(i);
        const QPoint c = in.at((i + 1) % in.size());
        const qint64 cross = qint64(b.x() - a.x()) * (c.y() - b.y()) - qint64(b.y() - a.y()) * (c.x() - b.x());
        if (cross != 0 || corners.isEmpty())
            corners.append(b);
    }
    if (corners.size() <= maxPoints)
        return corners;
    QPolygon out;
    out.reserve(maxPoints);
    for (int k = 0; k < maxPoints; ++k)
        out.append(corners.at(int(qint64(k) * corners.size() / maxPoints)));
    return out;
}

// ---------------------------------------------------------------- record writers

// One writer per format. Both keep an object table that hands out the lowest free
// slot, as WMF playback does, and select each object kind through a cache so that
// an unchanged pen, brush or font is not written again.
class RecordWriter
{
public:
    // scale: logical units per device pixel, for sub-pixel precision.
    RecordWriter(int firstSlot, QSize size, int dpi, int scale)
        : firstSlot_(firstSlot)
        , size_(size)
        , dpi_(dpi)
        , scale_(scale)
    { }
    virtual ~RecordWriter() = default;

    void setPen(const PenSpec &pen)
    {
        select(penSlot_, pen_, pen, [&](int slot) { createPen(slot, pen); });
    }
    void setBrush(const BrushSpec &brush)
    {
        select(brushSlot_, brush_, brush, [&](int slot) { createBrush(slot, brush); });
    }
    void setFont(const FontRecord &font)
    {
        select(fontSlot_, font_, font, [&](int slot) { createFont(slot, font); });
    }
    void setTextColor(quint32 color)
    {
        if (textColorSet_ && color == textColor_)
            return;
        textColorRecord(color);
        textColor_ = color;
        textColorSet_ = true;
    }
    void setFillMode(int mode)
    {
        if (mode == fillMode_)
            return;
        fillModeRecord(mode);
        fillMode_ = mode;
    }

    virtual void begin() = 0;
    virtual void polyline(const QPolygon &pts) = 0;
    virtual void polygon(const QPolygon &pts) = 0;
    virtual void polyPolygon(const QVector<QPolygon> &polys) = 0;
    virtual void rectangle(const QRect &r) = 0; // r: left, top, right, bottom as given
    virtual void ellipse(const QRect &r) = 0;
    // advances: one per UTF-16 unit, in device pixels; bounds: device rectangle of the text
    virtual void text(QPoint ref, const QString &s, const QVector<int> &advances, const QRect &bounds) = 0;
    virtual void image(const QRect &dest, const QImage &img) = 0;
    virtual QByteArray finish(const QRect &bounds) = 0;

protected:
    virtual void createPen(int slot, const PenSpec &pen) = 0;
    virtual void createBrush(int slot, const BrushSpec &brush) = 0;
    virtual void createFont(int slot, const FontRecord &font) = 0;
    virtual void selectRecord(int slot) = 0;
    virtual void deleteRecord(int slot) = 0;
    virtual void textColorRecord(quint32 color) = 0;
    virtual void fillModeRecord(int mode) = 0;

    int allocate()
    {
        auto it = std::find(used_.begin(), used_.end(), false);
        const int index = int(it - used_.begin());
        if (it == used_.end())
            used_.push_back(true);
        else
            *it = true;
        return index + firstSlot_;
    }
    void release(int slot) { used_[size_t(slot - firstSlot_)] = false; }
    // Highest slot ever used plus one.
    int slotCount() const { return firstSlot_ + int(used_.size()); }

    // Selects the new object, then deletes the one it displaced: a selected object
    // is never deleted while it is in use.
    void replace(int &current, int slot)
    {
        selectRecord(slot);
        if (current >= 0) {
            deleteRecord(current);
            release(current);
        }
        current = slot;
    }
    // Slots still alive at the end, for the closing deletes.
    std::vector<int> liveSlots() const
    {
        std::vector<int> out;
        for (int s : {penSlot_, brushSlot_, fontSlot_})
            if (s >= 0)
                out.push_back(s);
        return out;
    }

    const int firstSlot_;
    const QSize size_;
    const int dpi_;
    const int scale_;

private:
    std::vector<bool> used_;
    // Creates the object in a free slot and selects it in place of the one
    // held in current, unless that one already matches.
    template <typename Record, typename Create>
    void select(int &current, Record &cached, const Record &wanted, Create create)
    {
        if (current >= 0 && wanted == cached)
            return;
        const int slot = allocate();
        create(slot);
        replace(current, slot);
        cached = wanted;
    }

    int penSlot_ = -1, brushSlot_ = -1, fontSlot_ = -1;
    PenSpec pen_;
    BrushSpec brush_;
    FontRecord font_;
    quint32 textColor_ = 0;
    bool textColorSet_ = false;
    int fillMode_ = kAlternate;
};

// ---- EMF

class EmfWriter final : public RecordWriter
{
public:
    EmfWriter(QSize size, int dpi, int scale, QString description)
        : RecordWriter(1, size, dpi, scale)
        , description_(std::move(description))
    { }

    void begin() override
    {
        // Logical units are a fraction of a pixel, scaled down by the world
        // transform; readers apply it to pen widths and font sizes as well, which
        // some do not do for a window-to-viewport mapping.
        record(17, {1}); // SETMAPMODE MM_TEXT
        Bytes xf;
        xf.u32(35); // SETWORLDTRANSFORM
        xf.u32(32);
        xf.f32(1.0f / float(scale_));
        xf.f32(0.0f);
        xf.f32(0.0f);
        xf.f32(1.0f / float(scale_));
        xf.f32(0.0f);
        xf.f32(0.0f);
        append(xf);
        record(18, {kTransparent}); // SETBKMODE
        record(22, {kTaBaselineLeft}); // SETTEXTALIGN
    }

    void polyline(const QPolygon &pts) override { poly16(87, pts); }
    void polygon(const QPolygon &pts) override { poly16(86, pts); }

    void polyPolygon(const QVector<QPolygon> &polys) override
    {
        // EMR_POLYPOLYGON16: bounds, number of polygons, total points, counts, points.
        int total = 0;
        QRect bounds;
        for (const QPolygon &p : polys) {
            total += int(p.size());
            bounds |= p.boundingRect();
        }
        Bytes b;
        b.u32(91);
        b.u32(quint32(32 + 4 * polys.size() + 4 * total));
        rectl(b, bounds);
        b.u32(quint32(polys.size()));
        b.u32(quint32(total));
        for (const QPolygon &p : polys)
            b.u32(quint32(p.size()));
        for (const QPolygon &p : polys)
            for (const QPoint &pt : p) {
                b.i16(clamp16(pt.x()));
                b.i16(clamp16(pt.y()));
            }
        append(b);
    }

    void rectangle(const QRect &r) override { box(43, r); }
    void ellipse(const QRect &r) override { box(42, r); }

    void text(QPoint ref, const QString &s, const QVector<int> &advances, const QRect &bounds) override
    {
        // EMR_EXTTEXTOUTW with an (empty) clipping rectangle present: some readers
        // assume it is there whatever the options say.
        const int n = int(s.size());
        const int offString = 76;
        const int stringBytes = ((2 * n + 3) / 4) * 4;
        const int offDx = offString + stringBytes;
        Bytes b;
        b.u32(84);
        b.u32(quint32(offDx + 4 * n));
        rectl(b, bounds);
        b.u32(1); // GM_COMPATIBLE
        b.f32(0.0f);
        b.f32(0.0f);
        b.i32(ref.x());
        b.i32(ref.y());
        b.u32(quint32(n));
        b.u32(quint32(offString));
        b.u32(0); // options
        b.zeros(16); // rcl
        b.u32(quint32(offDx));
        for (QChar c : s)
            b.u16(c.unicode());
        b.padTo(4);
        for (int a : advances)
            b.i32(a);
        append(b);
    }

    void image(const QRect &dest, const QImage &img) override
    {
        // EMR_STRETCHDIBITS with a 24-bit bottom-up DIB.
        const QByteArray dib = dibBits(img);
        const int fixed = 80, bmi = 40;
        Bytes b;
        b.u32(81);
        b.u32(quint32(fixed + bmi + dib.size()));
        rectl(b, dest.adjusted(0, 0, -1, -1));
        b.i32(dest.x());
        b.i32(dest.y());
        b.i32(0);
        b.i32(0);
        b.i32(img.width());
        b.i32(img.height());
        b.u32(quint32(fixed));
        b.u32(quint32(bmi));
        b.u32(quint32(fixed + bmi));
        b.u32(quint32(dib.size()));
        b.u32(0); // DIB_RGB_COLORS
        b.u32(0x00CC0020); // SRCCOPY
        b.i32(dest.width());
        b.i32(dest.height());
        bitmapInfoHeader(b, img, dib.size());
        b.raw(dib);
        append(b);
    }

    QByteArray finish(const QRect &bounds) override
    {
        // Put stock objects back, then free ours.
        record(37, {0x80000000u | 7}); // BLACK_PEN
        record(37, {0x80000000u | 0}); // WHITE_BRUSH
        record(37, {0x80000000u | 13}); // SYSTEM_FONT
        for (int slot : liveSlots())
            record(40, {quint32(slot)});
        record(14, {0, 16, 20}); // EOF: no palette, offset, size of this record

        const QByteArray desc = descriptionBytes();
        Bytes h;
        h.u32(1);
        h.u32(quint32(108 + desc.size()));
        QRect used = bounds.isValid() ? bounds : QRect(0, 0, 0, 0);
        rectl(h, used);
        // Frame: the whole picture in 0.01 mm. Readers take right - left as the
        // width, so the last unit is not taken off: a pixel-exact picture matters
        // more than 0.01 mm.
        const int fw = int(std::lround(size_.width() * 2540.0 / dpi_));
        const int fh = int(std::lround(size_.height() * 2540.0 / dpi_));
        h.i32(0);
        h.i32(0);
        h.i32(fw);
        h.i32(fh);
        h.u32(0x464D4520);
        h.u32(0x10000);
        h.u32(quint32(108 + desc.size() + body_.size()));
        h.u32(quint32(records_ + 1));
        h.u16(quint16(slotCount()));
        h.u16(0);
        h.u32(quint32(desc.size() / 2));
        h.u32(108);
        h.u32(0);
        // Reference device: a screen whose millimetre size matches the resolution.
        const int devW = 1920, devH = 1440;
        h.i32(devW);
        h.i32(devH);
        h.i32(int(std::lround(devW * 25.4 / dpi_)));
        h.i32(int(std::lround(devH * 25.4 / dpi_)));
        h.u32(0);
        h.u32(0);
        h.u32(0);
        h.i32(int(std::lround(devW * 25400.0 / dpi_)));
        h.i32(int(std::lround(devH * 25400.0 / dpi_)));
        h.raw(desc);
        return h.data() + body_.data();
    }

protected:
    void createPen(int slot, const PenSpec &pen) override
    {
        Bytes b;
        if (pen.style != kPsNull) {
            // Geometric pens: EMR_EXTCREATEPEN carries caps and joins, and readers
            // honour its width (some ignore a plain pen's width). A one-pixel pen
            // is written one pixel wide rather than as 0, which readers that scale
            // widths by the world transform would shrink.
            b.u32(95);
            b.u32(52);
            b.u32(quint32(slot));
            b.u32(0); // no brush bitmap: offBmi, cbBmi, offBits, cbBits
            b.u32(0);
            b.u32(0);
            b.u32(0);
            b.u32(quint32(0x10000 | pen.capJoin | pen.style)); // PS_GEOMETRIC
            b.u32(quint32(pen.width > 0 ? pen.width : scale_));
            b.u32(0); // BS_SOLID
            b.u32(pen.color);
            b.u32(0);
            b.u32(0); // no style entries
        } else {
            b.u32(38);
            b.u32(28);
            b.u32(quint32(slot));
            b.u32(quint32(pen.style));
            b.i32(pen.width);
            b.i32(0);
            b.u32(pen.color);
        }
        append(b);
    }
    void createBrush(int slot, const BrushSpec &brush) override
    {
        record(39, {quint32(slot), quint32(brush.style), brush.color, quint32(brush.hatch)});
    }
    void createFont(int slot, const FontRecord &font) override
    {
        Bytes b;
        b.u32(82);
        b.u32(12 + 92);
        b.u32(quint32(slot));
        b.i32(-font.height);
        b.i32(0);
        b.i32(font.escapement);
        b.i32(font.escapement);
        b.i32(font.weight);
        b.u8(font.italic);
        b.u8(font.underline);
        b.u8(font.strikeOut);
        b.u8(kShiftJisCharset);
        b.u8(0);
        b.u8(0);
        b.u8(0);
        b.u8(0);
        const QString face = font.face.left(31);
        for (int i = 0; i < 32; ++i)
            b.u16(i < face.size() ? face.at(i).unicode() : 0);
        append(b);
    }
    void selectRecord(int slot) override { record(37, {quint32(slot)}); }
    void deleteRecord(int slot) override { record(40, {quint32(slot)}); }
    void textColorRecord(quint32 color) override { record(24, {color}); }
    void fillModeRecord(int mode) override { record(19, {quint32(mode)}); }

private:
    void append(const Bytes &b)
    {
        body_.raw(b.data());
        ++records_;
    }
    void record(quint32 type, std::initializer_list<quint32> params)
    {
        Bytes b;
        b.u32(type);
        b.u32(quint32(8 + 4 * params.size()));
        for (quint32 p : params)
            b.u32(p);
        append(b);
    }
    static void rectl(Bytes &b, const QRect &r)
    {
        b.i32(r.left());
        b.i32(r.top());
        b.i32(r.right());
        b.i32(r.bottom());
    }
    void poly16(quint32 type, const QPolygon &pts)
    {
        Bytes b;
        b.u32(type);
        b.u32(quint32(28 + 4 * pts.size()));
        rectl(b, pts.boundingRect());
        b.u32(quint32(pts.size()));
        for (const QPoint &p : pts) {
            b.i16(clamp16(p.x()));
            b.i16(clamp16(p.y()));
        }
        append(b);
    }
    void box(quint32 type, const QRect &r)
    {
        record(type, {quint32(r.left()), quint32(r.top()), quint32(r.right()), quint32(r.bottom())});
    }
    QByteArray descriptionBytes() const
    {
        QByteArray out;
        for (QChar c : description_) {
            out.append(char(c.unicode() & 0xff));
            out.append(char(c.unicode() >> 8));
        }
        while (out.size() % 4 != 0)
            out.append('\0');
        return out;
    }

public:
    static QByteArray dibBits(const QImage &img)
    {
        const QImage rgb = img.convertToFormat(QImage::Format_RGB888);
        const int stride = ((img.width() * 3 + 3) / 4) * 4;
        QByteArray out(qsizetype(stride) * img.height(), '\0');
        for (int y = 0; y < img.height(); ++y) {
            const uchar *src = rgb.constScanLine(img.height() - 1 - y);
            char *dst = out.data() + qsizetype(stride) * y;
            for (int x = 0; x < img.width(); ++x) {
                dst[3 * x] = char(src[3 * x + 2]);
                dst[3 * x + 1] = char(src[3 * x + 1]);
                dst[3 * x + 2] = char(src[3 * x]);
            }
        }
        return out;
    }
    static void bitmapInfoHeader(Bytes &b, const QImage &img, int imageBytes)
    {
        b.u32(40);
        b.i32(img.width());
        b.i32(img.height());
        b.u16(1);
        b.u16(24);
        b.u32(0); // BI_RGB
        b.u32(quint32(imageBytes));
        b.i32(3780); // 96 dpi in pixels per metre
        b.i32(3780);
        b.u32(0);
        b.u32(0);
    }

private:
    QString description_;
    Bytes body_;
    int records_ = 0;
};

// ---- WMF

QByteArray toShiftJis(const QString &s, QVector<int> *unitToByteStart = nullptr)
{
    // Character by character, so that each byte is known to belong to its
    // character; a surrogate pair (never in the code page) is one '?'.
    QByteArray out;
    if (unitToByteStart)
        unitToByteStart->clear();
    for (int i = 0; i < s.size(); ++i) {
        int len = 1;
        if (s.at(i).isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
            len = 2;
        if (unitToByteStart) {
            unitToByteStart->append(int(out.size()));
            if (len == 2)
                unitToByteStart->append(-1);
        }
        if (len == 2)
            out.append('?');
        else
            sjis::appendEncoded(out, s.at(i));
        i += len - 1;
    }
    return out;
}

class WmfWriter final : public RecordWriter
{
public:
    WmfWriter(QSize size, int dpi, int scale)
        : RecordWriter(0, size, dpi, scale)
    { }

    void begin() override
    {
        record(0x020B, {0, 0}); // SETWINDOWORG y, x
        record(0x020C, {quint16(size_.height() * scale_), quint16(size_.width() * scale_)}); // SETWINDOWEXT
        record(0x0102, {kTransparent}); // SETBKMODE
        record(0x012E, {kTaBaselineLeft}); // SETTEXTALIGN
    }

    void polyline(const QPolygon &pts) override
    {
        // The point count is 16 bits: a longer line goes out in pieces that
        // share their end points.
        constexpr int kMax = 8000;
        for (int start = 0; start + 1 < pts.size(); start += kMax - 1)
            points(0x0325, pts.mid(start, kMax));
    }
    void polygon(const QPolygon &pts) override { points(0x0324, fitPointCount(pts, kWmfMaxPoints)); }

    void polyPolygon(const QVector<QPolygon> &all) override
    {
        // Counts are 16-bit: at most 32,767 polygons of 32,767 points a record.
        for (int start = 0; start < all.size(); start += kWmfMaxPoints) {
            QVector<QPolygon> polys;
            for (int i = start; i < all.size() && i < start + kWmfMaxPoints; ++i)
                polys.append(fitPointCount(all.at(i), kWmfMaxPoints));
            polyPolygonRecord(polys);
        }
    }

    void polyPolygonRecord(const QVector<QPolygon> &polys)
    {
        std::vector<quint16> p;
        p.push_back(quint16(polys.size()));
        for (const QPolygon &poly : polys)
            p.push_back(quint16(poly.size()));
        for (const QPolygon &poly : polys)
            for (const QPoint &pt : poly) {
                p.push_back(quint16(clamp16(pt.x())));
                p.push_back(quint16(clamp16(pt.y())));
            }
        record(0x0538, p);
    }

    void rectangle(const QRect &r) override { box(0x041B, r); }
    void ellipse(const QRect &r) override { box(0x0418, r); }

    void text(QPoint ref, const QString &s, const QVector<int> &advances, const QRect &) override
    {
        // META_EXTTEXTOUT: the bytes in code page 932, each character's advance on
        // its lead byte and 0 on a trail byte.
        QVector<int> starts;
        QByteArray bytes = toShiftJis(s, &starts);
        if (bytes.size() > 32767) {
            // The byte count is 16-bit: cut on a character boundary.
            int cut = 0;
            for (int st : starts)
                if (st >= 0 && st <= 32767)
                    cut = st;
            bytes.truncate(cut);
        }
        std::vector<int> dx(size_t(bytes.size()), 0);
        int pending = 0;
        for (int i = 0; i < s.size(); ++i) {
            pending += advances.value(i);
            if (starts.value(i) >= 0 && starts.value(i) < bytes.size()) {
                dx[size_t(starts.value(i))] += pending;
                pending = 0;
            }
        }
        std::vector<quint16> p;
        p.push_back(quint16(clamp16(ref.y())));
        p.push_back(quint16(clamp16(ref.x())));
        p.push_back(quint16(bytes.size()));
        p.push_back(0); // options: no rectangle
        QByteArray padded = bytes;
        if (padded.size() % 2)
            padded.append('\0');
        for (int i = 0; i < padded.size(); i += 2)
            p.push_back(quint16(quint8(padded[i]) | (quint8(padded[i + 1]) << 8)));
        for (int d : dx)
            p.push_back(quint16(clamp16(d)));
        record(0x0A32, p);
    }

    void image(const QRect &dest, const QImage &img) override
    {
        // META_STRETCHDIB with a 24-bit DIB.
        const QByteArray dib = EmfWriter::dibBits(img);
        Bytes b;
        b.u32(0x00CC0020); // SRCCOPY
        b.u16(0); // DIB_RGB_COLORS
        b.i16(clamp16(img.height()));
        b.i16(clamp16(img.width()));
        b.i16(0);
        b.i16(0);
        b.i16(clamp16(dest.height()));
        b.i16(clamp16(dest.width()));
        b.i16(clamp16(dest.y()));
        b.i16(clamp16(dest.x()));
        EmfWriter::bitmapInfoHeader(b, img, int(dib.size()));
        b.raw(dib);
        rawRecord(0x0F43, b.data());
    }

    QByteArray finish(const QRect &) override
    {
        for (int slot : liveSlots())
            record(0x01F0, {quint16(slot)});
        rawRecord(0x0000, QByteArray()); // EOF

        Bytes out;
        // Placeable header: the picture in logical units, scale_ of them per pixel.
        Bytes ph;
        ph.u32(0x9AC6CDD7);
        ph.u16(0);
        ph.i16(0);
        ph.i16(0);
        ph.i16(clamp16(size_.width() * scale_));
        ph.i16(clamp16(size_.height() * scale_));
        ph.u16(quint16(dpi_ * scale_));
        ph.u32(0);
        quint16 sum = 0;
        for (int i = 0; i < 20; i += 2)
            sum ^= quint16(quint8(ph.data()[i]) | (quint8(ph.data()[i + 1]) << 8));
        ph.u16(sum);
        out.raw(ph.data());

        out.u16(1); // memory metafile
        out.u16(9);
        out.u16(0x0300);
        out.u32(quint32(9 + body_.size() / 2));
        out.u16(quint16(std::max(1, slotCount())));
        out.u32(maxRecordWords_);
        out.u16(0);
        out.raw(body_.data());
        return out.data();
    }

protected:
    void createPen(int, const PenSpec &pen) override
    {
        const quint32 c = pen.color;
        record(0x02FA, {quint16(pen.style), quint16(clamp16(pen.width)), 0, quint16(c & 0xffff), quint16(c >> 16)});
    }
    void createBrush(int, const BrushSpec &brush) override
    {
        const quint32 c = brush.color;
        record(0x02FC, {quint16(brush.style), quint16(c & 0xffff), quint16(c >> 16), quint16(brush.hatch)});
    }
    void createFont(int, const FontRecord &font) override
    {
        Bytes b;
        b.i16(clamp16(-font.height));
        b.i16(0);
        b.i16(qint16(font.escapement));
        b.i16(qint16(font.escapement));
        b.i16(qint16(font.weight));
        b.u8(font.italic);
        b.u8(font.underline);
        b.u8(font.strikeOut);
        b.u8(kShiftJisCharset);
        b.u8(0);
        b.u8(0);
        b.u8(0);
        b.u8(0);
        QByteArray face = toShiftJis(font.face);
        if (face.size() > 31) {
            // Cut on a character boundary.
            QVector<int> starts;
            toShiftJis(font.face, &starts);
            int cut = 0;
            for (int s : starts)
                if (s >= 0 && s <= 31)
                    cut = s;
            face.truncate(face.size() <= 31 ? face.size() : cut);
        }
        face.append(32 - face.size(), '\0');
        b.raw(face);
        rawRecord(0x02FB, b.data());
    }
    void selectRecord(int slot) override { record(0x012D, {quint16(slot)}); }
    void deleteRecord(int slot) override { record(0x01F0, {quint16(slot)}); }
    void textColorRecord(quint32 color) override { record(0x0209, {quint16(color & 0xffff), quint16(color >> 16)}); }
    void fillModeRecord(int mode) override { record(0x0106, {quint16(mode)}); }

private:
    void rawRecord(quint16 function, const QByteArray &params)
    {
        QByteArray p = params;
        if (p.size() % 2)
            p.append('\0');
        const quint32 words = 3 + quint32(p.size() / 2);
        body_.u32(words);
        body_.u16(function);
        body_.raw(p);
        maxRecordWords_ = std::max(maxRecordWords_, words);
    }
    void record(quint16 function, const std::vector<quint16> &params)
    {
        Bytes b;
        for (quint16 v : params)
            b.u16(v);
        rawRecord(function, b.data());
    }
    void record(quint16 function, std::initializer_list<quint16> params)
    {
        record(function, std::vector<quint16>(params));
    }
    void points(quint16 function, const QPolygon &pts)
    {
        std::vector<quint16> p;
        p.push_back(quint16(pts.size()));
        for (const QPoint &pt : pts) {
            p.push_back(quint16(clamp16(pt.x())));
            p.push_back(quint16(clamp16(pt.y())));
        }
        record(function, p);
    }
    void box(quint16 function, const QRect &r)
    {
        record(function,
            {quint16(clamp16(r.bottom())), quint16(clamp16(r.right())), quint16(clamp16(r.top())),
                quint16(clamp16(r.left()))});
    }

    Bytes body_;
    quint32 maxRecordWords_ = 0;
};

// ---------------------------------------------------------------- geometry

// Liang-Barsky: clips segment a-b to r; false when nothing is left.
bool clipSegment(QPointF &a, QPointF &b, const QRectF &r)
{
    double t0 = 0.0, t1 = 1.0;
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x() - r.left(), r.right() - a.x(), a.y() - r.top(), r.bottom() - a.y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0)
                return false;
        } else {
            const double t = q[i] / p[i];
            if (p[i] < 0.0)
                t0 = std::max(t0, t);
            else
                t1 = std::min(t1, t);
        }
    }
    if (t0 > t1)
        return false;
    const QPointF a0 = a;
    a = QPointF(a0.x() + t0 * dx, a0.y() + t0 * dy);
    b = QPointF(a0.x() + t1 * dx, a0.y() + t1 * dy);
    return true;
}

QPolygon rounded(const QPolygonF &p)
{
    QPolygon out;
    out.reserve(p.size());
    for (const QPointF &pt : p) {
        const QPoint q(toInt(pt.x()), toInt(pt.y()));
        if (out.isEmpty() || out.last() != q)
            out.append(q);
    }
    return out;
}

// Sutherland-Hodgman against an axis-aligned rectangle.
QPolygonF clipPolygon(const QPolygonF &in, const QRectF &r)
{
    QPolygonF poly = in;
    for (int edge = 0; edge < 4 && !poly.isEmpty(); ++edge) {
        auto inside = [&](const QPointF &p) {
            switch (edge) {
            case 0: return p.x() >= r.left();
            case 1: return p.x() <= r.right();
            case 2: return p.y() >= r.top();
            default: return p.y() <= r.bottom();
            }
        };
        auto cross = [&](const QPointF &a, const QPointF &b) {
            double t;
            switch (edge) {
            case 0: t = (r.left() - a.x()) / (b.x() - a.x()); break;
            case 1: t = (r.right() - a.x()) / (b.x() - a.x()); break;
            case 2: t = (r.top() - a.y()) / (b.y() - a.y()); break;
            default: t = (r.bottom() - a.y()) / (b.y() - a.y()); break;
            }
            return a + t * (b - a);
        };
        QPolygonF out;
        for (int i = 0; i < poly.size(); ++i) {
            const QPointF cur = poly.at(i);
            const QPointF prev = poly.at((i + poly.size() - 1) % poly.size());
            if (inside(cur)) {
                if (!inside(prev))
                    out.append(cross(prev, cur));
                out.append(cur);
            } else if (inside(prev)) {
                out.append(cross(prev, cur));
            }
        }
        poly = out;
    }
    return poly;
}

} // namespace

// ---------------------------------------------------------------- the engine

class MetafileEngine final : public QPaintEngine
{
public:
    MetafileEngine(MetafileFormat format, QSize size, int dpi)
        : QPaintEngine(QPaintEngine::PaintEngineFeatures(QPaintEngine::AllFeatures)
            & ~QPaintEngine::PaintEngineFeatures(
                QPaintEngine::PerspectiveTransform | QPaintEngine::ConicalGradientFill | QPaintEngine::PorterDuff))
        , format_(format)
        , size_(size)
        , dpi_(dpi)
        , scale_(unitsPerPixelFor(size))
    { }

    // Logical units per pixel: as fine as 16-bit coordinates allow, at most 8, and a
    // power of two so that the world transform's 1/scale is exact in a float.
    static int unitsPerPixelFor(QSize size)
    {
        const int fits = 30000 / (std::max(size.width(), size.height()) + 2000);
        int scale = 1;
        while (scale * 2 <= std::min(fits, 8))
            scale *= 2;
        return scale;
    }

    void setDescription(const QString &app, const QString &title)
    {
        description_ = app + QChar(0) + title + QChar(0) + QChar(0);
    }
    QByteArray result() const { return result_; }

    bool begin(QPaintDevice *) override
    {
        result_.clear();
        bounds_ = QRect();
        if (format_ == MetafileFormat::Emf)
            writer_ = std::make_unique<EmfWriter>(size_, dpi_, scale_, description_);
        else
            writer_ = std::make_unique<WmfWriter>(size_, dpi_, scale_);
        writer_->begin();
        xf_ = QTransform::fromScale(scale_, scale_);
        pen_ = QPen();
        brush_ = QBrush();
        clipEnabled_ = false;
        hasClip_ = false;
        setActive(true);
        return true;
    }

    bool end() override
    {
        if (writer_)
            result_ = writer_->finish(bounds_);
        writer_.reset();
        setActive(false);
        return true;
    }

    Type type() const override { return Type(QPaintEngine::User + 41); }

    void updateState(const QPaintEngineState &st) override
    {
        const DirtyFlags f = st.state();
        if (f & DirtyTransform)
            xf_ = st.transform() * QTransform::fromScale(scale_, scale_);
        if (f & DirtyPen)
            pen_ = st.pen();
        if (f & DirtyBrush)
            brush_ = st.brush();
        if (f & DirtyClipEnabled)
            clipEnabled_ = st.isClipEnabled();
        if (f & DirtyClipPath)
            applyClip(xf_.map(st.clipPath()).boundingRect(), st.clipOperation(), st.clipPath().isEmpty());
        if (f & DirtyClipRegion) {
            QPainterPath p;
            p.addRegion(st.clipRegion());
            applyClip(xf_.map(p).boundingRect(), st.clipOperation(), st.clipRegion().isEmpty());
        }
    }

    void drawPolygon(const QPointF *points, int count, PolygonDrawMode mode) override
    {
        QPolygonF poly;
        poly.reserve(count);
        for (int i = 0; i < count; ++i)
            poly.append(xf_.map(points[i]));
        if (!usable(poly))
            return;
        if (mode == PolylineMode)
            strokePolyline(poly);
        else
            drawShape({poly}, true, mode == WindingMode ? kWinding : kAlternate);
    }

    void drawPolygon(const QPoint *points, int count, PolygonDrawMode mode) override
    {
        QVector<QPointF> pts;
        pts.reserve(count);
        for (int i = 0; i < count; ++i)
            pts.append(points[i]);
        drawPolygon(pts.constData(), count, mode);
    }

    void drawLines(const QLineF *lines, int count) override
    {
        for (int i = 0; i < count; ++i) {
            const QPolygonF line({xf_.map(lines[i].p1()), xf_.map(lines[i].p2())});
            if (usable(line))
                strokePolyline(line);
        }
    }
    void drawLines(const QLine *lines, int count) override
    {
        for (int i = 0; i < count; ++i) {
            const QLineF l(lines[i]);
            drawLines(&l, 1);
        }
    }

    void drawPoints(const QPointF *points, int count) override
    {
        // A point is a pen-sized dot: a one-pixel line keeps it a vector.
        for (int i = 0; i < count; ++i) {
            const QPointF p = xf_.map(points[i]);
            if (usable(p))
                strokePolyline(QPolygonF({p, p + QPointF(scale_, 0)}));
        }
    }
    void drawPoints(const QPoint *points, int count) override
    {
        for (int i = 0; i < count; ++i) {
            const QPointF p(points[i]);
            drawPoints(&p, 1);
        }
    }

    void drawRects(const QRectF *rects, int count) override
    {
        for (int i = 0; i < count; ++i) {
            if (xf_.type() <= QTransform::TxScale) {
                QRectF r = xf_.mapRect(rects[i]).normalized();
                if (!usable(r))
                    continue;
                const QRectF clip = effectiveClip();
                const QRectF c = r.intersected(clip);
                if (c.isEmpty() && !(r.width() == 0 || r.height() == 0))
                    continue;
                if (c != r) {
                    drawShape({QPolygonF(r)}, true, kAlternate);
                    continue;
                }
                const QRect dr(QPoint(toInt(r.left()), toInt(r.top())), QPoint(toInt(r.right()), toInt(r.bottom())));
                if (!selectPenAndBrush())
                    continue;
                writer_->rectangle(dr);
                addBounds(QRectF(dr.topLeft(), dr.bottomRight()), true);
            } else {
                const QPolygonF poly = xf_.map(QPolygonF(rects[i]));
                if (usable(poly))
                    drawShape({poly}, true, kAlternate);
            }
        }
    }
    void drawRects(const QRect *rects, int count) override
    {
        for (int i = 0; i < count; ++i) {
            const QRectF r(rects[i]);
            drawRects(&r, 1);
        }
    }

    void drawEllipse(const QRectF &rect) override
    {
        const QRectF r = xf_.mapRect(rect).normalized();
        if (!usable(r))
            return;
        if (xf_.type() <= QTransform::TxScale && effectiveClip().contains(r)) {
            if (!selectPenAndBrush())
                return;
            writer_->ellipse(
                QRect(QPoint(toInt(r.left()), toInt(r.top())), QPoint(toInt(r.right()), toInt(r.bottom()))));
            addBounds(r, true);
            return;
        }
        QPainterPath p;
        p.addEllipse(rect);
        drawPath(p);
    }
    void drawEllipse(const QRect &rect) override { drawEllipse(QRectF(rect)); }

    void drawPath(const QPainterPath &path) override
    {
        const QPainterPath mapped = xf_.map(path);
        const QList<QPolygonF> subpaths = mapped.toSubpathPolygons();
        if (subpaths.isEmpty())
            return;
        for (const QPolygonF &p : subpaths)
            if (!usable(p))
                return;
        const int fill = path.fillRule() == Qt::WindingFill ? kWinding : kAlternate;
        bool allClosed = true;
        for (const QPolygonF &p : subpaths)
            allClosed = allClosed && p.isClosed();
        if (brushVisible() && allClosed && subpaths.size() == 1) {
            drawShape({subpaths.first()}, true, fill);
            return;
        }
        if (brushVisible())
            fillOnly(QVector<QPolygonF>(subpaths.begin(), subpaths.end()), fill);
        for (const QPolygonF &p : subpaths)
            strokePolyline(p);
    }

    void drawTextItem(const QPointF &p, const QTextItem &ti) override
    {
        const QString text = ti.text();
        if (text.isEmpty() || pen_.style() == Qt::NoPen || pen_.color().alpha() == 0)
            return;
        const QFont font = ti.font();
        const QFontMetricsF fm(font, paintDevice());

        // The text's box in painter coordinates, then on the device.
        const double width = ti.width() > 0 ? ti.width() : fm.horizontalAdvance(text);
        const QRectF logicalBox(p.x(), p.y() - ti.ascent(), width, ti.ascent() + ti.descent());
        const QRectF box = xf_.mapRect(logicalBox);
        const QPointF ref = xf_.map(p);
        // The reference point is a record field: one it cannot hold drops the text.
        if (!usable(box) || !usable(ref) || std::abs(ref.x()) > kIntLimit || std::abs(ref.y()) > kIntLimit
            || !box.intersects(effectiveClip()))
            return;

        // Scale and rotation of the baseline from the transform.
        const double sx = std::hypot(xf_.m11(), xf_.m12());
        const double sy = std::hypot(xf_.m21(), xf_.m22());
        double angle = std::atan2(xf_.m12(), xf_.m11()) * 180.0 / M_PI;
        if (!std::isfinite(angle))
            angle = 0.0;

        FontRecord record;
        record.face = metafileFaceName(font.family());
        const double em = font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * dpi_ / 72.0;
        record.height = std::max(1, toInt(em * sy));
        record.escapement = toInt(-angle * 10.0);
        record.escapement = ((record.escapement % 3600) + 3600) % 3600;
        record.weight = std::clamp(int(font.weight()), 1, 1000);
        record.italic = font.italic();
        record.underline = font.underline();
        record.strikeOut = font.strikeOut();

        // Advances from cumulative positions, so that rounding does not add up.
        // Positions are measured within chunks of kChunk characters, so the
        // cost grows with the length, not its square; kerning across a chunk
        // boundary is the only thing lost, and only in long texts.
        constexpr int kChunk = 64;
        const double total = fm.horizontalAdvance(text);
        const double stretch = total > 0 && std::isfinite(width / total) ? width / total : 1.0;
        QVector<int> advances(text.size(), 0);
        double chunkBase = 0.0;
        int chunkStart = 0;
        qint64 placed = 0;
        for (int i = 0; i < text.size();) {
            const int len = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
            const double inChunk = fm.horizontalAdvance(text.mid(chunkStart, i + len - chunkStart));
            const qint64 pos = toInt((chunkBase + inChunk) * stretch * sx);
            advances[i] = int(std::clamp<qint64>(pos - placed, -qint64(kIntLimit), qint64(kIntLimit)));
            placed = pos;
            i += len;
            if (i - chunkStart >= kChunk) {
                chunkBase += inChunk;
                chunkStart = i;
            }
        }

        writer_->setFont(record);
        writer_->setTextColor(colorRef(opaqueOnWhite(pen_.color())));
        const QRect ibox(QPoint(toInt(std::floor(box.left())), toInt(std::floor(box.top()))),
            QPoint(toInt(std::ceil(box.right())) - 1, toInt(std::ceil(box.bottom())) - 1));
        writer_->text(QPoint(toInt(ref.x()), toInt(ref.y())), text, advances, ibox);
        addBounds(box, false);
    }

    void drawPixmap(const QRectF &r, const QPixmap &pm, const QRectF &sr) override
    {
        drawImage(r, pm.toImage(), sr, Qt::AutoColor);
    }

    void drawImage(const QRectF &r, const QImage &image, const QRectF &sr, Qt::ImageConversionFlags) override
    {
        if (image.isNull())
            return;
        const QRectF dest = xf_.mapRect(r).normalized();
        // Placement and size are record fields: a picture they cannot hold is dropped.
        const QRectF fits(-kIntLimit / 2, -kIntLimit / 2, kIntLimit, kIntLimit);
        if (!usable(dest) || !fits.contains(dest) || !dest.intersects(effectiveClip()))
            return;
        if (!usable(sr))
            return;
        const QRect source = sr.toAlignedRect().intersected(image.rect());
        if (source.isEmpty())
            return;
        QImage part = image.copy(source);
        if (part.hasAlphaChannel()) {
            QImage flat(part.size(), QImage::Format_RGB32);
            flat.fill(Qt::white);
            QPainter pp(&flat);
            pp.drawImage(0, 0, part);
            pp.end();
            part = flat;
        }
        // More pixels than any picture shows only make the file huge.
        constexpr qint64 kMaxPixels = 4096 * 4096;
        if (qint64(part.width()) * part.height() > kMaxPixels)
            part = part.scaled(4096, 4096, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        const QRect d(QPoint(toInt(std::floor(dest.left())), toInt(std::floor(dest.top()))),
            QPoint(toInt(std::ceil(dest.right())) - 1, toInt(std::ceil(dest.bottom())) - 1));
        writer_->image(d, part);
        addBounds(QRectF(d), false);
    }

private:
    void applyClip(const QRectF &rect, Qt::ClipOperation op, bool emptyShape)
    {
        switch (op) {
        case Qt::NoClip: hasClip_ = false; break;
        case Qt::ReplaceClip:
            hasClip_ = true;
            clip_ = emptyShape ? QRectF() : rect;
            break;
        case Qt::IntersectClip:
            clip_ = hasClip_ ? clip_.intersected(rect) : rect;
            if (emptyShape)
                clip_ = QRectF();
            hasClip_ = true;
            break;
        }
    }

    // Where drawing may land: the painter's clip within the picture, as on any
    // other paint device; this also keeps 16-bit coordinates from overflowing.
    QRectF effectiveClip() const
    {
        const QRectF limit(0.0, 0.0, double(size_.width()) * scale_, double(size_.height()) * scale_);
        if (clipEnabled_ && hasClip_)
            return clip_.isValid() ? clip_.intersected(limit) : QRectF();
        return limit;
    }

    bool penVisible() const { return pen_.style() != Qt::NoPen && pen_.color().alpha() != 0; }
    bool brushVisible() const { return brush_.style() != Qt::NoBrush && brush_.color().alpha() != 0; }

    // In logical units; 0 is GDI's one-pixel pen.
    int penWidthPx() const
    {
        if (pen_.widthF() <= 0 || (pen_.isCosmetic() && pen_.widthF() <= 1.0))
            return 0;
        // Wider than twice the picture covers it all anyway.
        const double widest = 2.0 * std::max(size_.width(), size_.height()) * scale_;
        if (pen_.isCosmetic())
            return toInt(std::min(pen_.widthF() * scale_, widest));
        const double scale = std::sqrt(std::abs(xf_.determinant()));
        const double w = pen_.widthF() * scale;
        return std::max(1, toInt(std::isfinite(w) ? std::min(w, widest) : 1.0));
    }

    PenSpec penSpec() const
    {
        PenSpec s;
        if (!penVisible()) {
            s.style = kPsNull;
            return s;
        }
        switch (pen_.style()) {
        case Qt::DashLine: s.style = 1; break;
        case Qt::DotLine: s.style = 2; break;
        case Qt::DashDotLine: s.style = 3; break;
        case Qt::DashDotDotLine: s.style = 4; break;
        default: s.style = 0; break;
        }
        s.width = penWidthPx();
        // Styled lines only show as such when one pixel wide.
        if (s.style != 0 && s.width <= scale_)
            s.width = 0;
        s.color = colorRef(opaqueOnWhite(pen_.color()));
        if (s.width > 0) {
            switch (pen_.capStyle()) {
            case Qt::FlatCap: s.capJoin |= 0x200; break;
            case Qt::SquareCap: s.capJoin |= 0x100; break;
            default: break;
            }
            switch (pen_.joinStyle()) {
            case Qt::BevelJoin: s.capJoin |= 0x1000; break;
            case Qt::MiterJoin:
            case Qt::SvgMiterJoin: s.capJoin |= 0x2000; break;
            default: break;
            }
        }
        return s;
    }

    BrushSpec brushSpec() const
    {
        BrushSpec s;
        if (!brushVisible()) {
            s.style = kBsNull;
            return s;
        }
        s.color = colorRef(opaqueOnWhite(brush_.color()));
        switch (brush_.style()) {
        case Qt::HorPattern:
            s.style = 2;
            s.hatch = 0;
            break;
        case Qt::VerPattern:
            s.style = 2;
            s.hatch = 1;
            break;
        case Qt::FDiagPattern:
            s.style = 2;
            s.hatch = 2;
            break;
        case Qt::BDiagPattern:
            s.style = 2;
            s.hatch = 3;
            break;
        case Qt::CrossPattern:
            s.style = 2;
            s.hatch = 4;
            break;
        case Qt::DiagCrossPattern:
            s.style = 2;
            s.hatch = 5;
            break;
        case Qt::LinearGradientPattern:
        case Qt::RadialGradientPattern:
        case Qt::ConicalGradientPattern:
            if (const QGradient *g = brush_.gradient(); g && !g->stops().isEmpty())
                s.color = colorRef(opaqueOnWhite(g->stops().first().second));
            break;
        default: break;
        }
        return s;
    }

    // False when neither pen nor brush would draw anything.
    bool selectPenAndBrush()
    {
        if (!penVisible() && !brushVisible())
            return false;
        writer_->setPen(penSpec());
        writer_->setBrush(brushSpec());
        return true;
    }

    // r in logical units; the header's bounds are in device pixels. A line
    // drawn with a zero-width pen has an empty rectangle, and still counts.
    void addBounds(const QRectF &r, bool withPen)
    {
        if (!usable(r))
            return;
        double h = 0.0;
        if (withPen && penVisible())
            h = penWidthPx() / 2.0 / scale_;
        const double w = size_.width(), ht = size_.height();
        const double left = std::clamp(std::min(r.left(), r.right()) / scale_ - h, 0.0, w);
        const double right = std::clamp(std::max(r.left(), r.right()) / scale_ + h, 0.0, w);
        const double top = std::clamp(std::min(r.top(), r.bottom()) / scale_ - h, 0.0, ht);
        const double bottom = std::clamp(std::max(r.top(), r.bottom()) / scale_ + h, 0.0, ht);
        // Entirely off one side: nothing of it is on the picture.
        if (std::max(r.left(), r.right()) / scale_ + h < 0.0 || std::min(r.left(), r.right()) / scale_ - h > w
            || std::max(r.top(), r.bottom()) / scale_ + h < 0.0 || std::min(r.top(), r.bottom()) / scale_ - h > ht)
            return;
        const QRect ib(
            QPoint(int(std::floor(left)), int(std::floor(top))), QPoint(int(std::ceil(right)), int(std::ceil(bottom))));
        const QRect clamped = ib.intersected(QRect(0, 0, size_.width(), size_.height()));
        if (!clamped.isEmpty())
            bounds_ = bounds_.isValid() ? (bounds_ | clamped) : clamped;
    }

    void strokePolyline(const QPolygonF &poly)
    {
        if (!penVisible() || poly.size() < 2)
            return;
        const QRectF clip = effectiveClip();
        // Split into runs that stay inside the clip.
        QVector<QPolygonF> runs;
        QPolygonF run;
        for (int i = 0; i + 1 < poly.size(); ++i) {
            QPointF a = poly.at(i), b = poly.at(i + 1);
            const QPointF origB = b;
            if (!clipSegment(a, b, clip)) {
                if (run.size() > 1)
                    runs.append(run);
                run.clear();
                continue;
            }
            if (run.isEmpty() || run.last() != a) {
                if (run.size() > 1)
                    runs.append(run);
                run.clear();
                run.append(a);
            }
            run.append(b);
            if (b != origB) {
                runs.append(run);
                run.clear();
            }
        }
        if (run.size() > 1)
            runs.append(run);
        for (const QPolygonF &r : runs) {
            QPolygon pts = rounded(r);
            if (pts.size() == 1)
                pts.append(pts.first());
            writer_->setPen(penSpec());
            writer_->polyline(pts);
            addBounds(r.boundingRect(), true);
        }
    }

    void fillOnly(const QVector<QPolygonF> &polys, int fillMode)
    {
        const QRectF clip = effectiveClip();
        QVector<QPolygon> out;
        QRectF box;
        for (const QPolygonF &p : polys) {
            const QPolygonF c = clipPolygon(p, clip);
            const QPolygon r = rounded(c);
            if (r.size() >= 3) {
                out.append(r);
                box |= c.boundingRect();
            }
        }
        if (out.isEmpty())
            return;
        writer_->setPen(PenSpec{kPsNull, 0, 0});
        writer_->setBrush(brushSpec());
        writer_->setFillMode(fillMode);
        if (out.size() == 1)
            writer_->polygon(out.first());
        else
            writer_->polyPolygon(out);
        addBounds(box, false);
    }

    // A closed shape: one polygon record when it lies inside the clip, otherwise the
    // clipped fill and the clipped outline separately, so that no outline is drawn
    // along the clip edge.
    void drawShape(const QVector<QPolygonF> &polys, bool closed, int fillMode)
    {
        const QRectF clip = effectiveClip();
        bool inside = true;
        for (const QPolygonF &p : polys)
            inside = inside && clip.contains(p.boundingRect());
        if (inside && polys.size() == 1) {
            const QPolygon pts = rounded(polys.first());
            if (pts.size() < 2 || !selectPenAndBrush())
                return;
            writer_->setFillMode(fillMode);
            writer_->polygon(pts);
            addBounds(polys.first().boundingRect(), true);
            return;
        }
        if (brushVisible())
            fillOnly(polys, fillMode);
        for (QPolygonF p : polys) {
            if (closed && !p.isEmpty() && !p.isClosed())
                p.append(p.first());
            strokePolyline(p);
        }
    }

    MetafileFormat format_;
    QSize size_;
    int dpi_;
    int scale_;
    QString description_;
    std::unique_ptr<RecordWriter> writer_;
    QByteArray result_;
    QRect bounds_;

    QTransform xf_;
    QPen pen_;
    QBrush brush_;
    bool clipEnabled_ = false;
    bool hasClip_ = false;
    QRectF clip_;
};

// ---------------------------------------------------------------- device

MetafileGenerator::MetafileGenerator(MetafileFormat format, QSize sizePx, int resolutionDpi)
    : format_(format)
    , size_(sizePx.expandedTo(QSize(1, 1)).boundedTo(QSize(28000, 28000)))
    , dpi_(resolutionDpi > 0 ? resolutionDpi : 96)
    , engine_(std::make_unique<MetafileEngine>(format, size_, dpi_))
{
    engine_->setDescription(QStringLiteral("VOLTRAK"), QString());
}

MetafileGenerator::~MetafileGenerator() = default;

void MetafileGenerator::setDescription(const QString &application, const QString &title)
{
    engine_->setDescription(application, title);
}

QByteArray MetafileGenerator::data() const
{
    return engine_->result();
}

QPaintEngine *MetafileGenerator::paintEngine() const
{
    return engine_.get();
}

int MetafileGenerator::metric(PaintDeviceMetric metric) const
{
    switch (metric) {
    case PdmWidth: return size_.width();
    case PdmHeight: return size_.height();
    case PdmWidthMM: return int(std::lround(size_.width() * 25.4 / dpi_));
    case PdmHeightMM: return int(std::lround(size_.height() * 25.4 / dpi_));
    case PdmNumColors: return std::numeric_limits<int>::max();
    case PdmDepth: return 32;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY: return dpi_;
    case PdmDevicePixelRatio: return 1;
    case PdmDevicePixelRatioScaled: return int(devicePixelRatioFScale());
    default: return QPaintDevice::metric(metric);
    }
}

// ---------------------------------------------------------------- helpers

QString metafileFaceName(const QString &family)
{
    // Qt keeps substituted names in lower case; office readers want them as
    // Windows spells them.
    static const char *const kWindowsNames[]
        = {"ＭＳ Ｐ明朝", "ＭＳ 明朝", "ＭＳ Ｐゴシック", "ＭＳ ゴシック", "ＭＳ ＵＩ ゴシック", "MS PMincho",
            "MS Mincho", "MS PGothic", "MS Gothic", "MS UI Gothic", "Meiryo", "メイリオ", "Yu Gothic", "游ゴシック",
            "Yu Mincho", "游明朝", "Arial", "Times New Roman", "Courier New", "MS Sans Serif", "MS Serif"};
    auto spelled = [](const QString &name) {
        for (const char *w : kWindowsNames)
            if (name.compare(QString::fromUtf8(w), Qt::CaseInsensitive) == 0)
                return QString::fromUtf8(w);
        return name;
    };
    const QStringList names = QFont::substitutions();
    for (const QString &name : names)
        if (name.compare(family, Qt::CaseInsensitive) == 0)
            return family;
    for (const QString &name : names)
        if (QFont::substitutes(name).contains(family, Qt::CaseInsensitive))
            return spelled(name);
    return family;
}

void saveMetafileData(const QString &path, const QByteArray &bytes)
{
    safewrite::WriteFile(path, bytes);
}

void writeMetafileOnDevice(
    const QString &path, MetafileFormat format, QSize sizePx, const std::function<void(MetafileGenerator &)> &paintOn)
{
    MetafileGenerator device(format, sizePx);
    paintOn(device);
    if (device.paintEngine()->isActive())
        throw std::runtime_error("metafile painter still active after painting");
    const QByteArray bytes = device.data();
    if (bytes.isEmpty())
        throw std::runtime_error("nothing was painted on the metafile");
    saveMetafileData(path, bytes);
}

void writeMetafile(
    const QString &path, MetafileFormat format, QSize sizePx, const std::function<void(QPainter &)> &paint)
{
    writeMetafileOnDevice(path, format, sizePx, [&](MetafileGenerator &device) {
        QPainter painter;
        if (!painter.begin(&device))
            throw std::runtime_error("cannot paint on the metafile");
        paint(painter);
        painter.end();
    });
}
