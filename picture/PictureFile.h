#pragma once
// Saving a graph window's picture, the format chosen by the file's extension:
// BMP (16-colour image of the window), WMF and EMF (the chart alone, vector),
// PNG (full-colour image of the window), SVG and PDF (vector, chart and labels,
// text as text). Needs no shown window and no widget: a window hands over a
// PictureSource.
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QPaintDevice;

namespace graph {

enum class PictureFormat { Bmp, Wmf, Emf, Png, Svg, Pdf };

// The extension of a file name: from the last "." after the last "\", "/" or
// ":", dot included; empty when there is none.
QString FileExtension(const QString &fileName);

// The format for the file name's extension, case ignored; none for any other.
std::optional<PictureFormat> PictureFormatOf(const QString &fileName);

// What a graph window offers its picture files.
struct PictureSource {
    // The window's client area as on screen, labels included (BMP, PNG, clipboard).
    std::function<QImage()> image;
    // The vector picture's size in pixels (the chart's size).
    QSize size;
    // Paints the chart on a device of that size, and the window's labels over
    // it when withLabels is set (SVG, PDF; the metafiles hold the chart alone).
    std::function<void(QPaintDevice &device, bool withLabels)> paint;
    // Written into the files that keep a title.
    QString title;
};

// Writes the picture to path in the format of its extension. Returns false
// and writes nothing when the extension is none of the six. Throws
// std::runtime_error when the picture cannot be made or the file cannot be
// written; never leaves a half-written file under the name.
bool SavePicture(const QString &path, const PictureSource &source);

// The save dialog's filters, BMP first, each "XXXファイル　(*.xxx)", and the
// extension (without dot) that goes with filter i.
QStringList PictureFilters();
QString PictureFilterSuffix(int filter);

} // namespace graph
