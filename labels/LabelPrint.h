#pragma once
// Laid-out labels drawn on a QPainter, whatever it paints on (a printer, a
// PDF, an image), and the PDF and PNG files of a run of labels. The code is
// filled from Zint's rectangles with its corner on the device's pixel grid,
// so whole-dot modules stay crisp at 300 dpi. Needs a QGuiApplication.
#include "labels/LabelLayout.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QStringList>

class QPainter;

namespace labels {

// Scales a painter in its device's own units (as QPainter::begin leaves it) to millimetres.
void ScaleToMillimetres(QPainter &painter);

// One label with its top left corner at topLeft, the painter in millimetres.
void PaintLabel(QPainter &painter, const LabelLayout &layout, const QPointF &topLeft);

// A page of a run of labels: the sheet, the roll's label, or on tape that page's own label.
QSizeF PageSize(const LabelSize &size, const QList<LabelLayout> &layouts, int page);
// The labels of that page (from 0), the painter in millimetres from the page's top left corner.
void PaintPage(QPainter &painter, const QList<LabelLayout> &layouts, const LabelSize &size, int page);

// PageCount pages, each of PageSize, fonts embedded. Throws LabelError before drawing anything when a label
// is refused or there is none.
QByteArray LabelsPdf(const QList<LabelContent> &contents, const LabelSize &size, Symbology symbology);
// Also throws safewrite::WriteError.
void WriteLabelsPdf(
    const QString &path, const QList<LabelContent> &contents, const LabelSize &size, Symbology symbology);

// Each page as a grey image at dpi, white where nothing is printed. Throws LabelError like LabelsPdf.
QList<QImage> LabelImages(
    const QList<LabelContent> &contents, const LabelSize &size, Symbology symbology, int dpi = 300);
// The PNG files of that many pages: path itself for one page, else a number before the extension
// ("a.png": "a-1.png", "a-2.png"...), as wide as the largest, so the files sort in page order.
QStringList PngPaths(const QString &path, int pages);
// Writes LabelImages to PngPaths and returns those. Throws LabelError before any file is written, then
// safewrite::WriteError (the pages written until then stay).
QStringList WriteLabelsPng(const QString &path, const QList<LabelContent> &contents, const LabelSize &size,
    Symbology symbology, int dpi = 300);

} // namespace labels
