#pragma once
// A pack plan from the cell library on the command line: CSV on standard
// output, no window and no display.
#include "packs/PackPlan.h"

#include <QString>

class QIODevice;
class QTextStream;

namespace packs {

struct PackCommandOptions {
    QString shape; // "10S20P"
    int packs = 1;
    bool curve = false; // the criterion "容量＋曲線"
    QString grade; // only cells of this grade; empty: every grade
    Aim aim = Aim::Capacity;
    QString maxResistance; // --max-ir: the largest internal resistance in mΩ; empty: no limit
};

// Writes the plan's CSV to out. Returns 0; 1 when there is no library (none is
// made), it cannot be read or the pool is too small (the message on err); 2 for
// a shape, grade or resistance limit that is not one.
int RunPack(const QString &libraryPath, const PackCommandOptions &options, QIODevice &out, QTextStream &err);

} // namespace packs
