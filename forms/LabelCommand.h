#pragma once
// Cell labels from the cell library: what one cell's label shows, for the
// label dialog and the command line, and --labels / --labels-all, which
// write the labels' PDF or PNG without a window. Not in the Windows build
// (the labels layer is not).
#include "labels/CodeSymbol.h"
#include "labels/LabelLayout.h"
#include "library/Grade.h"
#include "library/Records.h"

#include <QList>
#include <QString>
#include <QStringList>

class QTextStream;

namespace celllabels {

// The cell's label as code and text, its latest capacity, its grade (none for ―) and the date of its latest
// run; a cell without runs has only its label.
labels::LabelContent ContentOf(const library::CellSummary &cell, const library::GradeLimits &limits);

struct LabelCommandOptions {
    QStringList cells; // the labels of the cells, in the order printed
    bool all = false; // every cell in use, by label, instead
    QString output; // .pdf, or .png (one file a page)
    QString size; // a LabelSize's name; empty: a4-65
    QString code; // a symbology's name; empty: qr
};

// Writes the labels. Returns 0; 1 when the library does not exist or cannot be read, a cell is unknown
// ("セルがありません: <label>"), a label is refused (its reason) or the file cannot be written, and then no file
// is written; 2 for a size or code that is not one. Messages go to err, one line each. Needs a QGuiApplication.
int RunLabels(const QString &libraryPath, const LabelCommandOptions &options, QTextStream &err);

} // namespace celllabels
