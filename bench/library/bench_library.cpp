// The cell library at its expected size: 5,000 cells and 50,000 runs, in a
// file and on a PostgreSQL server on this machine (a throwaway cluster, or the
// two empty databases named by --server BIG FRESH), side by side. Prints the time to open it
// and read every cell's summary, one capture from the received table to the
// committed run (and the user-interface thread's share of it), and an import
// of 1,000 log files of 10 tables.
#include "bench/BenchTiming.h"
#include "library/Capture.h"
#include "library/Library.h"
#include "library/LibraryService.h"
#include "library/ServerLocation.h"
#include "tests/support/PgServer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>

namespace {

QList<QByteArray> Rows(int variant)
{
    QList<QByteArray> rows;
    const int volts[] = {145, 140, 135, 130, 125, 120, 115, 110, 105, 100};
    for (int r = 0; r < 10; ++r) {
        QByteArray row = QByteArray::number(volts[r] / 100) + '.'
            + QByteArray::number(volts[r] % 100).rightJustified(2, '0') + 'V';
        for (int c = 0; c < 4; ++c)
            row += ' ' + QByteArray::number(r == 0 ? 0 : r * (10 + c) + variant % 97 + variant / 97 * 1000);
        rows.append(row);
    }
    return rows;
}

QByteArray Text(int variant)
{
    QByteArray out = "Bat-V Bat1 Bat2 Bat3 Bat4\r\n";
    for (const QByteArray &r : Rows(variant))
        out += r + "\r\n";
    return out;
}

double MB(const QString &path)
{
    return (QFileInfo(path).size() + QFileInfo(path + "-wal").size()) / 1e6;
}

// The library filled in one transaction of the benchmark's own, as years of use would have.
bool Fill(const QString &path, int cells, int runs)
{
    {
        library::Library create(path);
        if (!create.isWritable()) {
            std::fprintf(stderr, "fill: %s\n", qPrintable(create.reason()));
            return false;
        }
    }
    const bool server = library::IsServerLocation(path);
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(server ? "QPSQL" : "QSQLITE", "fill");
        if (server)
            db.setConnectOptions(library::ParseServerLocation(path).connectOptions);
        else
            db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery q(db);
        // The server's triggers are left out while it is filled, its figures made once at the end.
        ok = ok && (!server || q.exec("SET session_replication_role = replica"));
        ok = ok && q.exec("BEGIN");
        q.prepare("INSERT INTO cells(id, label, model, nominal_mah) VALUES (?, ?, 'HR-3UTG', 1900)");
        for (int c = 1; ok && c <= cells; ++c) {
            q.bindValue(0, c);
            q.bindValue(1, QStringLiteral("E-%1").arg(c, 5, 10, QLatin1Char('0')));
            ok = q.exec();
        }
        QSqlQuery r(db), b(db);
        r.prepare("INSERT INTO runs(id, recorded_at, source, rows, row_key, htime, hteiko, hvds) "
                  "VALUES (?, ?, 'fill.log', ?, ?, 0, 100, 5)");
        b.prepare("INSERT INTO run_bays(run_id, bay, recorded_at, cell_id, capacity, mean_voltage, last_time) "
                  "VALUES (?, ?, ?, ?, ?, 1.2, 100)");
        QRandomGenerator rng(42);
        const qint64 start = QDateTime(QDate(2020, 1, 1), QTime(0, 0)).toSecsSinceEpoch();
        for (int i = 1; ok && i <= runs; ++i) {
            const QList<QByteArray> rows = Rows(i);
            r.bindValue(0, i);
            r.bindValue(1, start + qint64(i) * 3600);
            r.bindValue(2, rows.join('\n'));
            r.bindValue(3, library::RowsKey(rows));
            ok = r.exec();
            for (int bay = 1; ok && bay <= 4; ++bay) {
                b.bindValue(0, i);
                b.bindValue(1, bay);
                b.bindValue(2, start + qint64(i) * 3600);
                b.bindValue(3, 1 + int(rng.bounded(cells)));
                b.bindValue(4, 1500.0 + rng.bounded(500.0));
                ok = b.exec();
            }
        }
        if (server) {
            ok = ok && q.exec("SELECT voltrak_refresh_cell(id) FROM cells");
            ok = ok && q.exec("SELECT setval(pg_get_serial_sequence('cells', 'id'), (SELECT max(id) FROM cells))");
            ok = ok && q.exec("SELECT setval(pg_get_serial_sequence('runs', 'id'), (SELECT max(id) FROM runs))");
        }
        ok = ok && q.exec("COMMIT");
        if (!ok)
            std::fprintf(stderr, "fill: %s\n", qPrintable(q.lastError().text() + r.lastError().text()));
        // Before the connection closes: a server's statements are freed on it.
        q = QSqlQuery();
        r = QSqlQuery();
        b = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase("fill");
    return ok;
}

// The file's size; a server's database is not measured (0).
double Size(const QString &location)
{
    return library::IsServerLocation(location) ? 0.0 : MB(location);
}

// Every figure for one store; big and fresh are new, empty libraries.
int Measure(const char *store, const QString &big, const QString &fresh, const QTemporaryDir &dir)
{
    std::printf("---- %s\n", store);
    constexpr int cells = 5000, runs = 50000;
    if (!Fill(big, cells, runs))
        return 1;

    int shown = 0;
    const double openAndSummary = medianMs(7, [&] {
        library::Library lib(big);
        shown = int(lib.cellSummaries().size());
    });
    const double openOnly = medianMs(7, [&] { library::Library lib(big); });
    double summaryOnly = 0;
    {
        library::Library held(big);
        summaryOnly = medianMs(7, [&] { shown = int(held.cellSummaries().size()); });
    }
    std::printf("open + cell summaries (%d cells, %d runs, %.1f MB): %.1f ms (target < 200 ms on a file, "
                "< 500 ms on the server); open alone %.1f ms, summaries alone %.1f ms\n",
        shown, runs, Size(big), openAndSummary, openOnly, summaryOnly);

    {
        library::Library lib(big);
        int listed = 0;
        const double runsMs = medianMs(3, [&] { listed = int(lib.runs().size()); });
        int newest = 0;
        const double newestMs = medianMs(3, [&] { newest = int(lib.runs(1000).size()); });
        std::printf("runs list (%d runs with their bays): %.1f ms; the newest %d: %.1f ms (on the worker thread)\n",
            listed, runsMs, newest, newestMs);
    }

    // Captures into the big library through the worker, as the main window does them.
    {
        library::LibraryService service(big);
        library::BayAssignment bays;
        for (int b = 1; b <= 4; ++b)
            bays.setLabel(b, QStringLiteral("E-%1").arg(b, 5, 10, QLatin1Char('0')));
        library::LiveCapture capture(
            &service, &bays, [] { return QDateTime::currentDateTime(); }, [] { return analysis::CapacityParameters(); },
            [] { return 1; });
        service.waitForIdle();
        std::vector<double> ui, whole;
        for (int i = 0; i < 21; ++i) {
            const QByteArray dump = Text(runs + 1000 + i) + "Setting mode\r\n";
            QElapsedTimer t;
            t.start();
            capture.feed(dump);
            ui.push_back(t.nsecsElapsed() / 1e6);
            service.waitForIdle();
            whole.push_back(t.nsecsElapsed() / 1e6);
        }
        std::sort(ui.begin(), ui.end());
        std::sort(whole.begin(), whole.end());
        std::printf("one capture, table to committed run (%.1f MB library): %.1f ms (target < 50 ms); on the UI "
                    "thread %.3f ms (target < 2 ms)\n",
            Size(big), whole[whole.size() / 2], ui[ui.size() / 2]);
    }

    // 1,000 log files of 10 tables into a new library.
    const QString logs = dir.filePath("logs");
    QDir().mkpath(logs);
    QStringList files;
    qint64 logBytes = 0;
    for (int f = 0; f < 1000; ++f) {
        QByteArray text;
        for (int t = 0; t < 10; ++t)
            text += "2026/12/01 10:00\r\n" + Text(f * 10 + t) + "Discharge end\r\n";
        files << logs + QStringLiteral("/%1.log").arg(f);
        QFile out(files.last());
        if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size())
            return 1;
        logBytes += text.size();
    }
    library::ImportSummary s;
    QElapsedTimer t;
    t.start();
    {
        library::Library lib(fresh);
        s = lib.importFiles(files, {});
    }
    const double importMs = t.nsecsElapsed() / 1e6;
    std::printf("import of %d files of 10 tables (%.1f MB of logs; %d new runs; library %.1f MB): %.0f ms "
                "(target < 10000 ms on a file, < 20000 ms on the server)\n",
        s.files, logBytes / 1e6, s.newRuns, Size(fresh), importMs);
    return s.newRuns == 10000 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    int status = Measure("file", dir.filePath("big.sqlite"), dir.filePath("import.sqlite"), dir);
    QString big, fresh;
    PgServer local;
    const QStringList args = app.arguments();
    const int named = int(args.indexOf("--server"));
    if (named > 0 && named + 2 < args.size()) {
        big = args.at(named + 1);
        fresh = args.at(named + 2);
    } else if (local.start()) {
        big = local.newDatabase();
        fresh = local.newDatabase();
    } else {
        std::printf("---- server: not measured (%s)\n", qPrintable(local.reason()));
        return status;
    }
    status |= Measure("server (PostgreSQL on this machine)", big, fresh, dir);
    return status;
}
