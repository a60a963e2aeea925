#include "forms/LabelCommand.h"

#include "core/SafeWrite.h"
#include "labels/LabelPrint.h"
#include "labels/LabelSizes.h"
#include "library/LibraryCommand.h"
#include "library/Pool.h"

#include <QFileInfo>
#include <QHash>
#include <QTextStream>

namespace celllabels {

labels::LabelContent ContentOf(const library::CellSummary &cell, const library::GradeLimits &limits)
{
    labels::LabelContent c;
    c.code = cell.info.label;
    c.label = cell.info.label;
    if (cell.runCount > 0) {
        c.capacity = cell.latestMah;
        if (cell.lastMeasured.isValid())
            c.lastRun = cell.lastMeasured.date();
    }
    if (cell.hasResistance)
        c.resistance = cell.resistanceMilliohm;
    const library::Grade grade = library::GradeOfCell(cell, limits);
    if (grade != library::Grade::None)
        c.grade = library::GradeText(grade);
    return c;
}

int RunLabels(const QString &libraryPath, const LabelCommandOptions &options, QTextStream &err)
{
    const auto done = [&err](int status) {
        err.flush();
        return status;
    };
    const QString sizeName = options.size.isEmpty() ? QStringLiteral("a4-65") : options.size;
    const labels::LabelSize *size = labels::FindLabelSize(sizeName);
    if (!size) {
        err << QStringLiteral("voltrak: --label-size takes %1\n")
                   .arg(labels::LabelSizeNames().join(QStringLiteral(", ")));
        return done(2);
    }
    const std::optional<labels::Symbology> code
        = labels::FindSymbology(options.code.isEmpty() ? QStringLiteral("qr") : options.code);
    if (!code) {
        QStringList names;
        for (labels::Symbology s : labels::Symbologies())
            names << labels::SymbologyName(s);
        err << QStringLiteral("voltrak: --code takes %1\n").arg(names.join(QStringLiteral(", ")));
        return done(2);
    }

    QList<library::CellSummary> cells;
    library::GradeLimits limits;
    if (const int status = library::ReadExistingCells(libraryPath, cells, limits, err))
        return done(status);

    QList<labels::LabelContent> contents;
    if (options.all) {
        // cellSummaries come by label already.
        for (const library::CellSummary &cell : cells)
            if (cell.info.state == library::CellState::InUse)
                contents << ContentOf(cell, limits);
    } else {
        QHash<QString, int> byLabel;
        for (int i = 0; i < cells.size(); ++i)
            byLabel.insert(cells.at(i).info.label, i);
        bool unknown = false;
        for (const QString &label : options.cells) {
            const auto it = byLabel.constFind(label.trimmed());
            if (it == byLabel.constEnd()) {
                err << QStringLiteral("セルがありません: ") << label << '\n';
                unknown = true;
                continue;
            }
            contents << ContentOf(cells.at(*it), limits);
        }
        if (unknown)
            return done(1);
    }
    if (contents.isEmpty()) {
        err << QStringLiteral("使用中のセルがありません\n");
        return done(1);
    }

    try {
        if (QFileInfo(options.output).suffix().compare(QLatin1String("png"), Qt::CaseInsensitive) == 0)
            labels::WriteLabelsPng(options.output, contents, *size, *code);
        else
            labels::WriteLabelsPdf(options.output, contents, *size, *code);
    } catch (const labels::LabelError &e) {
        err << QString::fromUtf8(e.what()) << '\n';
        return done(1);
    } catch (const safewrite::WriteError &e) {
        err << QString::fromUtf8(e.what()) << '\n';
        return done(1);
    }
    return done(0);
}

} // namespace celllabels
