#include "packs/PackCommand.h"

#include "library/Library.h"
#include "library/LibraryCommand.h"
#include "packs/LibraryPlan.h"
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
    PlanRequest request;
    request.shape = *shape;
    request.criterion = options.curve ? Criterion::CapacityAndCurve : Criterion::Capacity;
    request.aim = options.aim;
    if (!options.grade.isEmpty()) {
        request.grade = library::GradeFromText(options.grade);
        if (!request.grade) {
            err << QStringLiteral("voltrak: --grade takes %1, %2, %3 or %4\n")
                       .arg(library::GradeText(library::Grade::Good), library::GradeText(library::Grade::Fair),
                           library::GradeText(library::Grade::Poor), library::GradeText(library::Grade::None));
            return 2;
        }
    }
    if (!options.maxResistance.isEmpty()) {
        const std::optional<double> limit = library::ParseFigureNumber(options.maxResistance);
        if (!limit || *limit <= 0.0) {
            err << QStringLiteral("voltrak: --max-ir takes a resistance in mΩ above 0\n");
            return 2;
        }
        request.maxResistance = *limit;
    }
    library::Library lib(libraryPath, library::OpenMode::ExistingOnly);
    if (!lib.isOpen()) {
        err << library::OpenFailureText(lib) << '\n';
        return 1;
    }
    try {
        const LibraryPlan p = PlanFromLibrary(lib.planPool(request.pool()), request);
        if (!p.result.plan) {
            err << p.result.error << '\n';
            return 1;
        }
        const QByteArray csv = PlanCsvText(p.pool, *p.result.plan);
        if (out.write(csv) != csv.size())
            return 1;
    } catch (const library::LibraryError &e) {
        err << e.text() << '\n';
        return 1;
    }
    return 0;
}

} // namespace packs
