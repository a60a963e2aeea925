#pragma once
// The cell figures of log files as CSV, for the command line: the cell list's
// columns and CSV form, printed instead of shown.
#include <QStringList>

class QIODevice;
class QTextStream;

namespace cells {

// Every cell of every table in the logs, numbered across them in the given
// order, with the current graph settings, written to out as CSV (UTF-8, CR LF,
// header first). A log without a table, one that cannot be read, and a table
// left out are each named on err in one line. Returns the exit status: 0 when
// every log gave cells and nothing was left out, 1 otherwise; nothing is
// written to out when no log has a table.
int PrintCellFigures(const QStringList &logs, QIODevice &out, QTextStream &err);

} // namespace cells
