#pragma once
// The machine-readable code of a label, made by Zint: its symbologies, their
// names, and one encoded symbol as the rectangles Zint's vector output gives.
#include <QList>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <optional>

namespace labels {

enum class Symbology { Qr, Code128, DataMatrix };

// "qr", "code128", "datamatrix": what a command line takes.
QString SymbologyName(Symbology symbology);
// "QR", "Code 128", "Data Matrix": what the user reads.
QString SymbologyTitle(Symbology symbology);
QList<Symbology> Symbologies();
// By short name or title, case, spaces and hyphens ignored ("QR", "code-128"); none for any other.
std::optional<Symbology> FindSymbology(const QString &name);

// One encoded code.
struct CodeSymbol {
    Symbology symbology = Symbology::Qr;
    bool linear = false; // Code 128: one row of bars, drawn as tall as the layout decides
    int columns = 0; // modules across, quiet zone not included
    int rows = 0; // modules down (1 for a linear code)
    // The blank modules the symbology asks for on each side, across and down.
    int quietColumns = 0;
    int quietRows = 0;
    // The dark parts in modules from the top left of the symbol; a linear code's bars have the height 1.
    QList<QRectF> bars;
};

// The symbol for text (UTF-8 to Zint), or the reason it cannot be made, in the user's words.
struct Encoded {
    std::optional<CodeSymbol> symbol;
    QString reason;
};
Encoded EncodeSymbol(const QString &text, Symbology symbology);

} // namespace labels
