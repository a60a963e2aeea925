#include "library/LibraryService.h"
#include "library/Backup.h"
#include "library/Library.h"
#include "library/Outbox.h"
#include "library/Scanner.h"
#include "library/ServerLocation.h"

#include <algorithm>

namespace library {

namespace {

QString UnreachableText()
{
    return QStringLiteral("セル台帳のサーバーにつながりません（表示は前回読んだものです）");
}

} // namespace

LibraryService::LibraryService(const QString &path, QObject *parent)
    : LibraryService(path, QString(), parent)
{ }

LibraryService::LibraryService(const QString &path, const QString &outboxPath, QObject *parent)
    : QObject(parent)
    , m_path(path)
    , m_outboxPath(outboxPath)
    , m_server(IsServerLocation(path))
{
    qRegisterMetaType<library::RecordResult>();
    qRegisterMetaType<library::ImportSummary>();
    qRegisterMetaType<library::Changes>();
    qRegisterMetaType<library::Measurement>();
    qRegisterMetaType<library::FigureImportSummary>();
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(2000);
    connect(m_pollTimer, &QTimer::timeout, this, [this] {
        // One poll waiting at a time, however long the worker is busy.
        if (!m_pollAsked.exchange(true))
            m_worker.post([this] {
                m_pollAsked = false;
                poll();
            });
    });
    m_pollTimer->start();
    m_worker.post([this] {
        m_library = std::make_unique<Library>(m_path);
        QString outboxError;
        if (m_server && !m_outboxPath.isEmpty()) {
            try {
                m_outbox = std::make_unique<Outbox>(m_outboxPath);
            } catch (const LibraryError &e) {
                outboxError = e.text();
            }
        }
        // A server that does not answer yet is no failure: captures wait in
        // the outbox and the windows open on nothing until it answers.
        const bool unreachable = m_library->isUnreachable();
        m_connected = !unreachable;
        if (unreachable)
            m_library.reset();
        const bool open = unreachable || m_library->isOpen();
        const bool writable = unreachable || m_library->isWritable();
        const QString reason = unreachable ? QString() : m_library->reason();
        if (m_library && m_library->isOpen())
            noteOwnWrite();
        const int waiting = unsent();
        const bool connected = m_connected;
        // From this object's own thread once its event loop runs, so a receiver
        // connected right after the constructor cannot miss it.
        deliver([this, open, writable, reason, waiting, connected, outboxError] {
            if (open)
                emit opened(writable, reason);
            else
                emit openFailed(reason);
            if (m_server && open)
                emit connectionChanged(connected, waiting);
            if (!outboxError.isEmpty())
                emit failed(outboxError);
        });
    });
}

LibraryService::~LibraryService()
{
    m_pollTimer->stop();
    {
        std::lock_guard<std::mutex> hold(m_importLock);
        for (const std::weak_ptr<std::atomic<bool>> &flag : m_imports) {
            if (const auto cancel = flag.lock())
                cancel->store(true);
        }
    }
    // Closed on the thread that opened it, after everything asked before.
    m_worker.post([this] {
        m_library.reset();
        m_outbox.reset();
    });
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
            } catch (const UnreachableError &e) {
                lostServer();
                const QString text = e.text();
                deliver([this, text] { emit failed(text); });
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
            // caller waits for ever; openFailed() was the one warning. A server
            // not reached: the window keeps what it shows, and says it is old.
            reply.stale = m_server && !m_connected;
            reply.error = reply.stale ? UnreachableText() : CannotOpenTitle();
            if (then || reply.stale)
                answer(std::move(reply), {}, guard, hasContext, then);
            return;
        }
        try {
            reply.value = job(*m_library);
            if (writes)
                noteOwnWrite();
        } catch (const UnreachableError &) {
            lostServer();
            reply.stale = true;
            reply.error = UnreachableText();
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

void LibraryService::readFigures(qint64 cellId, QObject *context, Then<QList<Measurement>> then)
{
    ask<QList<Measurement>>([cellId](Library &lib) { return lib.figures(cellId); }, {}, context, std::move(then));
}

void LibraryService::readFigureColumns(QObject *context, Then<FigureColumns> then)
{
    ask<FigureColumns>([](Library &lib) { return lib.figureColumns(); }, {}, context, std::move(then));
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

void LibraryService::addFigure(const Measurement &figure, QObject *context, Then<qint64> then)
{
    ask<qint64>([figure](Library &lib) { return lib.addFigure(figure); }, Change::Cells, context, std::move(then));
}

void LibraryService::addFigureFor(const QString &label, const Measurement &figure, QObject *context, Then<qint64> then)
{
    ask<qint64>([label, figure](Library &lib) { return lib.addFigureFor(label, figure); }, Change::Cells, context,
        std::move(then));
}

void LibraryService::deleteFigure(qint64 figureId, QObject *context, Then<Nothing> then)
{
    ask<Nothing>(
        [figureId](Library &lib) {
            lib.deleteFigure(figureId);
            return Nothing{};
        },
        Change::Cells, context, std::move(then));
}

void LibraryService::writeFigureColumns(const FigureColumns &columns, QObject *context, Then<Nothing> then)
{
    ask<Nothing>(
        [columns](Library &lib) {
            lib.setFigureColumns(columns);
            return Nothing{};
        },
        Change::Settings, context, std::move(then));
}

void LibraryService::importFigures(
    const QString &path, const FigureColumns &columns, QObject *context, Then<FigureImportSummary> then)
{
    QPointer<QObject> guard(context);
    const bool hasContext = context != nullptr;
    m_worker.post([this, path, columns, guard, hasContext, then = std::move(then)] {
        Reply<FigureImportSummary> reply;
        if (!m_library || !m_library->isOpen()) {
            reply.error = CannotOpenTitle();
            if (then)
                answer(std::move(reply), {}, guard, hasContext, then);
            return;
        }
        try {
            // What went wrong with the file or the library is in the summary.
            reply.value = m_library->importFigures(path, columns);
        } catch (const std::exception &e) {
            reply.error = QString::fromUtf8(e.what());
        }
        // Only what was stored is a change.
        const Changes writes = reply.value.stored > 0 ? Changes(Change::Cells) : Changes();
        answer(std::move(reply), writes, guard, hasContext, then);
    });
}

void LibraryService::record(const RunInput &run)
{
    const QDateTime when = run.when;
    m_worker.post([this, run, when] {
        if (m_library && m_library->isOpen()) {
            // A read-only library was warned about when it opened.
            if (!m_library->isWritable())
                return;
            try {
                const RecordResult r = m_library->recordRun(run);
                noteOwnWrite();
                deliver([this, r, when] {
                    if (r.isNew)
                        emit changed(Change::Cells | Change::Runs);
                    emit runRecorded(r, when);
                });
                return;
            } catch (const UnreachableError &) {
                lostServer();
            } catch (const LibraryError &e) {
                const QString text = e.text();
                deliver([this, text] { emit failed(text); });
                return;
            }
        }
        // A file that never opened was warned about once.
        if (!m_server)
            return;
        if (!m_outbox) {
            deliver(
                [this] { emit failed(QStringLiteral("セル台帳のサーバーにつながらず、放電記録を残せませんでした")); });
            return;
        }
        RecordResult r;
        r.queued = true;
        for (int b = 0; b < BayCount; ++b)
            r.assignedBays += !run.labels[b].trimmed().isEmpty() || run.cellIds[b] != 0;
        try {
            m_outbox->add(run);
        } catch (const LibraryError &e) {
            const QString text = e.text();
            deliver([this, text] { emit failed(text); });
            return;
        }
        const int waiting = unsent();
        deliver([this, r, when, waiting] {
            emit runRecorded(r, when);
            emit connectionChanged(false, waiting);
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
    m_worker.post([this, paths, parameters, cancel] {
        if (!m_library || !m_library->isOpen()) {
            // Nothing is imported into a library that is not there; the window hears why.
            ImportSummary none;
            const QString reason = m_server && !m_connected ? UnreachableText() : CannotOpenTitle();
            for (const QString &p : paths)
                none.failures.append({p, reason});
            deliver([this, none] { emit importFinished(none); });
            return;
        }
        Library &lib = *m_library;
        const ImportSummary s = lib.importFiles(
            paths, parameters,
            [this](int done, int total, const QString &path) {
                deliver([this, done, total, path] { emit importProgress(done, total, path); });
            },
            cancel.get());
        noteOwnWrite();
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

void LibraryService::setPollInterval(int ms)
{
    if (ms <= 0) {
        m_pollTimer->stop();
        return;
    }
    m_pollTimer->setInterval(ms);
    m_pollTimer->start();
}

int LibraryService::unsent() const
{
    if (!m_outbox)
        return 0;
    try {
        return m_outbox->count();
    } catch (const LibraryError &e) {
        qWarning("%s", qPrintable(e.text()));
        return 0;
    }
}

void LibraryService::noteOwnWrite()
{
    try {
        m_seenChanges = m_library->changeCounter();
    } catch (const UnreachableError &) {
        lostServer();
    } catch (const LibraryError &) {
        // Not known: the next poll reads everything again once, which is all this costs.
        m_seenChanges = -1;
    }
}

void LibraryService::lostServer()
{
    if (!m_server || !m_connected)
        return;
    m_connected = false;
    // The broken connection is dropped; the poll makes a new one.
    m_library.reset();
    const int waiting = unsent();
    deliver([this, waiting] { emit connectionChanged(false, waiting); });
}

void LibraryService::sendOutbox()
{
    if (!m_outbox || !m_library || !m_library->isWritable())
        return;
    bool sent = false;
    for (;;) {
        const QList<Outbox::Entry> batch = m_outbox->pending(50);
        if (batch.isEmpty())
            break;
        for (const Outbox::Entry &e : batch) {
            RecordResult r;
            try {
                r = m_library->recordRun(e.run);
            } catch (const UnreachableError &) {
                throw;
            } catch (const LibraryError &ex) {
                // A table the library can never take (no rows, a voltage that is no
                // number): said once and taken out, so the rest still goes.
                const QString text = ex.text();
                deliver([this, text] { emit failed(text); });
            }
            // Only now: killed before this, the run is sent again and found stored.
            m_outbox->remove(e.id);
            sent = true;
            if (r.runId == 0)
                continue;
            const QDateTime when = e.run.when;
            deliver([this, r, when] {
                if (r.isNew)
                    emit changed(Change::Cells | Change::Runs);
                emit runRecorded(r, when);
            });
        }
    }
    if (sent) {
        noteOwnWrite();
        const int waiting = unsent();
        deliver([this, waiting] { emit connectionChanged(true, waiting); });
    }
}

void LibraryService::poll()
{
    try {
        if (m_server && !m_connected) {
            auto lib = std::make_unique<Library>(m_path);
            if (!lib->isOpen()) {
                if (!lib->isUnreachable()) {
                    const QString text = lib->reason();
                    if (text != m_pollError) {
                        m_pollError = text;
                        deliver([this, text] { emit failed(text); });
                    }
                }
                return;
            }
            m_pollError.clear();
            m_library = std::move(lib);
            m_connected = true;
            sendOutbox();
            noteOwnWrite();
            const int waiting = unsent();
            // What the windows show was read before the server went away.
            deliver([this, waiting] {
                emit connectionChanged(true, waiting);
                emit changed(Change::Cells | Change::Runs | Change::Settings);
            });
            return;
        }
        if (!m_library || !m_library->isOpen())
            return;
        if (m_server)
            sendOutbox();
        const qint64 now = m_library->changeCounter();
        if (m_seenChanges >= 0 && now != m_seenChanges)
            deliver([this] { emit changed(Change::Cells | Change::Runs | Change::Settings); });
        m_seenChanges = now;
    } catch (const UnreachableError &) {
        lostServer();
    } catch (const LibraryError &e) {
        const QString text = e.text();
        if (text != m_pollError) {
            m_pollError = text;
            deliver([this, text] { emit failed(text); });
        }
    }
}

void LibraryService::waitForIdle()
{
    m_worker.waitForIdle();
    m_files.waitForIdle();
    m_worker.waitForIdle();
}

} // namespace library
