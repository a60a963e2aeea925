#include "cells/CellsCommand.h"
#include "cells/CellList.h"
#include "core/FileReason.h"
#include "core/Messages.h"

#include <QIODevice>
#include <QTextStream>
#include <exception>

namespace cells {

int PrintCellFigures(const QStringList &logs, QIODevice &out, QTextStream &err)
{
    const analysis::CapacityParameters params = analysis::CurrentCapacityParameters();
    const QString noData = messages::NoValidData();
    int status = 0;
    CellSources all;
    for (const QString &log : logs) {
        if (const int problem = filereason::ReadProblem(log)) {
            err << filereason::CannotRead(log, problem) << Qt::endl;
            status = 1;
            continue;
        }
        try {
            CellSources one;
            one.addFile(log);
            if (one.cells(params).rows.isEmpty()) {
                err << (logs.size() == 1 ? noData : QStringLiteral("%1: %2").arg(log, noData)) << Qt::endl;
                status = 1;
                continue;
            }
            all.addFile(log);
        } catch (const std::exception &e) {
            err << QString::fromUtf8(e.what()) << Qt::endl;
            status = 1;
        }
    }
    const CellSources::Result result = all.cells(params);
    for (const QString &problem : result.problems) {
        err << problem << Qt::endl;
        status = 1;
    }
    if (result.rows.isEmpty())
        return 1;
    out.write(CsvText(result.rows));
    return status;
}

} // namespace cells
