#include "library/LibraryService.h"
#include "library/Backup.h"
#include "library/Library.h"
#include "library/Scanner.h"

#include <algorithm>

namespace library {

LibraryService::LibraryService(const QString &path, QObject *parent)
    : QObject(parent)
    , m_path(path)
{
    qRegisterMetaType<library::RecordResult>();
    qRegisterMetaType<library::ImportSummary>();
    qRegisterMetaType<library::Changes>();
    m_worker.post([this] {
        m_library = std::make_unique<Library>(m_path);
        // From this object's own thread once its event loop runs, so a receiver
        // connected right after the constructor cannot miss it.
        const bool open = m_library->isOpen(), writable = m_library->isWritable();
        const QString reason = m_library->reason();
        deliver([this, open, writable, reason] {
            if (open)
                emit opened(writable, reason);
            else
                emit openFailed(reason);
        });
    });
}

LibraryService::~LibraryService()
{
    {
        std::lock_guard<std::mutex> hold(m_importLock);
        for (const std::weak_ptr<std::atomic<bool>> &flag : m_imports) {
            if (const auto cancel = flag.lock())
                cancel->store(true);
        }
    }
    // Closed on the thread that opened it, after everything asked before.
    m_worker.post([this] { m_library.reset(); });
    m_worker.waitForIdle();
    m_files.waitForIdle();
}

void LibraryService::post(std::function<void(Library &)> job)
{
    m_worker.post([this, job = std::move(job)] {
        // A library that could not be opened was warned about once, by openFailed.
        if (m_library && m_library->isOpen()) {
            try {
                job(*m_library);
            } catch (const LibraryError &e) {
                const QString text = e.text();
                deliver([this, text] { emit failed(text); });
            } catch (const std::exception &e) {
                const QString text = QString::fromUtf8(e.what());
                deliver([this, text] { emit failed(text); });
            }
        }
    });
}

void LibraryService::deliver(std::function<void()> fn)
{
    // Through this object: it outlives the worker, so the call is never lost
    // to a deleted receiver, and runs on this object's thread.
    m_mailbox.post(std::move(fn));
}

template <typename T>
void LibraryService::answer(
    Reply<T> reply, Changes writes, const QPointer<QObject> &guard, bool hasContext, Then<T> then)
{
    // The context is looked at here, on this object's thread.
    deliver([this, reply = std::move(reply), writes, guard, hasContext, then = std::move(then)] {
        if (reply.ok() && writes)
            emit changed(writes);
        if (!then) {
            if (!reply.ok())
                emit failed(reply.error);
            return;
        }
        if (!hasContext || guard)
            then(reply);
    });
}

template <typename T>
void LibraryService::ask(std::function<T(Library &)> job, Changes writes, QObject *context, Then<T> then)
{
    QPointer<QObject> guard(context);
    const bool hasContext = context != nullptr;
    m_worker.post([this, job = std::move(job), writes, guard, hasContext, then = std::move(then)] {
        Reply<T> reply;
        if (!m_library || !m_library->isOpen()) {
            // Asked of a library that never opened: the answer says so, so no
            // caller waits for ever; openFailed() was the one warning.
            reply.error = CannotOpenTitle();
            if (then)
                answer(std::move(reply), {}, guard, hasContext, then);
            return;
        }
        try {
            reply.value = job(*m_library);
        } catch (const LibraryError &e) {
            reply.error = e.text();
        } catch (const std::exception &e) {
            reply.error = QString::fromUtf8(e.what());
        }
        answer(std::move(reply), writes, guard, hasContext, then);
    });
}

// ---- Reads

void LibraryService::readCells(QObject *context, Then<CellsRead> then)
{
    ask<CellsRead>(
        [](Library &lib) {
            return CellsRead{lib.cellSummaries(), lib.gradeLimits()};
        },
        {}, context, std::move(then));
}

void LibraryService::readRuns(QObject *context, Then<QList<RunRow>> then)
{
    ask<QList<RunRow>>([](Library &lib) { return lib.runs(); }, {}, context, std::move(then));
}

void LibraryService::readHistory(qint64 cellId, QObject *context, Then<QList<HistoryPoint>> then)
{
    ask<QList<HistoryPoint>>([cellId](Library &lib) { return lib.cellHistory(cellId); }, {}, context, std::move(then));
}

void LibraryService::readRecentRuns(qint64 cellId, int limit, QObject *context, Then<QList<RunTable>> then)
{
    ask<QList<RunTable>>(
        [cellId, limit](Library &lib) { return lib.recentRunsOf(cellId, limit); }, {}, context, std::move(then));
}

void LibraryService::readLabels(QObject *context, Then<QStringList> then)
{
    ask<QStringList>([](Library &lib) { return lib.labels(); }, {}, context, std::move(then));
}

void LibraryService::readGradeLimits(QObject *context, Then<GradeLimits> then)
{
    ask<GradeLimits>([](Library &lib) { return lib.gradeLimits(); }, {}, context, std::move(then));
}

void LibraryService::readScannerPrefix(QObject *context, Then<QString> then)
{
    ask<QString>(
        [](Library &lib) { return lib.setting(QString::fromLatin1(ScannerPrefixKey)); }, {}, context, std::move(then));
}

void LibraryService::readCurveNeighbours(qint64 cellId, QObject *context, Then<QList<CurveNeighbour>> then)
{
    ask<QList<CurveNeighbour>>(
        [cellId](Library &lib) { return lib.curveNeighbours(cellId); }, {}, context, std::move(then));
}

void LibraryService::readPlanPool(const PoolRequest &request, QObject *context, Then<QList<PoolCandidate>> then)
{
    ask<QList<PoolCandidate>>([request](Library &lib) { return lib.planPool(request); }, {}, context, std::move(then));
}

void LibraryService::readBayCells(const QList<BayCell> &bays, QObject *context, Then<QList<BayCell>> then)
{
    ask<QList<BayCell>>([bays](Library &lib) { return lib.resolveBays(bays); }, {}, context, std::move(then));
}

void LibraryService::readKeptBays(int channel, QObject *context, Then<QList<BayCell>> then)
{
    ask<QList<BayCell>>([channel](Library &lib) { return lib.keptBays(channel); }, {}, context, std::move(then));
}

// ---- Writes

void LibraryService::editCell(const CellInfo &info, QObject *context, Then<Nothing> then)
{
    // A label shows in the runs tab too.
    ask<Nothing>(
        [info](Library &lib) {
            lib.updateCell(info);
            return Nothing{};
        },
        Change::Cells | Change::Runs, context, std::move(then));
}

void LibraryService::setBayLabel(qint64 runId, int bay, const QString &label, QObject *context, Then<Nothing> then)
{
    ask<Nothing>(
        [runId, bay, label](Library &lib) {
            lib.setBayLabel(runId, bay, label);
            return Nothing{};
        },
        Change::Cells | Change::Runs, context, std::move(then));
}

void LibraryService::deleteRuns(const QList<qint64> &runIds, QObject *context, Then<DeletedRuns> then)
{
    ask<DeletedRuns>([runIds](Library &lib) { return lib.deleteRuns(runIds); }, Change::Cells | Change::Runs, context,
        std::move(then));
}

void LibraryService::restoreRuns(const DeletedRuns &runs, QObject *context, Then<int> then)
{
    ask<int>(
        [runs](Library &lib) { return lib.restoreRuns(runs); }, Change::Cells | Change::Runs, context, std::move(then));
}

void LibraryService::recomputeRuns(
    const QList<qint64> &runIds, const analysis::CapacityParameters &parameters, QObject *context, Then<Nothing> then)
{
    ask<Nothing>(
        [runIds, parameters](Library &lib) {
            lib.setRunParameters(runIds, parameters);
            return Nothing{};
        },
        Change::Cells | Change::Runs, context, std::move(then));
}

void LibraryService::writeGradeLimits(const GradeLimits &limits, QObject *context, Then<Nothing> then)
{
    ask<Nothing>(
        [limits](Library &lib) {
            lib.setGradeLimits(limits);
            return Nothing{};
        },
        Change::Settings, context, std::move(then));
}

void LibraryService::writeScannerPrefix(const QString &prefix, QObject *context, Then<Nothing> then)
{
    ask<Nothing>(
        [prefix = prefix.trimmed()](Library &lib) {
            lib.setSetting(QString::fromLatin1(ScannerPrefixKey), prefix);
            return Nothing{};
        },
        Change::Settings, context, std::move(then));
}

void LibraryService::recordBuiltIn(
    const QList<qint64> &cellIds, const QString &name, QObject *context, Then<Nothing> then)
{
    recordBuiltIn(cellIds, name, PackFacts(), context, std::move(then));
}

void LibraryService::recordBuiltIn(
    const QList<qint64> &cellIds, const QString &name, const PackFacts &facts, QObject *context, Then<Nothing> then)
{
    ask<Nothing>(
        [cellIds, name, facts](Library &lib) {
            lib.recordBuiltIn(cellIds, name, facts);
            return Nothing{};
        },
        Change::Cells, context, std::move(then));
}

void LibraryService::dissolvePack(const QString &name, QObject *context, Then<int> then)
{
    ask<int>([name](Library &lib) { return lib.dissolvePack(name); }, Change::Cells, context, std::move(then));
}

void LibraryService::readPacks(QObject *context, Then<QList<PackRow>> then)
{
    ask<QList<PackRow>>([](Library &lib) { return lib.packs(); }, {}, context, std::move(then));
}

void LibraryService::undoBuiltIn(const QList<qint64> &cellIds, QObject *context, Then<Nothing> then)
{
    ask<Nothing>(
        [cellIds](Library &lib) {
            lib.undoBuiltIn(cellIds);
            return Nothing{};
        },
        Change::Cells, context, std::move(then));
}

void LibraryService::keepBays(int channel, const QList<BayCell> &bays, QObject *context, Then<Nothing> then)
{
    ask<Nothing>(
        [channel, bays](Library &lib) {
            // A library opened read-only keeps nothing, and says so once, when it opens.
            if (lib.isWritable())
                lib.keepBays(channel, bays);
            return Nothing{};
        },
        Change::Bays, context, std::move(then));
}

void LibraryService::record(const RunInput &run)
{
    const QDateTime when = run.when;
    post([this, run, when](Library &lib) {
        // A read-only library was warned about when it opened.
        if (!lib.isWritable())
            return;
        const RecordResult r = lib.recordRun(run);
        deliver([this, r, when] {
            if (r.isNew)
                emit changed(Change::Cells | Change::Runs);
            emit runRecorded(r, when);
        });
    });
}

std::shared_ptr<std::atomic<bool>> LibraryService::importFiles(
    const QStringList &paths, const analysis::CapacityParameters &parameters)
{
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard<std::mutex> hold(m_importLock);
        m_imports.erase(std::remove_if(m_imports.begin(), m_imports.end(),
                            [](const std::weak_ptr<std::atomic<bool>> &f) { return f.expired(); }),
            m_imports.end());
        m_imports.push_back(cancel);
    }
    post([this, paths, parameters, cancel](Library &lib) {
        const ImportSummary s = lib.importFiles(
            paths, parameters,
            [this](int done, int total, const QString &path) {
                deliver([this, done, total, path] { emit importProgress(done, total, path); });
            },
            cancel.get());
        deliver([this, s] {
            if (s.newRuns > 0 || s.knownRuns > 0)
                emit changed(Change::Cells | Change::Runs);
            emit importFinished(s);
        });
    });
    return cancel;
}

void LibraryService::backup(const QString &file, QObject *context, Then<Nothing> then)
{
    QPointer<QObject> guard(context);
    const bool hasContext = context != nullptr;
    // Handed to the file writer after what was asked before is in the file:
    // the copy has it.
    m_worker.post([this, file, guard, hasContext, then] {
        m_files.run([path = m_path, file] { BackupLibrary(path, file); }, nullptr,
            [this, guard, hasContext, then](const QString &error) {
                if (!then) {
                    if (!error.isEmpty())
                        emit failed(error);
                    return;
                }
                Reply<Nothing> reply;
                reply.error = error;
                if (!hasContext || guard)
                    then(reply);
            });
    });
}

void LibraryService::waitForIdle()
{
    m_worker.waitForIdle();
    m_files.waitForIdle();
    m_worker.waitForIdle();
}

} // namespace library
