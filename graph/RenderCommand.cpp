#include "graph/RenderCommand.h"

#include "app/LogLines.h"
#include "app/LogPane.h"
#include "app/SjisText.h"
#include "app/Settings.h"
#include "graph/DrawGraph.h"
#include "graph/Ugraph.h"

#include <QTextStream>
#include <exception>

namespace render {

int RenderLogToPicture(const QString &logPath, const QString &picturePath, QTextStream &err)
{
    try {
        // The lines the pane would hold after "開く".
        const ByteLines lines = ByteLines::fromText(sjis::encode(ReadLogFile(logPath)));
        Tgraph graph;
        graph.SetOuterSize(settings::Gwide, settings::Gheit);
        if (!FillGraphFrom(graph, lines)) {
            err << QStringLiteral("有効なデータがありません") << Qt::endl;
            return 1;
        }
        try {
            if (!graph.SavePicture(picturePath)) {
                err << QStringLiteral("voltrak: no picture format for %1").arg(picturePath) << Qt::endl;
                return 2;
            }
        } catch (...) {
            err << QStringLiteral("ファイル書き込み失敗") << Qt::endl;
            return 1;
        }
    } catch (const std::exception &e) {
        err << QString::fromUtf8(e.what()) << Qt::endl;
        return 1;
    }
    return 0;
}

} // namespace render
