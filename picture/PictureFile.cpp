#include "picture/PictureFile.h"

#include "picture/Bmp4Writer.h"
#include "picture/MetafileGenerator.h"

#include <QBuffer>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#ifndef VOLTRAK_NO_SVG
#include <QSvgGenerator>
#endif

#include <stdexcept>

namespace graph {

namespace {

struct FormatInfo {
    PictureFormat format;
    const char *suffix;
    const char *caption;
};
constexpr FormatInfo Formats[] = {
    {PictureFormat::Bmp, "bmp", "BMP"},
    {PictureFormat::Wmf, "wmf", "WMF"},
    {PictureFormat::Emf, "emf", "EMF"},
    {PictureFormat::Png, "png", "PNG"},
    {PictureFormat::Svg, "svg", "SVG"},
    {PictureFormat::Pdf, "pdf", "PDF"},
};

// The one place picture bytes reach the disk: beside the target, then renamed.
void writeFile(const QString &path, const QByteArray &bytes)
{
    saveMetafileData(path, bytes);
}

void checkSize(const PictureSource &source)
{
    if (source.size.isEmpty())
        throw std::runtime_error("picture: the chart has no size");
}

QByteArray pngBytes(const PictureSource &source)
{
    const QImage image = source.image();
    if (image.isNull())
        throw std::runtime_error("picture: no image of the window");
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.convertToFormat(QImage::Format_RGB32).save(&buffer, "PNG"))
        throw std::runtime_error("picture: the PNG encoder failed");
    return bytes;
}

// The program asks for the Windows font names and maps them onto installed
// fonts by substitution, which an SVG viewer does not know: each family is
// followed by the family it stands for here, so viewers find the same font.
QByteArray withSubstituteFamilies(const QByteArray &svg)
{
    static const QRegularExpression family(QStringLiteral("font-family=\"([^\"]*)\""));
    QString text = QString::fromUtf8(svg);
    QString out;
    out.reserve(text.size() + 1024);
    qsizetype last = 0;
    for (auto it = family.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(last, m.capturedStart() - last);
        QStringList names{m.captured(1)};
        for (const QString &sub : QFont::substitutes(m.captured(1)))
            names.append(sub.toHtmlEscaped());
        out += QStringLiteral("font-family=\"%1\"").arg(names.join(QStringLiteral(", ")));
        last = m.capturedEnd();
    }
    out += QStringView(text).mid(last);
    return out.toUtf8();
}

QByteArray svgBytes(const PictureSource &source)
{
    checkSize(source);
#ifdef VOLTRAK_NO_SVG
    throw std::runtime_error("picture: this build has no SVG generator");
#endif
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
#ifndef VOLTRAK_NO_SVG
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(source.size);
    svg.setViewBox(QRect(QPoint(0, 0), source.size));
    svg.setResolution(96);
    svg.setTitle(source.title);
    svg.setDescription(QStringLiteral("VOLTRAK"));
    source.paint(svg, true);
#endif
    if (bytes.isEmpty())
        throw std::runtime_error("picture: the SVG generator wrote nothing");
    return withSubstituteFamilies(bytes);
}

QByteArray pdfBytes(const PictureSource &source)
{
    checkSize(source);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setCreator(QStringLiteral("VOLTRAK"));
        pdf.setTitle(source.title);
        // One page the size of the picture, a pixel being 1/96 inch, no margins,
        // so the painter's coordinates are the picture's pixels.
        pdf.setResolution(96);
        const QPageSize page(QSizeF(source.size) * 72.0 / 96.0, QPageSize::Point, QString(), QPageSize::ExactMatch);
        pdf.setPageLayout(QPageLayout(page, QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Point));
        source.paint(pdf, true);
    }
    if (bytes.isEmpty())
        throw std::runtime_error("picture: the PDF writer wrote nothing");
    return bytes;
}

void writeMetafilePicture(const QString &path, MetafileFormat format, const PictureSource &source)
{
    checkSize(source);
    writeMetafileOnDevice(path, format, source.size, [&](MetafileGenerator &device) {
        device.setDescription(QStringLiteral("VOLTRAK"), source.title);
        source.paint(device, false);
    });
}

} // namespace

QString FileExtension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    qsizetype sep = -1;
    for (QChar c : {QLatin1Char('\\'), QLatin1Char('/'), QLatin1Char(':')})
        sep = qMax(sep, fileName.lastIndexOf(c));
    if (dot < 0 || dot < sep)
        return QString();
    return fileName.mid(dot);
}

std::optional<PictureFormat> PictureFormatOf(const QString &fileName)
{
    const QString ext = FileExtension(fileName);
    for (const FormatInfo &f : Formats) {
        if (ext.compare(QLatin1Char('.') + QLatin1String(f.suffix), Qt::CaseInsensitive) == 0)
            return f.format;
    }
    return std::nullopt;
}

bool SavePicture(const QString &path, const PictureSource &source)
{
    const std::optional<PictureFormat> format = PictureFormatOf(path);
    if (!format)
        return false;
    switch (*format) {
    case PictureFormat::Bmp: bmp4::Write(source.image(), path); break;
    case PictureFormat::Wmf: writeMetafilePicture(path, MetafileFormat::Wmf, source); break;
    case PictureFormat::Emf: writeMetafilePicture(path, MetafileFormat::Emf, source); break;
    case PictureFormat::Png: writeFile(path, pngBytes(source)); break;
    case PictureFormat::Svg: writeFile(path, svgBytes(source)); break;
    case PictureFormat::Pdf: writeFile(path, pdfBytes(source)); break;
    }
    return true;
}

namespace {

// The formats this build can write, in the dialog's order.
QList<const FormatInfo *> OfferedFormats()
{
    QList<const FormatInfo *> offered;
    for (const FormatInfo &f : Formats) {
#ifdef VOLTRAK_NO_SVG
        if (f.format == PictureFormat::Svg)
            continue;
#endif
        offered.append(&f);
    }
    return offered;
}

} // namespace

QStringList PictureFilters()
{
    QStringList filters;
    for (const FormatInfo *f : OfferedFormats())
        filters.append(QStringLiteral("%1ファイル　(*.%2)").arg(QLatin1String(f->caption), QLatin1String(f->suffix)));
    return filters;
}

QString PictureFilterSuffix(int filter)
{
    const QList<const FormatInfo *> offered = OfferedFormats();
    if (filter < 0 || filter >= offered.size())
        return QString();
    return QLatin1String(offered.at(filter)->suffix);
}

} // namespace graph
