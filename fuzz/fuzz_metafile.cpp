// The metafile writer under hostile drawing: every shape, text, image, pen,
// clip and transform the input describes, with coordinates taken raw from the
// bytes (infinities, NaN and huge values included), into EMF and WMF.
#include "fuzz/FuzzInput.h"
#include "picture/MetafileGenerator.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdint>
#include <cstdlib>

namespace {
double coord(FuzzInput &in)
{
    // Mostly ordinary values, sometimes raw doubles.
    const uint8_t kind = in.byte();
    if (kind < 200)
        return double(in.take<int16_t>()) / 4.0;
    return in.take<double>();
}
QPointF point(FuzzInput &in)
{
    return QPointF(coord(in), coord(in));
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Unbalanced save/restore and the like make QPainter warn on every input.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    static QGuiApplication *app = new QGuiApplication(*argc, *argv);
    (void)app;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    const MetafileFormat format = in.byte() & 1 ? MetafileFormat::Wmf : MetafileFormat::Emf;
    const QSize picture(1 + in.byte() * 4, 1 + in.byte() * 4);
    MetafileGenerator device(format, picture);
    QPainter p(&device);
    for (int op = 0; op < 48 && !in.empty(); ++op) {
        switch (in.byte() % 14) {
        case 0: p.drawLine(point(in), point(in)); break;
        case 1: {
            QPolygonF poly;
            const int n = in.byte() % 64;
            for (int i = 0; i < n; ++i)
                poly << point(in);
            if (in.byte() & 1)
                p.drawPolygon(poly, in.byte() & 1 ? Qt::WindingFill : Qt::OddEvenFill);
            else
                p.drawPolyline(poly);
            break;
        }
        case 2: p.drawRect(QRectF(point(in), point(in))); break;
        case 3: p.drawEllipse(QRectF(point(in), point(in))); break;
        case 4: {
            size_t n = 0;
            const char *b = in.bytes(40, n);
            p.drawText(point(in), QString::fromUtf8(b, int(n)));
            break;
        }
        case 5: {
            QImage img(1 + in.byte() % 8, 1 + in.byte() % 8, QImage::Format_ARGB32);
            img.fill(QColor::fromRgba(in.take<uint32_t>()));
            p.drawImage(QRectF(point(in), point(in)), img, QRectF(point(in), point(in)));
            break;
        }
        case 6: {
            QPen pen(QColor::fromRgba(in.take<uint32_t>()), coord(in));
            pen.setStyle(Qt::PenStyle(in.byte() % 6));
            pen.setCosmetic(in.byte() & 1);
            p.setPen(pen);
            break;
        }
        case 7: p.setBrush(QBrush(QColor::fromRgba(in.take<uint32_t>()), Qt::BrushStyle(in.byte() % 15))); break;
        case 8: p.setTransform(QTransform(coord(in), coord(in), coord(in), coord(in), coord(in), coord(in))); break;
        case 9: p.setClipRect(QRectF(point(in), point(in)), Qt::ClipOperation(in.byte() % 3)); break;
        case 10: {
            QFont f(QStringLiteral("IPAGothic"));
            f.setPixelSize(1 + in.byte() % 200);
            f.setItalic(in.byte() & 1);
            p.setFont(f);
            break;
        }
        case 11: p.save(); break;
        case 12: p.restore(); break;
        case 13: {
            QPainterPath path;
            path.moveTo(point(in));
            path.cubicTo(point(in), point(in), point(in));
            path.closeSubpath();
            p.drawPath(path);
            break;
        }
        }
    }
    p.end();
    const QByteArray bytes = device.data();
    if (bytes.isEmpty())
        std::abort();
    return 0;
}
