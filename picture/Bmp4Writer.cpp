#include "picture/Bmp4Writer.h"

#include "core/SafeWrite.h"
#include <QtEndian>

#include <climits>
#include <stdexcept>

namespace bmp4 {

namespace {

constexpr int FileHeaderSize = 14;
constexpr int InfoHeaderSize = 40;
constexpr int PaletteSize = 16 * 4;
constexpr int BitsOffset = FileHeaderSize + InfoHeaderSize + PaletteSize;

void put16(QByteArray &out, qsizetype at, quint16 v)
{
    qToLittleEndian(v, out.data() + at);
}
void put32(QByteArray &out, qsizetype at, quint32 v)
{
    qToLittleEndian(v, out.data() + at);
}

} // namespace

const std::array<QRgb, 16> &Palette()
{
    static const std::array<QRgb, 16> colours = {
        qRgb(0x00, 0x00, 0x00),
        qRgb(0x80, 0x00, 0x00),
        qRgb(0x00, 0x80, 0x00),
        qRgb(0x80, 0x80, 0x00),
        qRgb(0x00, 0x00, 0x80),
        qRgb(0x80, 0x00, 0x80),
        qRgb(0x00, 0x80, 0x80),
        qRgb(0x80, 0x80, 0x80),
        qRgb(0xC0, 0xC0, 0xC0),
        qRgb(0xFF, 0x00, 0x00),
        qRgb(0x00, 0xFF, 0x00),
        qRgb(0xFF, 0xFF, 0x00),
        qRgb(0x00, 0x00, 0xFF),
        qRgb(0xFF, 0x00, 0xFF),
        qRgb(0x00, 0xFF, 0xFF),
        qRgb(0xFF, 0xFF, 0xFF),
    };
    return colours;
}

int NearestIndex(QRgb c)
{
    const auto &pal = Palette();
    int best = 0;
    int bestDistance = INT_MAX;
    for (int i = 0; i < 16; ++i) {
        const int dr = qRed(c) - qRed(pal[i]);
        const int dg = qGreen(c) - qGreen(pal[i]);
        const int db = qBlue(c) - qBlue(pal[i]);
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

QByteArray Encode(const QImage &source)
{
    if (source.isNull() || source.width() <= 0 || source.height() <= 0)
        throw std::runtime_error("BMP: the image is empty");
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    const int w = image.width();
    const int h = image.height();
    const qint64 stride = ((qint64(w) * 4 + 31) / 32) * 4;
    const qint64 bitsSize = stride * h;
    const qint64 fileSize = BitsOffset + bitsSize;
    if (fileSize > 0x7FFFFFFF)
        throw std::runtime_error("BMP: the image is too large");

    QByteArray out(qsizetype(fileSize), '\0');
    out[0] = 'B';
    out[1] = 'M';
    put32(out, 2, quint32(fileSize));
    put32(out, 10, BitsOffset);

    put32(out, 14, InfoHeaderSize);
    put32(out, 18, quint32(w));
    put32(out, 22, quint32(h)); // positive: rows run bottom-up
    put16(out, 26, 1); // planes
    put16(out, 28, 4); // bits per pixel
    put32(out, 30, 0); // BI_RGB, no compression
    put32(out, 34, quint32(bitsSize));
    put32(out, 38, quint32(qMax(0, image.dotsPerMeterX())));
    put32(out, 42, quint32(qMax(0, image.dotsPerMeterY())));
    put32(out, 46, 16); // colours used
    put32(out, 50, 0); // all important

    const auto &pal = Palette();
    for (int i = 0; i < 16; ++i) {
        char *q = out.data() + FileHeaderSize + InfoHeaderSize + i * 4;
        q[0] = char(qBlue(pal[i]));
        q[1] = char(qGreen(pal[i]));
        q[2] = char(qRed(pal[i]));
        q[3] = 0;
    }

    // Neighbouring pixels mostly repeat, so remember the last mapping.
    QRgb lastColour = 0;
    int lastIndex = NearestIndex(0);
    for (int y = 0; y < h; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        uchar *row = reinterpret_cast<uchar *>(out.data()) + BitsOffset + stride * (h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const QRgb c = line[x] & 0x00FFFFFF;
            if (c != lastColour) {
                lastColour = c;
                lastIndex = NearestIndex(c);
            }
            if (x % 2 == 0)
                row[x / 2] = uchar(lastIndex << 4);
            else
                row[x / 2] |= uchar(lastIndex);
        }
    }
    return out;
}

void Write(const QImage &image, const QString &path)
{
    const QByteArray bytes = Encode(image);
    safewrite::WriteFile(path, bytes);
}

} // namespace bmp4
