#include "forms/RenderCommand.h"
#include "core/Messages.h"

#include "cells/CellList.h"
#include "core/FileReason.h"
#include "core/LogFile.h"
#include "core/SafeWrite.h"
#include "core/Settings.h"
#include "forms/DrawGraph.h"
#include "forms/Ugraph.h"
#include "picture/PictureFile.h"

#include <QTextStream>
#include <exception>

namespace render {

int RenderLogToPicture(const QString &logPath, const QString &picturePath, QTextStream &err)
{
    // Why a log cannot be read is said before anything else is tried.
    if (const int problem = filereason::ReadProblem(logPath)) {
        err << filereason::CannotRead(logPath, problem) << Qt::endl;
        return 1;
    }
    try {
        const ByteLines lines = ReadLogFileLines(logPath);
        Tgraph graph;
        graph.SetOuterSize(settings::Gwide, settings::Gheit);
        if (!FillGraphFrom(graph, lines)) {
            err << messages::NoValidData() << Qt::endl;
            return 1;
        }
        // Laid out as a shown window is (chart size, label places), but never on a screen.
        graph.setAttribute(Qt::WA_DontShowOnScreen);
        graph.show();
        try {
            if (!graph::SavePicture(picturePath, graph.Picture())) {
                err << QStringLiteral("voltrak: no picture format for %1").arg(picturePath) << Qt::endl;
                return 2;
            }
        } catch (const safewrite::WriteError &e) {
            err << filereason::CannotWrite(picturePath, e.errorCode()) << Qt::endl;
            return 1;
        } catch (...) {
            err << filereason::CannotWrite(picturePath, 0) << Qt::endl;
            return 1;
        }
    } catch (const std::exception &e) {
        err << QString::fromUtf8(e.what()) << Qt::endl;
        return 1;
    }
    return 0;
}

} // namespace render
