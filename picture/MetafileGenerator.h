#pragma once

// A paint device that records QPainter calls as Windows metafile records, so that
// the chart can be pasted into office documents as vectors: an enhanced metafile
// (EMF) or a placeable Windows metafile (WMF).
//
// Usage: paint on a MetafileGenerator with any QPainter (a QCPPainter too); after
// the painter has ended, data() holds the whole file. writeMetafile() wraps this
// and saves the result with safewrite::WriteFile.

#include <QByteArray>
#include <QPaintDevice>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

class QPainter;
class MetafileEngine;

enum class MetafileFormat { Emf, Wmf };

class MetafileGenerator : public QPaintDevice
{
public:
    // sizePx: the picture in device pixels; resolution in dots per inch.
    MetafileGenerator(MetafileFormat format, QSize sizePx, int resolutionDpi = 96);
    ~MetafileGenerator() override;

    MetafileGenerator(const MetafileGenerator &) = delete;
    MetafileGenerator &operator=(const MetafileGenerator &) = delete;

    MetafileFormat format() const { return format_; }
    QSize size() const { return size_; }
    int resolution() const { return dpi_; }

    // Name written into the EMF header's description ("App\0Title\0\0").
    void setDescription(const QString &application, const QString &title);

    // The finished file; empty until a painter on this device has ended.
    QByteArray data() const;

    QPaintEngine *paintEngine() const override;

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    MetafileFormat format_;
    QSize size_;
    int dpi_;
    std::unique_ptr<MetafileEngine> engine_;
};

// The face name to write for a font family. The program asks for MS font names
// and maps them onto installed fonts by font substitution; a family that is a
// substitute of such a name is written as that name, so that the file names the
// font an office reader expects.
QString metafileFaceName(const QString &family);

// Writes bytes to path with safewrite::WriteFile (beside and renamed, else in
// place; permissions kept); throws std::runtime_error with a UTF-8 message.
void saveMetafileData(const QString &path, const QByteArray &bytes);

// Renders paint(painter) on a metafile device of the given pixel size and writes
// the file. Throws std::runtime_error (UTF-8 message) when the picture cannot be
// made or the file cannot be created or written.
void writeMetafile(
    const QString &path, MetafileFormat format, QSize sizePx, const std::function<void(QPainter &)> &paint);

// The same, for callers that construct their own painter on the device (such as a
// QCPPainter); the painter must have ended when paintOn returns.
void writeMetafileOnDevice(
    const QString &path, MetafileFormat format, QSize sizePx, const std::function<void(MetafileGenerator &)> &paintOn);
