#include "packs/PackCommand.h"

#include "library/Library.h"
#include "packs/LibraryPool.h"
#include "packs/PlanFiles.h"

#include <QIODevice>
#include <QTextStream>

namespace packs {

int RunPack(const QString &libraryPath, const PackCommandOptions &options, QIODevice &out, QTextStream &err)
{
    std::optional<PackShape> shape = ParseShape(options.shape);
    if (!shape) {
        err << QStringLiteral("voltrak: --pack %1 is not a shape such as 10S20P (S 1 to %2, P 1 to %3)\n")
                   .arg(options.shape)
                   .arg(MaxSeries)
                   .arg(MaxParallel);
        return 2;
    }
    shape->packs = options.packs;
    if (!ShapeIsValid(*shape)) {
        err << QStringLiteral("voltrak: --packs takes 1 to %1\n").arg(MaxPacks);
        return 2;
    }
    std::optional<Grade> grade;
    if (!options.grade.isEmpty()) {
        grade = library::GradeFromText(options.grade);
        if (!grade) {
            err << QStringLiteral("voltrak: --grade takes %1, %2, %3 or %4\n")
                       .arg(library::GradeText(Grade::Good), library::GradeText(Grade::Fair),
                           library::GradeText(Grade::Poor), library::GradeText(Grade::None));
            return 2;
        }
    }
    library::Library lib(libraryPath);
    if (!lib.isOpen()) {
        err << library::CannotOpenTitle() << ": " << lib.reason() << '\n';
        return 1;
    }
    try {
        LibraryPool pool = PoolOf(lib.cellSummaries(), ReadGradeLimits(lib), grade);
        AddLatestCurves(lib, pool);
        const PlanResult r = MakePlan(
            pool.cells, *shape, options.curve ? Criterion::CapacityAndCurve : Criterion::Capacity, options.aim);
        if (!r.plan) {
            err << r.error << '\n';
            return 1;
        }
        const QByteArray csv = PlanCsvText(pool.cells, *r.plan);
        if (out.write(csv) != csv.size())
            return 1;
    } catch (const library::LibraryError &e) {
        err << e.text() << '\n';
        return 1;
    }
    return 0;
}

} // namespace packs
