// Which unfinished run to offer, the same on every system; claiming a marker is each system's own.
#include "journal/RunMarker.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

namespace journal {

Unfinished FindUnfinished(const QString &folder, const QString &iniPath)
{
    const QString ini = QFileInfo(iniPath).absoluteFilePath();
    Unfinished best;
    QDateTime bestTime;
    const QFileInfoList markers = QDir(folder).entryInfoList({QStringLiteral("*.run")}, QDir::Files);
    for (const QFileInfo &m : markers) {
        Unfinished found = Unfinished::claim(m.absoluteFilePath(), ini);
        if (found.isNull())
            continue;
        const QFileInfo log(m.absolutePath() + QLatin1Char('/') + m.completeBaseName() + QStringLiteral(".log"));
        found.m_journal = log.absoluteFilePath();
        // Typed notes alone, with nothing received, are worth offering too.
        const QFileInfo pane(found.snapshotPath());
        if (log.size() <= 0 && !pane.exists()) {
            found.dismiss();
            continue;
        }
        const QDateTime changed
            = qMax(log.exists() ? log.lastModified() : QDateTime(), pane.exists() ? pane.lastModified() : QDateTime());
        if (best.isNull() || changed > bestTime) {
            best.dismiss();
            best = std::move(found);
            bestTime = changed;
        } else {
            found.dismiss();
        }
    }
    return best;
}

} // namespace journal
