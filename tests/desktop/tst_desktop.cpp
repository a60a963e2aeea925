// The program on a real X display under a window manager, as a person meets
// it: the title bars, the outer sizes with the frame, and the keys in every
// dialog. Channel 1 (and 2) are pseudo-terminals, so no start-up error box.
#include "core/SjisText.h"
#include "tests/desktop/Desktop.h"
#include "tests/support/PgServer.h"
#include "tests/support/PtyHelpers.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>
#include <QtTest>

#include <csignal>
#include <memory>
#include <optional>
#include <tuple>

using desktop::WindowId;

namespace {

const QString MainTitle = QStringLiteral("VOLTRAK");
const QString Warning = QStringLiteral("警告");

// A discharge table as the discharger dumps it; another slope, another table.
QByteArray dischargeTable(int slope = 0)
{
    QByteArray t = "Bat-V Bat1 Bat2 Bat3 Bat4\r\n";
    for (int k = 0; k <= 10; ++k) {
        const int centi = 140 - 5 * k;
        t += QByteArray::number(centi / 100) + '.' + QByteArray::number(centi % 100).rightJustified(2, '0') + "V";
        for (int j = 0; j < 4; ++j)
            t += ' ' + QByteArray::number(k == 0 ? 0 : (8 + slope) * k + 3 * j);
        t += "\r\n";
    }
    return t + "End\r\n";
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT
    desktop::Session m_x;
    std::unique_ptr<Pty> m_com1, m_com2;

    QByteArray ini(const QByteArray &settings) const
    {
        return "[Ports]\r\nCOM1=" + m_com1->name.toLocal8Bit() + "\r\nCOM2=" + m_com2->name.toLocal8Bit()
            + "\r\n[VOLTRAK]\r\n" + settings;
    }

    // Starts the program and returns its main window (0 when it never shows).
    WindowId startProgram(desktop::Program &p, const QStringList &arguments = {})
    {
        if (!p.start(arguments))
            return 0;
        return m_x.waitForWindow(p.pid(), MainTitle);
    }

    // Keys on the active window from (a menu of) from, then the window titled title.
    WindowId openWith(desktop::Program &p, WindowId from, const QStringList &keys, const QString &title)
    {
        // On a loaded machine a menu's letter can come before the menu is
        // open; then a menu's keys are given again, a menu left open closed
        // first. Other keys are given once: twice could mean something else.
        const bool menu = !keys.isEmpty() && keys.first().startsWith(QLatin1String("alt+"));
        WindowId w = 0;
        for (int attempt = 0; attempt < (menu ? 3 : 1) && !w; ++attempt) {
            // A slow machine (a sanitizer build) may still be showing the window the last keys asked for.
            if (attempt > 0 && (w = m_x.waitForWindow(p.pid(), title, desktop::TimeoutMs / 3)))
                break;
            if (attempt > 0 && m_x.shownPopups(p.pid()) > 0)
                m_x.keys({"Escape", "Escape"});
            if (!m_x.activate(from) || !m_x.keys(keys))
                return 0;
            w = m_x.waitForWindow(p.pid(), title, desktop::TimeoutMs);
        }
        // A window the program raises itself becomes active a little after it
        // is mapped; keys meant for the next window must not race it.
        if (w)
            desktop::waitFor([&] { return m_x.activeWindow() == w; });
        return w;
    }

    // The program on a library that knows the four labels (imported from a
    // log first), with 装着セル open; main and bays stay 0 when either never shows.
    void startWithCellsInLibrary(desktop::Program &p, const QString &labels, WindowId &main, WindowId &bays)
    {
        p.writeIni(ini(""));
        const QString log = p.writeFile(QStringLiteral("cells.log"),
            sjis::encode(QStringLiteral("セル: ") + labels + QStringLiteral("\r\n")) + "2026/12/08 09:00\r\n"
                + dischargeTable(3));
        if (!p.start({QStringLiteral("--import"), log}) || !p.waitForExit())
            return;
        main = startProgram(p);
        if (main)
            bays = openWith(p, main, {"alt+v", "m"}, QStringLiteral("装着セル"));
    }

    // Waits for the completion list of what was typed. The list opens on a
    // key, so while the labels are still being read the last key (lastKey)
    // is typed again.
    bool completionShown(desktop::Program &p, const QString &lastKey)
    {
        return desktop::waitFor([&] {
            if (m_x.shownPopups(p.pid()) > 0)
                return true;
            m_x.keys({"BackSpace", lastKey});
            return false;
        });
    }

    // Waits for the warning box and answers it with Enter.
    bool answerWarning(desktop::Program &p)
    {
        const WindowId box = m_x.waitForWindow(p.pid(), Warning);
        return box && m_x.activate(box) && m_x.keys({QStringLiteral("Return")})
            && desktop::waitFor([&] { return !m_x.isViewable(box); });
    }

    // The keys that type text made of lower-case letters, digits, '-' and '.'.
    static QStringList typing(const QString &text)
    {
        QStringList keys;
        for (const QChar c : text)
            keys << (c == '-' ? QStringLiteral("minus") : c == '.' ? QStringLiteral("period") : QString(c));
        return keys;
    }

    // "key=value" for each record of csv (header first), from the columns titled key and value.
    static QStringList columnPairs(const QList<QStringList> &csv, const QString &key, const QString &value)
    {
        QStringList pairs;
        if (csv.isEmpty())
            return pairs;
        const qsizetype k = csv.first().indexOf(key), v = csv.first().indexOf(value);
        for (const QStringList &r : csv.mid(1))
            if (k >= 0 && v >= 0 && r.size() > qMax(k, v))
                pairs << r.at(k) + '=' + r.at(v);
        return pairs;
    }

    // The records of a CSV file セル台帳 saves from its shown tab with
    // CSV保存, the header first; empty when the dialog or the file never came.
    QList<QStringList> saveCsv(desktop::Program &p, WindowId ledger, const QString &name)
    {
        const QString path = p.filePath(name);
        QFile::remove(path);
        if (!m_x.activate(ledger) || !m_x.keys({"alt+s"}))
            return {};
        const WindowId dialog = m_x.waitForWindow(p.pid(), QStringLiteral("CSV保存"));
        if (!dialog || !m_x.activate(dialog) || !m_x.keys(typing(name) << "Return"))
            return {};
        if (!desktop::waitFor([&] { return QFileInfo(path).size() > 3; }))
            return {};
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QList<QStringList> records;
        for (const QString &line : QString::fromUtf8(f.readAll().mid(3)).split("\r\n", Qt::SkipEmptyParts))
            records << line.split(',');
        return records;
    }

    // The label of bay of the run received on channel 1, from セル台帳's runs
    // CSV; none while there is no such run.
    std::optional<QString> receivedBayLabel(desktop::Program &p, WindowId ledger, int bay)
    {
        const QList<QStringList> csv = saveCsv(p, ledger, QStringLiteral("runs.csv"));
        if (csv.isEmpty())
            return std::nullopt;
        // The received run, not the imported one.
        const qsizetype source = csv.first().indexOf("出典"), bayColumn = csv.first().indexOf("ベイ"),
                        label = csv.first().indexOf("ラベル");
        for (const QStringList &r : csv.mid(1))
            if (r.size() > qMax(qMax(source, bayColumn), label)
                && r.at(source) == QStringLiteral("受信 %1 ch1").arg(QSysInfo::machineHostName().section('.', 0, 0))
                && r.at(bayColumn) == QString::number(bay))
                return r.at(label);
        return std::nullopt;
    }

    bool closeProgram(desktop::Program &p, WindowId main)
    {
        m_x.close(main);
        return p.waitForExit();
    }

    QString seen(desktop::Program &p) const
    {
        return QStringLiteral("windows: ") + m_x.titlesOf(p.pid()).join(QStringLiteral(" | "));
    }

private slots:
    void initTestCase() { QVERIFY2(m_x.start(), qPrintable(m_x.error())); }

    void init()
    {
        m_com1 = std::make_unique<Pty>();
        m_com2 = std::make_unique<Pty>();
    }

    // Every title bar reads exactly its caption; the program keeps its name for the window class.
    void captions()
    {
        desktop::Program p(m_x);
        p.writeIni(ini(""));
        const WindowId main = startProgram(p);
        QVERIFY2(main, qPrintable(seen(p) + p.output()));
        QCOMPARE(m_x.wmClass(main), (QStringList{QStringLiteral("voltrak"), MainTitle}));

        // 描画 of the graph settings with an empty log: the warning box.
        const WindowId parag = openWith(p, main, {"alt+s", "g"}, QStringLiteral("グラフの設定"));
        QVERIFY2(parag, qPrintable(seen(p)));
        QVERIFY(m_x.activate(parag));
        QVERIFY(m_x.click(parag, 184, 444));
        QVERIFY2(answerWarning(p), qPrintable(seen(p)));

        // Once a table has arrived, 描画 shows the graph window.
        QVERIFY(m_com1->writeAll("2006/03/02 07:05\r\n" + dischargeTable()));
        WindowId graph = 0;
        QVERIFY2(desktop::waitFor([&] {
            m_x.activate(parag);
            m_x.click(parag, 184, 444);
            graph = m_x.waitForWindow(p.pid(), QStringLiteral("電圧変化グラフ"), 2000);
            if (!graph)
                answerWarning(p); // the table was not in the log yet
            return graph != 0;
        }),
            qPrintable(seen(p)));
        // Gwide x Gheit with its frame, centred at its first show.
        const QSize screen = m_x.screenSize();
        const QRect wanted(QPoint((screen.width() - 600) / 2, (screen.height() - 300) / 2), QSize(600, 300));
        desktop::waitFor([&] { return m_x.hasFrameExtents(graph) && m_x.outerRect(graph) == wanted; });
        QCOMPARE(m_x.outerRect(graph), wanted);
        // Closed and drawn again, it comes back at the same outer size, not larger by its frame.
        m_x.close(graph);
        QVERIFY(desktop::waitFor([&] { return !m_x.isViewable(graph); }));
        QVERIFY(m_x.activate(parag));
        QVERIFY(m_x.click(parag, 184, 444));
        graph = m_x.waitForWindow(p.pid(), QStringLiteral("電圧変化グラフ"));
        QVERIFY2(graph, qPrintable(seen(p)));
        desktop::waitFor([&] { return m_x.hasFrameExtents(graph) && m_x.outerRect(graph).size() == wanted.size(); });
        QCOMPARE(m_x.outerRect(graph).size(), wanted.size());

        QVERIFY2(openWith(p, main, {"alt+s", "v"}, QStringLiteral("放電器の設定")), qPrintable(seen(p)));
        QVERIFY2(openWith(p, main, {"alt+s", "c"}, QStringLiteral("RS232C通信ch設定")), qPrintable(seen(p)));
        QVERIFY2(openWith(p, main, {"alt+h", "a"}, QStringLiteral("バージョン情報+使用方法")), qPrintable(seen(p)));
        QCOMPARE(m_x.titlesOf(p.pid()).size(), 6);
        QVERIFY(closeProgram(p, main));
    }

    // Four labels scanned into 装着セル (label and Enter, four times), then the
    // discharger dumps a table: セル台帳 shows the run with those four cells.
    // After a second, different dump each cell has two runs, also after the
    // program is started again.
    void cellLibraryFromBaysToLedger()
    {
        desktop::Program p(m_x);
        p.writeIni(ini(""));
        WindowId main = startProgram(p);
        QVERIFY2(main, qPrintable(seen(p) + p.output()));
        const WindowId bays = openWith(p, main, {"alt+v", "m"}, QStringLiteral("装着セル"));
        QVERIFY2(bays, qPrintable(seen(p)));
        const QStringList labels{"e-101", "e-102", "e-103", "e-104"};
        QVERIFY(m_x.activate(bays));
        for (const QString &label : labels)
            QVERIFY(m_x.keys(typing(label) << "Return"));
        QVERIFY(m_com1->writeAll("2026/12/09 04:00\r\n" + dischargeTable()));

        WindowId ledger = openWith(p, main, {"alt+v", "b"}, QStringLiteral("セル台帳"));
        QVERIFY2(ledger, qPrintable(seen(p)));
        QVERIFY(m_x.activate(ledger) && m_x.keys({"ctrl+Tab"})); // 放電記録
        // Each run's bays are one record each: the run has the four labels.
        const auto bayLabels = [](const QList<QStringList> &csv) { return columnPairs(csv, "ベイ", "ラベル"); };
        const QStringList expected{"1=e-101", "2=e-102", "3=e-103", "4=e-104"};
        QStringList found;
        QVERIFY2(desktop::waitFor([&] {
            found = bayLabels(saveCsv(p, ledger, QStringLiteral("runs.csv")));
            return found == expected;
        }),
            qPrintable(found.join(' ') + " / " + seen(p)));

        // The next dump, another table: every cell twice.
        const auto runCounts
            = [&](WindowId w) { return columnPairs(saveCsv(p, w, QStringLiteral("cells.csv")), "ラベル", "回数"); };
        QVERIFY(m_com1->writeAll("2026/12/09 05:00\r\n" + dischargeTable(2)));
        QVERIFY(m_x.activate(ledger) && m_x.keys({"ctrl+shift+Tab"})); // back to セル (組電池 follows 放電記録)
        const QStringList twice{"e-101=2", "e-102=2", "e-103=2", "e-104=2"};
        QStringList counts;
        QVERIFY2(desktop::waitFor([&] {
            counts = runCounts(ledger);
            return counts == twice;
        }),
            qPrintable(counts.join(' ') + " / " + seen(p)));
        QVERIFY(closeProgram(p, main));

        main = startProgram(p);
        QVERIFY2(main, qPrintable(seen(p) + p.output()));
        ledger = openWith(p, main, {"alt+v", "b"}, QStringLiteral("セル台帳"));
        QVERIFY2(ledger, qPrintable(seen(p)));
        QCOMPARE(runCounts(ledger), twice);
        QVERIFY(closeProgram(p, main));
    }

    // A cell renamed in セルの情報 while 装着セル is open: 装着セル completes the
    // new label at once. Typed "f-1", Down takes the completion; the next
    // dump's bay 1 shows what the field then held.
    void renamedCellCompletesInTheBays()
    {
        desktop::Program p(m_x);
        WindowId main = 0, bays = 0;
        startWithCellsInLibrary(p, QStringLiteral("e-1 e-2 e-3 e-4"), main, bays);
        QVERIFY2(main && bays, qPrintable(seen(p) + p.output()));
        const WindowId ledger = openWith(p, main, {"alt+v", "b"}, QStringLiteral("セル台帳"));
        QVERIFY2(ledger, qPrintable(seen(p)));
        // The list has the focus; Ctrl+Home takes its first row, e-1, Enter opens it, once the
        // cells are read (a slow build may show the window first).
        WindowId info = 0;
        desktop::waitFor([&] {
            m_x.activate(ledger);
            m_x.keys({"ctrl+Home", "Return"});
            return (info = m_x.waitForWindow(p.pid(), QStringLiteral("セルの情報"), 5000)) != 0;
        });
        QVERIFY2(info, qPrintable(seen(p)));
        QVERIFY(m_x.keys(QStringList{"alt+l", "ctrl+a"} + typing(QStringLiteral("f-102")) << "Return"));
        QVERIFY(desktop::waitFor([&] { return !m_x.isViewable(info); }));

        QVERIFY(m_x.activate(bays));
        QVERIFY(m_x.keys(typing(QStringLiteral("f-1"))));
        QVERIFY2(completionShown(p, "1"), "no completion list");
        QVERIFY(m_x.keys({"Down", "Return"}));
        QVERIFY(m_com1->writeAll("2026/12/09 04:00\r\n" + dischargeTable()));
        QVERIFY(m_x.activate(ledger) && m_x.keys({"ctrl+Tab"})); // 放電記録
        std::optional<QString> bay1;
        // Each look goes through the save dialog, slow to show on a sanitizer build.
        QVERIFY2(desktop::waitFor(
                     [&] {
                         bay1 = receivedBayLabel(p, ledger, 1);
                         return bay1.has_value();
                     },
                     60000),
            qPrintable(seen(p)));
        QCOMPARE(*bay1, QStringLiteral("f-102"));
        QVERIFY(closeProgram(p, main));
    }

    // Two benches, each beside its own discharger, on one library on a
    // PostgreSQL server: each sees the other's cells; with the server
    // stopped a discharge waits in the outbox and arrives, once, when the
    // server is back, and the other bench's セル台帳 follows.
    void workshopOnOneServer()
    {
        PgServer server;
        if (!server.start())
            QSKIP(qPrintable("no PostgreSQL server: " + server.reason()));
        const QString where = server.newDatabase();
        QVERIFY2(!where.isEmpty(), qPrintable(server.reason()));
        Pty comB;
        desktop::Program a(m_x), b(m_x);
        a.writeIni(ini(""));
        b.writeIni("[Ports]\r\nCOM1=" + comB.name.toLocal8Bit() + "\r\n[VOLTRAK]\r\n");
        const WindowId mainA = startProgram(a, {"--library", where});
        QVERIFY2(mainA, qPrintable(seen(a) + a.output()));
        const WindowId mainB = startProgram(b, {"--library", where});
        QVERIFY2(mainB, qPrintable(seen(b) + b.output()));
        for (auto [p, main, prefix] : {std::tuple{&a, mainA, "a"}, std::tuple{&b, mainB, "b"}}) {
            const WindowId bays = openWith(*p, main, {"alt+v", "m"}, QStringLiteral("装着セル"));
            QVERIFY2(bays, qPrintable(seen(*p)));
            for (int i = 1; i <= 4; ++i)
                QVERIFY(m_x.keys(typing(QStringLiteral("%1-%2").arg(prefix).arg(i)) << "Return"));
            QVERIFY(m_x.keys({"Escape"}));
        }
        const WindowId ledgerA = openWith(a, mainA, {"alt+v", "b"}, QStringLiteral("セル台帳"));
        const WindowId ledgerB = openWith(b, mainB, {"alt+v", "b"}, QStringLiteral("セル台帳"));
        QVERIFY2(ledgerA && ledgerB, qPrintable(seen(a) + seen(b)));
        QVERIFY(m_com1->writeAll("2026/12/09 04:00\r\n" + dischargeTable()));
        QVERIFY(comB.writeAll("2026/12/09 04:10\r\n" + dischargeTable(1)));

        // 回数 of every cell each ledger shows, as "label=n".
        const auto counts = [&](desktop::Program &p, WindowId ledger) {
            return columnPairs(saveCsv(p, ledger, QStringLiteral("cells.csv")), "ラベル", "回数");
        };
        const QStringList eight{"a-1=1", "a-2=1", "a-3=1", "a-4=1", "b-1=1", "b-2=1", "b-3=1", "b-4=1"};
        for (auto [p, ledger] : {std::pair{&a, ledgerA}, std::pair{&b, ledgerB}}) {
            QStringList seenCounts;
            // Each look goes through the save dialog, which a loaded machine is slow to show.
            QVERIFY2(desktop::waitFor([&] { return (seenCounts = counts(*p, ledger)) == eight; }, 60000),
                qPrintable(seenCounts.join(' ') + " / " + seen(*p)));
        }

        // The server away: bench a's third discharge waits beside its ini file.
        QVERIFY(server.stop());
        const auto waiting = [&] {
            int n = -1;
            {
                QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "outbox");
                db.setDatabaseName(a.filePath("outbox.sqlite"));
                db.setConnectOptions("QSQLITE_OPEN_READONLY");
                QSqlQuery q(db);
                if (db.open() && q.exec("SELECT count(*) FROM outbox") && q.next())
                    n = q.value(0).toInt();
            }
            QSqlDatabase::removeDatabase("outbox");
            return n;
        };
        QVERIFY(m_com1->writeAll("2026/12/09 06:00\r\n" + dischargeTable(5)));
        QVERIFY2(desktop::waitFor([&] { return waiting() == 1; }), qPrintable(a.output()));
        QVERIFY(server.start());
        QVERIFY2(desktop::waitFor([&] { return waiting() == 0; }, 30000), qPrintable(a.output()));
        QString runs, aRuns;
        QVERIFY(server.psql(where.section("dbname=", 1), "SELECT count(*) FROM runs", &runs));
        QCOMPARE(runs, QStringLiteral("3"));
        QVERIFY(server.psql(where.section("dbname=", 1),
            "SELECT count(*) FROM run_bays b JOIN cells c ON c.id = b.cell_id WHERE c.label = 'a-1'", &aRuns));
        QCOMPARE(aRuns, QStringLiteral("2"));
        // The other bench reads it again by itself.
        QStringList seenCounts;
        QVERIFY2(desktop::waitFor([&] { return (seenCounts = counts(b, ledgerB)).contains("a-1=2"); }, 30000),
            qPrintable(seenCounts.join(' ')));
        QVERIFY(closeProgram(a, mainA));
        QVERIFY(closeProgram(b, mainB));
    }

    // Escape with the completion list open closes the list only: what is
    // typed next still goes into the field, and the next dump's bay 1 has it.
    void escapeClosesTheCompletionFirst()
    {
        desktop::Program p(m_x);
        WindowId main = 0, bays = 0;
        startWithCellsInLibrary(p, QStringLiteral("e-10 e-20 e-30 e-40"), main, bays);
        QVERIFY2(main && bays, qPrintable(seen(p) + p.output()));
        // "e-" opens the list of the four; Escape closes it; "1" and Enter go on typing.
        QVERIFY(m_x.keys(typing(QStringLiteral("e-"))));
        QVERIFY2(completionShown(p, "minus"), "no completion list");
        QVERIFY(m_x.keys({"Escape"}));
        QVERIFY(desktop::waitFor([&] { return m_x.shownPopups(p.pid()) == 0; }));
        QVERIFY(m_x.isViewable(bays));
        QVERIFY(m_x.keys({"1", "Return"}));
        QVERIFY(m_x.isViewable(bays));
        QVERIFY(m_com1->writeAll("2026/12/09 04:00\r\n" + dischargeTable()));
        const WindowId ledger = openWith(p, main, {"alt+v", "b"}, QStringLiteral("セル台帳"));
        QVERIFY2(ledger, qPrintable(seen(p)));
        QVERIFY(m_x.activate(ledger) && m_x.keys({"ctrl+Tab"})); // 放電記録
        std::optional<QString> bay1;
        // Each look goes through the save dialog, slow to show on a sanitizer build.
        QVERIFY2(desktop::waitFor(
                     [&] {
                         bay1 = receivedBayLabel(p, ledger, 1);
                         return bay1.has_value();
                     },
                     60000),
            qPrintable(seen(p)));
        QCOMPARE(*bay1, QStringLiteral("e-1"));
        QVERIFY(m_x.activate(bays) && m_x.keys({"Escape"}));
        QVERIFY(desktop::waitFor([&] { return !m_x.isViewable(bays); }));
        QVERIFY(closeProgram(p, main));
    }

    // Keys in the library's windows: each opens what its accelerator names
    // and Escape closes it, on a real display where Alt reaches the buttons.
    // Steps: "key:K" to the window on top, "shown:T" waits for the window
    // titled T (then on top), "hidden:T" until T is gone, "still:T" checks T
    // is shown.
    void libraryWindowKeys_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("装着セル: Escape closes")
            << QStringList{"key:alt+v m", "shown:装着セル", "key:Escape", "hidden:装着セル"};
        QTest::newRow("装着セル: 閉じる by Tab and Space")
            << QStringList{"key:alt+v m", "shown:装着セル", "key:Tab Tab Tab Tab Tab space", "hidden:装着セル"};
        QTest::newRow("セル台帳: Alt+C closes")
            << QStringList{"key:alt+v b", "shown:セル台帳", "key:alt+c", "hidden:セル台帳"};
        QTest::newRow("セル台帳: Alt+K asks for the backup's file, Escape cancels it")
            << QStringList{"key:alt+v b", "shown:セル台帳", "key:alt+k", "shown:バックアップ", "key:Escape",
                   "hidden:バックアップ", "still:セル台帳", "key:Escape", "hidden:セル台帳"};
        QTest::newRow("セル台帳: Alt+I asks for the files to import") << QStringList{"key:alt+v b", "shown:セル台帳",
            "key:alt+i", "shown:取り込み", "key:Escape", "hidden:取り込み", "still:セル台帳"};
        QTest::newRow("ファイル > 台帳に取り込む")
            << QStringList{"key:alt+f i", "shown:取り込み", "key:Escape", "hidden:取り込み"};
    }
    void libraryWindowKeys()
    {
        QFETCH(QStringList, steps);
        desktop::Program p(m_x);
        p.writeIni(ini(""));
        const WindowId main = startProgram(p);
        QVERIFY2(main, qPrintable(seen(p) + p.output()));
        WindowId top = main;
        QHash<QString, WindowId> windows;
        for (const QString &step : steps) {
            const QString arg = step.section(QLatin1Char(':'), 1);
            if (step.startsWith(QLatin1String("key:"))) {
                QVERIFY(m_x.activate(top));
                QVERIFY(m_x.keys(arg.split(QLatin1Char(' '))));
            } else if (step.startsWith(QLatin1String("shown:"))) {
                top = windows[arg] = m_x.waitForWindow(p.pid(), arg);
                QVERIFY2(top, qPrintable(step + QLatin1Char(' ') + seen(p)));
            } else if (step.startsWith(QLatin1String("hidden:"))) {
                const WindowId w = windows.value(arg);
                QVERIFY2(desktop::waitFor([&] { return !m_x.isViewable(w); }), qPrintable(step + ' ' + seen(p)));
                top = main;
            } else if (step.startsWith(QLatin1String("still:"))) {
                QVERIFY2(m_x.isViewable(windows.value(arg)), qPrintable(step + ' ' + seen(p)));
                top = windows.value(arg);
            }
        }
        QVERIFY(closeProgram(p, main));
    }

    // 組電池の設計 by keys on a library imported from a saved log: 4S1P gives
    // the four cells closest in capacity, the PDF shows them, and 組込み記録
    // takes them out of the next plan.
    void packPlanByKeys()
    {
        desktop::Program p(m_x);
        p.writeIni(ini(""));
        // E-1..E-4 reach 1.00 V at 160, 152, 140 and 120 minutes, E-5..E-8 at
        // 158, 150, 100 and 90: the closest four are E-1, E-2, E-5 and E-6.
        const auto table = [](const char *stamp, const QList<int> &ends) {
            QByteArray t = QByteArray(stamp) + "\r\nBat-V Bat1 Bat2 Bat3 Bat4\r\n";
            for (int k = 0; k <= 4; ++k) {
                t += "1." + QByteArray::number(4 - k) + "0V";
                for (int end : ends)
                    t += ' ' + QByteArray::number(end * k / 4);
                t += "\r\n";
            }
            return t;
        };
        const QString log = p.writeFile(QStringLiteral("cells.log"),
            sjis::encode(QStringLiteral("セル: E-1 E-2 E-3 E-4\r\n")) + table("2026/12/09 09:00", {160, 152, 140, 120})
                + sjis::encode(QStringLiteral("セル: E-5 E-6 E-7 E-8\r\n"))
                + table("2026/12/09 10:00", {158, 150, 100, 90}));
        QVERIFY(p.start({QStringLiteral("--import"), log}));
        QVERIFY2(p.waitForExit(), qPrintable(p.output()));

        const WindowId main = startProgram(p);
        QVERIFY2(main, qPrintable(seen(p) + p.output()));
        const WindowId ledger = openWith(p, main, {"alt+v", "b"}, QStringLiteral("セル台帳"));
        QVERIFY2(ledger, qPrintable(seen(p)));
        const WindowId planner = openWith(p, ledger, {"alt+b"}, QStringLiteral("組電池の設計"));
        QVERIFY2(planner, qPrintable(seen(p)));

        // Saves the shown plan with the button's accelerator and its file
        // dialog (renamed into place whole); empty when no dialog came, as
        // while the plan is still being computed and the button is disabled.
        const auto save = [&](const QString &key, const QString &title, const QString &name) {
            const QString path = p.filePath(name);
            QFile::remove(path);
            if (!m_x.activate(planner) || !m_x.keys({key}))
                return QByteArray();
            const WindowId dialog = m_x.waitForWindow(p.pid(), title, 2000);
            if (!dialog || !m_x.activate(dialog) || !m_x.keys(typing(name) << "Return"))
                return QByteArray();
            desktop::waitFor([&] { return QFileInfo(path).size() > 0; });
            return ReadFile(path);
        };
        const auto plannedLabels = [&](const QString &name) {
            QStringList labels;
            const QList<QByteArray> lines = save("alt+c", QStringLiteral("CSV保存"), name).split('\n');
            for (const QByteArray &line : lines.mid(1))
                if (!line.trimmed().isEmpty())
                    labels << QString::fromUtf8(line.split(',').value(2));
            labels.sort();
            return labels;
        };
        // Typed in, although 4S1P x 1 is what the dialog starts with.
        QVERIFY(m_x.activate(planner));
        QVERIFY(m_x.keys({"alt+s", "ctrl+a", "4", "alt+p", "ctrl+a", "1", "alt+k", "ctrl+a", "1", "alt+r"}));
        const QStringList closest{"E-1", "E-2", "E-5", "E-6"};
        QStringList labels;
        QVERIFY2(desktop::waitFor([&] {
            labels = plannedLabels(QStringLiteral("plan.csv"));
            return labels == closest;
        }),
            qPrintable(labels.join(' ') + " / " + seen(p)));

        // The PDF to take to the bench, read by poppler.
        QVERIFY(!save("alt+d", QStringLiteral("PDF保存"), QStringLiteral("plan.pdf")).isEmpty());
        QProcess pdftotext;
        pdftotext.start(QStringLiteral("pdftotext"), {p.filePath(QStringLiteral("plan.pdf")), QStringLiteral("-")});
        QVERIFY(pdftotext.waitForFinished(desktop::TimeoutMs));
        const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput());
        for (const QString &label : closest)
            QVERIFY2(text.contains(label), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("組電池の設計")), qPrintable(text));

        // 組込み記録: the pack's name typed into the question, Enter.
        QVERIFY(m_x.activate(planner) && m_x.keys({"alt+a"}));
        const WindowId ask = m_x.waitForWindow(p.pid(), QStringLiteral("組込み記録"));
        QVERIFY2(ask, qPrintable(seen(p)));
        QVERIFY(m_x.activate(ask) && m_x.keys(typing(QStringLiteral("tool-4s")) << "Return"));
        QVERIFY(desktop::waitFor([&] { return !m_x.isViewable(ask); }));

        // The next plan is made of the four left.
        const QStringList rest{"E-3", "E-4", "E-7", "E-8"};
        QVERIFY2(desktop::waitFor([&] {
            m_x.activate(planner);
            m_x.keys({"alt+r"});
            labels = plannedLabels(QStringLiteral("next.csv"));
            return labels == rest;
        }),
            qPrintable(labels.join(' ') + " / " + seen(p)));

        QVERIFY(m_x.activate(planner) && m_x.keys({"Escape"}));
        QVERIFY(desktop::waitFor([&] { return !m_x.isViewable(planner); }));
        QVERIFY(m_x.isViewable(ledger));
        QVERIFY(closeProgram(p, main));
    }

    // 測定の入力 from セル台帳 by its accelerator, typed into as a scanner types:
    // a label and Enter, the meter's value and Enter, the next cell. The セル
    // tab's CSV then has each cell's internal resistance, read from the library.
    void measureByScannerKeys()
    {
        desktop::Program p(m_x);
        WindowId main = 0, bays = 0;
        startWithCellsInLibrary(p, QStringLiteral("e-1 e-2 e-3 e-4"), main, bays);
        QVERIFY2(main && bays, qPrintable(seen(p) + p.output()));
        const WindowId ledger = openWith(p, main, {"alt+v", "b"}, QStringLiteral("セル台帳"));
        QVERIFY2(ledger, qPrintable(seen(p)));
        const WindowId measure = openWith(p, ledger, {"alt+m"}, QStringLiteral("測定の入力"));
        QVERIFY2(measure, qPrintable(seen(p)));
        QVERIFY(m_x.keys(typing(QStringLiteral("e-2")) << "Return"));
        QVERIFY(m_x.keys(typing(QStringLiteral("23.5")) << "Return"));
        QVERIFY(m_x.keys(typing(QStringLiteral("e-4")) << "Return"));
        QVERIFY(m_x.keys(typing(QStringLiteral("41")) << "Return"));
        QVERIFY(m_x.keys({"Escape"}));
        QVERIFY(desktop::waitFor([&] { return !m_x.isViewable(measure); }));

        const auto resistances
            = [&] { return columnPairs(saveCsv(p, ledger, QStringLiteral("cells.csv")), "ラベル", "内部抵抗(mΩ)"); };
        const QStringList expected{"e-1=", "e-2=23.5", "e-3=", "e-4=41.0"};
        QStringList found;
        QVERIFY2(desktop::waitFor([&] {
            found = resistances();
            return found == expected;
        }),
            qPrintable(found.join(' ') + " / " + seen(p)));
        QVERIFY(closeProgram(p, main));
    }

    // kill -9 a few seconds after typing a note: at the next start "はい" brings
    // the note back after what had been received, then the 再開 line. Read back
    // from the new run's snapshot, which the recovery writes at once.
    void killAfterTyping()
    {
        desktop::Program p(m_x);
        p.writeIni(ini(""));
        const QDir logs(QFileInfo(p.writeFile(QStringLiteral("x.txt"), "")).absolutePath() + QStringLiteral("/logs"));
        const auto paneWith = [&](const QList<QByteArray> &parts, const QStringList &except) {
            for (const QString &name : logs.entryList({QStringLiteral("*.pane")}, QDir::Files)) {
                if (except.contains(name))
                    continue;
                const QByteArray text = ReadFile(logs.filePath(name));
                qsizetype at = 0;
                bool inOrder = true;
                for (const QByteArray &part : parts) {
                    at = text.indexOf(part, at);
                    inOrder = inOrder && at >= 0;
                }
                if (inOrder)
                    return name;
            }
            return QString();
        };
        WindowId main = startProgram(p);
        QVERIFY2(main, qPrintable(seen(p) + p.output()));
        QVERIFY(m_com1->writeAll("received before\r\n"));
        // In the journal, then in the pane in the same turn of the program's loop: the note goes after it.
        QVERIFY(desktop::waitFor([&] {
            for (const QString &name : logs.entryList({QStringLiteral("*.log")}, QDir::Files))
                if (ReadFile(logs.filePath(name)).contains("received before"))
                    return true;
            return false;
        }));
        QVERIFY(m_x.activate(main));
        QVERIFY(m_x.click(main, 120, 250)); // into the pane, below the text
        QVERIFY(m_x.keys({"n", "o", "t", "e", "Return"}));
        QString killed;
        QVERIFY2(desktop::waitFor([&] {
            killed = paneWith({"received before", "note"}, {});
            return !killed.isEmpty();
        }),
            qPrintable(logs.entryList().join(QLatin1Char(' '))));
        QVERIFY(p.pid() > 0);
        ::kill(pid_t(p.pid()), SIGKILL);
        QVERIFY(p.waitForExit());

        main = 0;
        QVERIFY(p.start());
        // The question is titled like the main window and comes while that one
        // is being shown: the smaller of the two.
        WindowId box = 0;
        QVERIFY2(desktop::waitFor([&] {
            for (WindowId w : m_x.clients())
                if (m_x.pid(w) == p.pid() && m_x.isViewable(w) && m_x.title(w) == MainTitle
                    && m_x.clientRect(w).height() < 300)
                    box = w;
            return box != 0;
        }),
            qPrintable(seen(p)));
        QVERIFY(m_x.activate(box));
        QVERIFY(m_x.keys({"Return"})); // はい
        QVERIFY2(desktop::waitFor([&] {
            return !paneWith({"received before", "note", sjis::encode(QStringLiteral("---- 再開 "))}, {killed})
                        .isEmpty();
        }),
            qPrintable(logs.entryList().join(QLatin1Char(' '))));
        QVERIFY(desktop::waitFor([&] {
            for (WindowId w : m_x.clients())
                if (m_x.pid(w) == p.pid() && m_x.isViewable(w) && m_x.title(w) == MainTitle && w != box)
                    main = w;
            return main != 0;
        }));
        QVERIFY(closeProgram(p, main));
        // Closed the normal way: no marker left of this run; its pane, written
        // in by the recovery, stays beside its journal with the note.
        QCOMPARE(logs.entryList({QStringLiteral("*.run")}, QDir::Files), QStringList());
        const QStringList panes = logs.entryList({QStringLiteral("*.pane")}, QDir::Files);
        QCOMPARE(panes.size(), 1);
        QVERIFY(ReadFile(logs.filePath(panes.first())).contains("note"));
    }

    // "voltrak FILE" (the file manager's "open with") opens FILE into the log
    // pane: 描画 finds its table straight away.
    void fileFromCommandLine()
    {
        desktop::Program p(m_x);
        p.writeIni(ini(""));
        const QString log = p.writeFile(QStringLiteral("run.log"), "2006/03/02 07:05\r\n" + dischargeTable());
        const WindowId main = startProgram(p, {log});
        QVERIFY2(main, qPrintable(seen(p) + p.output()));
        const WindowId parag = openWith(p, main, {"alt+s", "g"}, QStringLiteral("グラフの設定"));
        QVERIFY2(parag, qPrintable(seen(p)));
        QVERIFY(m_x.activate(parag));
        QVERIFY(m_x.click(parag, 184, 444));
        QVERIFY2(m_x.waitForWindow(p.pid(), QStringLiteral("電圧変化グラフ")), qPrintable(seen(p)));
        QVERIFY(!m_x.titlesOf(p.pid()).contains(Warning));
        QVERIFY(closeProgram(p, main));
    }

    // The main window's outer size is Wmain x Hmain with the frame, whatever
    // shows it, and a size the user gives comes back the same at the next run.
    void mainWindowSizeAcrossRestart()
    {
        desktop::Program p(m_x);
        p.writeIni(ini("Wmain=300\r\nHmain=420\r\n"));
        WindowId main = startProgram(p);
        QVERIFY2(main, qPrintable(seen(p) + p.output()));
        QVERIFY(desktop::waitFor([&] { return m_x.hasFrameExtents(main); }));
        desktop::waitFor([&] { return m_x.outerRect(main).size() == QSize(300, 420); });
        QCOMPARE(m_x.outerRect(main).size(), QSize(300, 420));

        // A dialog's show pushes the settings again: the size stays.
        const WindowId comch = openWith(p, main, {"alt+s", "c"}, QStringLiteral("RS232C通信ch設定"));
        QVERIFY2(comch, qPrintable(seen(p)));
        QCOMPARE(m_x.outerRect(main).size(), QSize(300, 420));
        QVERIFY(m_x.keys({"Escape"}));
        QVERIFY(desktop::waitFor([&] { return !m_x.isViewable(comch); }));

        // The user makes it larger.
        QVERIFY(m_x.resizeClient(main, 350, 450));
        QVERIFY(desktop::waitFor([&] { return m_x.clientRect(main).size() == QSize(350, 450); }));
        const QSize outer = m_x.outerRect(main).size();
        QVERIFY(outer != QSize(350, 450)); // the frame is counted
        QVERIFY(closeProgram(p, main));
        QCOMPARE(QSize(p.iniValue("Wmain"), p.iniValue("Hmain")), outer);

        // Closed, reopened, closed: the same numbers.
        main = startProgram(p);
        QVERIFY2(main, qPrintable(seen(p) + p.output()));
        desktop::waitFor([&] { return m_x.hasFrameExtents(main) && m_x.outerRect(main).size() == outer; });
        QCOMPARE(m_x.outerRect(main).size(), outer);
        QVERIFY(closeProgram(p, main));
        QCOMPARE(QSize(p.iniValue("Wmain"), p.iniValue("Hmain")), outer);
    }

    // 492 x 277 with its frame, centred over the main window.
    void aboutWindowSizeAndPlace()
    {
        desktop::Program p(m_x);
        p.writeIni(ini(""));
        const WindowId main = startProgram(p);
        QVERIFY2(main, qPrintable(seen(p) + p.output()));
        const WindowId about = openWith(p, main, {"alt+h", "a"}, QStringLiteral("バージョン情報+使用方法"));
        QVERIFY2(about, qPrintable(seen(p)));
        const QRect over = m_x.outerRect(main);
        const QRect wanted(
            over.topLeft() + QPoint((over.width() - 492) / 2, (over.height() - 277) / 2), QSize(492, 277));
        desktop::waitFor([&] { return m_x.hasFrameExtents(about) && m_x.outerRect(about) == wanted; });
        QCOMPARE(m_x.outerRect(about), wanted);
        QVERIFY(closeProgram(p, main));
    }

    // Keys in each dialog. Steps: "key:K1 K2" to the dialog, "click:x,y" in
    // it, "warning" answers the warning box with Enter, "hidden" waits until
    // the dialog is hidden, "shown" checks it still is. Then the program is
    // closed and the settings file must hold the expected value.
    void dialogKeys_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("menu");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<int>("value");
        const QStringList comch{"alt+s", "c"}, param{"alt+s", "v"}, parag{"alt+s", "g"}, about{"alt+h", "a"};
        const QString comchTitle = QStringLiteral("RS232C通信ch設定");
        const QString paramTitle = QStringLiteral("放電器の設定");
        const QString paragTitle = QStringLiteral("グラフの設定");
        QTest::newRow("channel: Enter in the field applies")
            << QByteArray() << comch << comchTitle << QStringList{"key:ctrl+a 2 Return", "hidden"}
            << QByteArray("Comch") << 2;
        QTest::newRow("channel: Enter on a focused キャンセル cancels")
            << QByteArray() << comch << comchTitle << QStringList{"key:ctrl+a 2 Tab Tab Return", "hidden"}
            << QByteArray("Comch") << 1;
        QTest::newRow("channel: Enter on a focused 設定 applies")
            << QByteArray() << comch << comchTitle << QStringList{"key:ctrl+a 2 Tab Return", "hidden"}
            << QByteArray("Comch") << 2;
        QTest::newRow("channel: Escape cancels")
            << QByteArray() << comch << comchTitle << QStringList{"key:ctrl+a 2 Escape", "hidden"}
            << QByteArray("Comch") << 1;
        QTest::newRow("channel: Alt+H in the field changes nothing")
            << QByteArray("Comch=2\r\n") << comch << comchTitle << QStringList{"key:End alt+h Return", "hidden"}
            << QByteArray("Comch") << 2;
        QTest::newRow("discharger: Alt+H changes nothing, Enter presses 設定")
            << QByteArray("Vstop=120\r\n") << param << paramTitle
            << QStringList{"key:End alt+h alt+v Return", "warning", "shown"} << QByteArray("Vstop") << 120;
        QTest::newRow("discharger: Escape cancels")
            << QByteArray("Vstop=120\r\n") << param << paramTitle << QStringList{"key:ctrl+a 9 0 Escape", "hidden"}
            << QByteArray("Vstop") << 120;
        QTest::newRow("graph settings: Alt+H changes nothing, Escape does not hide")
            << QByteArray("Gtmax=200\r\n") << parag << paragTitle
            << QStringList{"key:End alt+h alt+g Tab Escape", "click:184,444", "warning", "shown", "click:72,444",
                   "hidden"}
            << QByteArray("Gtmax") << 200;
        QTest::newRow("about: Enter is OK") << QByteArray() << about << QStringLiteral("バージョン情報+使用方法")
                                            << QStringList{"key:Return", "hidden"} << QByteArray("Comch") << 1;
    }
    void dialogKeys()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, menu);
        QFETCH(QString, title);
        QFETCH(QStringList, steps);
        QFETCH(QByteArray, key);
        QFETCH(int, value);
        desktop::Program p(m_x);
        p.writeIni(ini(settings));
        const WindowId main = startProgram(p);
        QVERIFY2(main, qPrintable(seen(p) + p.output()));
        const WindowId dialog = openWith(p, main, menu, title);
        QVERIFY2(dialog, qPrintable(seen(p)));
        for (const QString &step : steps) {
            if (step.startsWith(QLatin1String("key:"))) {
                QVERIFY(m_x.activate(dialog));
                QVERIFY(m_x.keys(step.mid(4).split(QLatin1Char(' '))));
            } else if (step.startsWith(QLatin1String("click:"))) {
                const QStringList xy = step.mid(6).split(QLatin1Char(','));
                QVERIFY(m_x.activate(dialog));
                QVERIFY(m_x.click(dialog, xy.at(0).toInt(), xy.at(1).toInt()));
            } else if (step == QLatin1String("warning")) {
                QVERIFY2(answerWarning(p), qPrintable(step + QLatin1Char(' ') + seen(p)));
            } else if (step == QLatin1String("hidden")) {
                QVERIFY2(desktop::waitFor([&] { return !m_x.isViewable(dialog); }), qPrintable(seen(p)));
            } else if (step == QLatin1String("shown")) {
                QVERIFY2(m_x.isViewable(dialog), qPrintable(seen(p)));
            }
        }
        QVERIFY(closeProgram(p, main));
        QCOMPARE(p.iniValue(key), value);
    }
};

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"
