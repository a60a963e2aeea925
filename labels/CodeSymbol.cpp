#include "labels/CodeSymbol.h"

#include <zint.h>

#include <memory>

namespace labels {

namespace {

struct SymbologyInfo {
    Symbology symbology;
    const char *name;
    const char *title;
    int zint;
    int quietColumns; // the quiet zone each symbology's standard asks for, in modules
    int quietRows;
};
constexpr SymbologyInfo Infos[] = {
    {Symbology::Qr, "qr", "QR", BARCODE_QRCODE, 4, 4},
    {Symbology::Code128, "code128", "Code 128", BARCODE_CODE128, 10, 0},
    {Symbology::DataMatrix, "datamatrix", "Data Matrix", BARCODE_DATAMATRIX, 1, 1},
};

const SymbologyInfo &info(Symbology symbology)
{
    for (const SymbologyInfo &i : Infos) {
        if (i.symbology == symbology)
            return i;
    }
    return Infos[0];
}

QString folded(QString name)
{
    return name.remove(QLatin1Char(' ')).remove(QLatin1Char('-')).toLower();
}

using ZintPtr = std::unique_ptr<zint_symbol, decltype(&ZBarcode_Delete)>;

} // namespace

QString SymbologyName(Symbology symbology)
{
    return QString::fromLatin1(info(symbology).name);
}

QString SymbologyTitle(Symbology symbology)
{
    return QString::fromLatin1(info(symbology).title);
}

QList<Symbology> Symbologies()
{
    QList<Symbology> all;
    for (const SymbologyInfo &i : Infos)
        all.append(i.symbology);
    return all;
}

std::optional<Symbology> FindSymbology(const QString &name)
{
    const QString wanted = folded(name);
    for (const SymbologyInfo &i : Infos) {
        if (wanted == QLatin1String(i.name) || wanted == folded(QString::fromLatin1(i.title)))
            return i.symbology;
    }
    return std::nullopt;
}

Encoded EncodeSymbol(const QString &text, Symbology symbology)
{
    const SymbologyInfo &in = info(symbology);
    const QString title = SymbologyTitle(symbology);
    if (text.isEmpty())
        return {std::nullopt, QStringLiteral("%1 にする文字がありません").arg(title)};

    ZintPtr z(ZBarcode_Create(), &ZBarcode_Delete);
    if (!z)
        return {std::nullopt, QStringLiteral("%1 を作れません（メモリが足りません）").arg(title)};
    z->symbology = in.zint;
    z->input_mode = UNICODE_MODE;
    z->show_hrt = 0; // the label prints its own text
    z->scale = 0.5f; // Zint's vector output then counts in modules
    if (symbology == Symbology::Qr)
        z->option_1 = 2; // level M: a label on a handled cell gets scuffed
    const QByteArray utf8 = text.toUtf8();
    // Warnings pass: they say an ECI was added or Shift JIS used for kanji, which readers follow.
    int status = ZBarcode_Encode(z.get(), reinterpret_cast<const unsigned char *>(utf8.constData()), int(utf8.size()));
    if (status < ZINT_ERROR)
        status = ZBarcode_Buffer_Vector(z.get(), 0);
    if (status >= ZINT_ERROR) {
        switch (status) {
        case ZINT_ERROR_TOO_LONG: return {std::nullopt, QStringLiteral("「%1」は %2 には長すぎます").arg(text, title)};
        case ZINT_ERROR_INVALID_DATA:
            return {std::nullopt, QStringLiteral("「%1」は %2 で表せない文字を含みます").arg(text, title)};
        default:
            return {std::nullopt,
                QStringLiteral("「%1」の %2 を作れません（%3）").arg(text, title, QString::fromUtf8(z->errtxt))};
        }
    }

    CodeSymbol s;
    s.symbology = symbology;
    s.linear = symbology == Symbology::Code128;
    s.columns = z->width;
    s.rows = s.linear ? 1 : z->rows;
    s.quietColumns = in.quietColumns;
    s.quietRows = in.quietRows;
    // No quiet zone or border was asked for, so the vector's box is the symbol's. These three symbologies come
    // as rectangles only: Zint's hexagons are MaxiCode's and its circles the dotty mode's.
    const double across = s.columns / double(z->vector->width);
    const double down = s.rows / double(z->vector->height);
    for (const zint_vector_rect *r = z->vector->rectangles; r; r = r->next)
        s.bars.append(QRectF(r->x * across, r->y * down, r->width * across, r->height * down));
    return {s, QString()};
}

} // namespace labels
