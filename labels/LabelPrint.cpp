#include "labels/LabelPrint.h"

#include "core/SafeWrite.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <cmath>

namespace labels {

namespace {

QList<LabelLayout> layOutSome(const QList<LabelContent> &contents, const LabelSize &size, Symbology symbology)
{
    if (contents.isEmpty())
        throw LabelError(QStringLiteral("印刷するラベルがありません").toStdString());
    return LayOutLabels(contents, size, symbology);
}

QPageLayout pageLayout(const QSizeF &mm)
{
    // An exact size: a fuzzy match would turn a tape label into the nearest paper.
    const QPageSize page(mm, QPageSize::Millimeter, QString(), QPageSize::ExactMatch);
    return QPageLayout(page, QPageLayout::Portrait, QMarginsF(), QPageLayout::Millimeter);
}

} // namespace

void ScaleToMillimetres(QPainter &painter)
{
    painter.scale(painter.device()->logicalDpiX() / 25.4, painter.device()->logicalDpiY() / 25.4);
}

void PaintLabel(QPainter &painter, const LabelLayout &layout, const QPointF &topLeft)
{
    painter.save();
    painter.translate(topLeft);

    // The symbol's corner moves to the nearest device pixel (at most half a pixel), so every module edge lies
    // on one.
    QPointF corner = layout.symbolRect.topLeft();
    const QTransform toDevice = painter.deviceTransform();
    if (toDevice.type() <= QTransform::TxScale) {
        const QPointF d = toDevice.map(corner);
        corner = toDevice.inverted().map(QPointF(std::round(d.x()), std::round(d.y())));
    }
    const double across = layout.moduleMm;
    const double down = layout.symbol.linear ? layout.symbolRect.height() : layout.moduleMm;
    // One path, so a renderer's edge smoothing leaves no seams where modules meet.
    QPainterPath bars;
    bars.setFillRule(Qt::WindingFill);
    for (const QRectF &b : layout.symbol.bars)
        bars.addRect(corner.x() + b.x() * across, corner.y() + b.y() * down, b.width() * across, b.height() * down);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillPath(bars, Qt::black);

    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.scale(0.01, 0.01); // the units LabelFont is sized in
    painter.setPen(Qt::black);
    for (const TextLine &t : layout.lines) {
        painter.setFont(LabelFont(t.pointSize, painter.device()));
        painter.drawText(t.origin * 100, t.text);
    }
    painter.restore();
}

QSizeF PageSize(const LabelSize &size, const QList<LabelLayout> &layouts, int page)
{
    return size.isTape() ? layouts.at(page).size : size.page;
}

void PaintPage(QPainter &painter, const QList<LabelLayout> &layouts, const LabelSize &size, int page)
{
    const int per = size.labelsPerPage();
    for (int i = 0; i < per && page * per + i < layouts.size(); ++i)
        PaintLabel(painter, layouts.at(page * per + i), LabelRectOnPage(size, i).topLeft());
}

QByteArray LabelsPdf(const QList<LabelContent> &contents, const LabelSize &size, Symbology symbology)
{
    const QList<LabelLayout> layouts = layOutSome(contents, size, symbology);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setCreator(QStringLiteral("VOLTRAK"));
        pdf.setTitle(QStringLiteral("セルのラベル"));
        pdf.setResolution(300);
        pdf.setPageLayout(pageLayout(PageSize(size, layouts, 0)));
        QPainter painter(&pdf);
        const int pages = PageCount(size, int(layouts.size()));
        for (int page = 0; page < pages; ++page) {
            if (page > 0) {
                pdf.setPageLayout(pageLayout(PageSize(size, layouts, page)));
                pdf.newPage();
            }
            painter.resetTransform();
            ScaleToMillimetres(painter);
            PaintPage(painter, layouts, size, page);
        }
    }
    return bytes;
}

void WriteLabelsPdf(
    const QString &path, const QList<LabelContent> &contents, const LabelSize &size, Symbology symbology)
{
    safewrite::WriteFile(path, LabelsPdf(contents, size, symbology));
}

QList<QImage> LabelImages(const QList<LabelContent> &contents, const LabelSize &size, Symbology symbology, int dpi)
{
    const QList<LabelLayout> layouts = layOutSome(contents, size, symbology);
    QList<QImage> images;
    const int pages = PageCount(size, int(layouts.size()));
    for (int page = 0; page < pages; ++page) {
        const QSizeF mm = PageSize(size, layouts, page);
        QImage image(qRound(mm.width() * dpi / 25.4), qRound(mm.height() * dpi / 25.4), QImage::Format_RGB32);
        image.setDotsPerMeterX(qRound(dpi / 0.0254));
        image.setDotsPerMeterY(qRound(dpi / 0.0254));
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            ScaleToMillimetres(painter);
            PaintPage(painter, layouts, size, page);
        }
        images.append(image.convertToFormat(QImage::Format_Grayscale8));
    }
    return images;
}

QStringList PngPaths(const QString &path, int pages)
{
    if (pages == 1)
        return {path};
    const int slash = int(path.lastIndexOf(QLatin1Char('/')));
    int dot = int(path.lastIndexOf(QLatin1Char('.')));
    if (dot <= slash + 1)
        dot = int(path.size());
    const int width = int(QString::number(pages).size());
    QStringList paths;
    for (int page = 1; page <= pages; ++page)
        paths.append(path.left(dot) + QStringLiteral("-%1").arg(page, width, 10, QLatin1Char('0')) + path.mid(dot));
    return paths;
}

QStringList WriteLabelsPng(
    const QString &path, const QList<LabelContent> &contents, const LabelSize &size, Symbology symbology, int dpi)
{
    const QList<QImage> images = LabelImages(contents, size, symbology, dpi);
    const QStringList paths = PngPaths(path, int(images.size()));
    for (qsizetype i = 0; i < images.size(); ++i) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!images.at(i).save(&buffer, "PNG"))
            throw safewrite::WriteError(QStringLiteral("%1: PNG を作れません").arg(paths.at(i)).toStdString());
        safewrite::WriteFile(paths.at(i), bytes);
    }
    return paths;
}

} // namespace labels
