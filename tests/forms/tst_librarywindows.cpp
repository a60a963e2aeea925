// The cell library's windows on a real library file: 装着セル typed into as a
// barcode scanner types, セル台帳's columns, sorting, filter, renaming, in-place
// bay labels, deleting runs and the main window's warning for a library that
// cannot be opened.
#include "core/FileWriter.h"
#include "core/IniFile.h"
#include "core/JournalCells.h"
#include "core/Settings.h"
#include "forms/Forms.h"
#include "forms/Ubays.h"
#include "forms/Ucellinfo.h"
#include "forms/Ucompare.h"
#include "forms/Ugradelimits.h"
#include "forms/Ulibrary.h"
#include "forms/Upackplan.h"
#include "forms/Urunparam.h"
#include "forms/Uvoltrak.h"
#include "journal/Journal.h"
#include "library/Capture.h"
#include "library/Library.h"
#include "library/LibraryModels.h"
#include "library/LibraryService.h"
#include "library/LogImport.h"
#include "library/Packs.h"
#include "serial/Commx.h"
#include "tests/support/PtyHelpers.h"
#include "tests/support/TestFiles.h"
#include "widgets/Chart.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/Fonts.h"
#include "widgets/FrozenTableView.h"
#include "widgets/LogPane.h"
#include "widgets/NumericField.h"
#include "widgets/RadioGroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

// A table whose bay j discharges for 40 + 10 j + step counts: every step gives
// other capacities, so other rows and another run.
QList<QByteArray> tableRows(int step)
{
    QList<QByteArray> rows;
    for (int r = 0; r <= 8; ++r) {
        QByteArray row = "1." + QByteArray::number(40 - 5 * r).rightJustified(2, '0') + "V";
        for (int j = 0; j < 4; ++j)
            row += ' ' + QByteArray::number(r * (40 + 10 * j + step) / 8);
        rows << row;
    }
    return rows;
}

QByteArray dumpBytes(int step)
{
    QByteArray t = "Bat-V Bat1 Bat2 Bat3 Bat4\r\n";
    for (const QByteArray &r : tableRows(step))
        t += r + "\r\n";
    return t + "End\r\n";
}

library::RunInput run(int step, const QStringList &labels, const QDateTime &when)
{
    library::RunInput in;
    in.when = when;
    in.source = library::ReceivedSource(1);
    in.rows = tableRows(step);
    for (int i = 0; i < library::BayCount && i < labels.size(); ++i)
        in.labels[i] = labels.at(i);
    return in;
}

QStringList columnTexts(const QAbstractItemModel *m, int c)
{
    QStringList out;
    for (int r = 0; r < m->rowCount(); ++r)
        out << m->index(r, c).data().toString();
    return out;
}

} // namespace

class TestLibraryWindows : public QObject
{
    Q_OBJECT
    QStringList m_boxes;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<library::LibraryService> m_service;
    // The test's own connection to the same file, for what the windows do not
    // do themselves (setting up cells, reading back what was stored).
    std::unique_ptr<library::Library> m_direct;
    FileWriter m_files;
    const QDateTime m_t0{QDate(2026, 11, 1), QTime(9, 0)};

    // Until the worker has nothing left and every answer it sent has been
    // handled (an answer may ask for more work).
    void settle()
    {
        for (int i = 0; i < 20; ++i) {
            m_service->waitForIdle();
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
        m_service->waitForIdle();
    }

    // Recorded before the test's own connection looks at the file.
    void record(const library::RunInput &in)
    {
        m_service->record(in);
        settle();
    }

    void setCell(const QString &label, const QString &model, double nominal, const QString &memo, bool retired)
    {
        {
            library::Library &lib = direct();
            library::CellInfo info = lib.cell(lib.ensureCell(label));
            info.model = model;
            info.hasNominal = nominal > 0;
            info.nominalMah = nominal;
            info.memo = memo;
            info.state = retired ? library::CellState::Retired : library::CellState::InUse;
            lib.updateCell(info);
        }
    }

    // Four cells with 1, 2, 3 and 0 runs; E-2 has a nominal, E-4 is retired.
    void fillLibrary()
    {
        record(run(0, {"E-1", "E-2", "E-10", ""}, m_t0));
        record(run(30, {"E-2", "E-10", "", ""}, m_t0.addDays(1)));
        record(run(60, {"E-10", "", "", ""}, m_t0.addDays(2)));
        setCell("E-2", "HR-3UTG", 2000, "from the blue pack", false);
        setCell("E-4", "eneloop", 0, "", true);
        settle();
    }

    std::unique_ptr<Tlibrary> shownLibrary()
    {
        auto w = std::make_unique<Tlibrary>(m_service.get(), &m_files);
        w->IniPath = m_dir->filePath("voltrak.ini");
        w->show();
        if (!QTest::qWaitForWindowActive(w.get()))
            qWarning("the library window did not become active");
        settle();
        return w;
    }

    // Gives the cell a nominal capacity at which its latest run is fraction
    // of it; 0 takes the nominal away.
    void setHealth(const QString &label, double fraction)
    {
        // The runs recorded through the service first: their latest capacity is what the nominal follows.
        settle();
        {
            library::Library &lib = direct();
            const qint64 id = lib.ensureCell(label);
            library::CellInfo info = lib.cell(id);
            double latest = 0;
            for (const library::CellSummary &s : lib.cellSummaries())
                if (s.info.id == id)
                    latest = s.latestMah;
            info.hasNominal = fraction > 0;
            info.nominalMah = fraction > 0 ? latest / fraction : 0.0;
            lib.updateCell(info);
        }
    }

    // The cell's row chosen and double-clicked; セルの情報 answers with the new label.
    static bool renameByDoubleClick(Tlibrary &w, const QString &label, const QString &newLabel)
    {
        w.CellDialog = [newLabel](library::CellInfo &info) {
            info.label = newLabel;
            return true;
        };
        const int row = columnTexts(w.cellView->model(), library::CellLabel).indexOf(label);
        if (row < 0)
            return false;
        const QModelIndex at = w.cellView->model()->index(row, 0);
        QTest::mouseClick(w.cellView->viewport(), Qt::LeftButton, {}, w.cellView->visualRect(at).center());
        QTest::mouseDClick(w.cellView->viewport(), Qt::LeftButton, {}, w.cellView->visualRect(at).center());
        return true;
    }

    qint64 cellId(const QString &label)
    {
        settle();
        return direct().ensureCell(label);
    }

    library::CellInfo storedCell(const QString &label)
    {
        settle();
        return direct().cell(direct().ensureCell(label));
    }

    library::Library &direct()
    {
        if (!m_direct)
            m_direct = std::make_unique<library::Library>(m_dir->filePath("library.sqlite"));
        return *m_direct;
    }

    static QStringList shownLabels(const Tlibrary &w)
    {
        QStringList labels;
        for (const library::CellSummary &s : w.shownCells())
            labels << s.info.label;
        return labels;
    }

    QList<library::RunRow> storedRuns()
    {
        settle();
        return direct().runs();
    }

private slots:
    void initTestCase()
    {
        fonts::InstallSubstitutions();
        errors::SetBoxHook(
            [this](errors::BoxKind, const QString &title, const QString &text) { m_boxes << title + '|' + text; });
        settings::ResetToDefaults();
    }

    void init()
    {
        m_boxes.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        m_service = std::make_unique<library::LibraryService>(m_dir->filePath("library.sqlite"));
        settle();
    }

    void cleanup()
    {
        m_direct.reset();
        m_service.reset();
        m_dir.reset();
    }

    // A scanner types each label and Enter: the four bays fill in a row, the
    // completion list never replaces what was typed, and after Bat4 the next
    // set starts at Bat1. The next captured run gets the labels.
    void scannerFillsTheFourBays_data()
    {
        QTest::addColumn<QStringList>("known");
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QStringList>("labels");
        QTest::newRow("four new labels") << QStringList() << QStringList{"A-1", "A-2", "A-3", "A-4"}
                                         << QStringList{"A-1", "A-2", "A-3", "A-4"};
        QTest::newRow("a label that begins a known one stays as typed") << QStringList{"E-012",
            "E-0123"} << QStringList{"E-01", "E-012", "e-0", "X"} << QStringList{"E-01", "E-012", "e-0", "X"};
        QTest::newRow("blanks around a label are not part of it")
            << QStringList() << QStringList{" B-1", "B-2  ", "B-3", "B-4"} << QStringList{"B-1", "B-2", "B-3", "B-4"};
        QTest::newRow("an empty bay stays unassigned")
            << QStringList() << QStringList{"C-1", "", "C-3", ""} << QStringList{"C-1", "", "C-3", ""};
    }
    void scannerFillsTheFourBays()
    {
        QFETCH(QStringList, known);
        QFETCH(QStringList, typed);
        QFETCH(QStringList, labels);
        for (const QString &k : known)
            direct().ensureCell(k);
        settle();
        library::BayAssignment assignment;
        Tbays bays(&assignment, m_service.get());
        bays.show();
        QVERIFY(QTest::qWaitForWindowActive(&bays));
        settle();
        QCOMPARE(bays.completions(), known);
        QCOMPARE(QApplication::focusWidget(), bays.bayEdits[0]);
        for (const QString &t : typed) {
            QWidget *field = QApplication::focusWidget();
            QTest::keyClicks(field, t);
            QTest::keyClick(field, Qt::Key_Return);
        }
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(bays.bayEdits[i]->text().trimmed(), labels.at(i));
            QCOMPARE(assignment.label(i + 1), labels.at(i));
        }
        QCOMPARE(QApplication::focusWidget(), bays.bayEdits[0]);
        QVERIFY(bays.isVisible());

        Tlibrary ledger(m_service.get(), &m_files);
        ledger.IniPath = m_dir->filePath("voltrak.ini");
        ledger.show();
        settle();
        QCOMPARE(ledger.runView->model()->rowCount(), 0);
        // The discharger dumps a table: the run has those cells.
        library::LiveCapture capture(
            m_service.get(), &assignment, [this] { return m_t0; }, [] { return analysis::CapacityParameters(); },
            [] { return 1; });
        capture.feed(dumpBytes(0));
        settle();
        const QList<library::RunRow> runs = storedRuns();
        QCOMPARE(runs.size(), 1);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(runs.first().bays[i].label, labels.at(i));
        QCOMPARE(bays.statusLabel->text(), QStringLiteral("記録しました: 2026/11/01 09:00:00"));
        QCOMPARE(ledger.statusLabel->text(), QStringLiteral("記録しました: 2026/11/01 09:00:00"));
        // The open ledger shows the run without being asked.
        QCOMPARE(ledger.runView->model()->rowCount(), 1);
        QCOMPARE(ledger.runView->model()->index(0, library::LabelColumn(1)).data().toString(), labels.first());
        // The labels just made are offered from now on.
        QVERIFY(bays.completions().contains(labels.first()));
    }

    // A cell is in one bay: the second bay typed with its label is refused
    // where it is typed, Enter stays there, and the next label replaces it.
    void sameCellInTwoBaysRefused_data()
    {
        QTest::addColumn<QString>("again");
        QTest::addColumn<QString>("message");
        QTest::newRow("the same label") << "D-1"
                                        << "D-1 は Bat1 に装着されています";
        QTest::newRow("with blanks around it") << " D-1 "
                                               << "D-1 は Bat1 に装着されています";
    }
    void sameCellInTwoBaysRefused()
    {
        QFETCH(QString, again);
        QFETCH(QString, message);
        library::BayAssignment assignment;
        Tbays bays(&assignment, m_service.get());
        bays.show();
        QVERIFY(QTest::qWaitForWindowActive(&bays));
        QTest::keyClicks(QApplication::focusWidget(), "D-1");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClicks(QApplication::focusWidget(), again);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(bays.statusLabel->text(), message);
        QCOMPARE(assignment.label(2), QString());
        QCOMPARE(assignment.assignedCount(), 1);
        QCOMPARE(QApplication::focusWidget(), bays.bayEdits[1]);
        QCOMPARE(bays.bayEdits[1]->text(), again);

        // Recorded meanwhile: bay 2 goes to no cell.
        library::LiveCapture capture(
            m_service.get(), &assignment, [this] { return m_t0; }, [] { return analysis::CapacityParameters(); },
            [] { return 1; });
        capture.feed(dumpBytes(0));
        settle();
        QCOMPARE(storedRuns().first().bays[1].label, QString());

        QTest::keyClicks(QApplication::focusWidget(), "D-2");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(assignment.label(2), QStringLiteral("D-2"));
        QVERIFY(!bays.statusLabel->text().contains(QStringLiteral("装着されています")));
        QCOMPARE(QApplication::focusWidget(), bays.bayEdits[2]);
    }

    // A captured table gets its bays written into the log above its header,
    // in the import's own form: the saved log imported into a new library
    // gives the same cells in the same bays.
    void capturedLabelsTravelWithTheLog_data()
    {
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<int>("dumps"); // the same table dumped this many times
        QTest::addColumn<int>("cellsLines");
        QTest::newRow("four cells") << QStringList{"T-1", "T-2", "T-3", "T-4"} << 1 << 1;
        QTest::newRow("an empty bay") << QStringList{"T-1", "", "T-3", "T-4"} << 1 << 1;
        QTest::newRow("dumped twice") << QStringList{"T-1", "T-2", "T-3", "T-4"} << 2 << 2;
        QTest::newRow("no cells: no line") << QStringList{"", "", "", ""} << 1 << 0;
        QTest::newRow("a label with a blank: no line") << QStringList{"T 1", "T-2", "", ""} << 1 << 0;
    }
    void capturedLabelsTravelWithTheLog()
    {
        QFETCH(QStringList, labels);
        QFETCH(int, dumps);
        QFETCH(int, cellsLines);
        LogPane pane;
        pane.appendReceived("2026/11/01 09:00\r\nsome earlier line\r\n");
        library::BayAssignment assignment;
        for (int b = 0; b < 4; ++b)
            assignment.setLabel(b + 1, labels.at(b));
        library::LiveCapture capture(
            m_service.get(), &assignment, [this] { return m_t0; }, [] { return analysis::CapacityParameters(); },
            [] { return 1; });
        connect(&capture, &library::LiveCapture::captured, &pane, [&pane](const library::RunInput &run) {
            if (const auto place = library::PlaceCellsLine(pane, run))
                pane.insertLineAbove(place->line, place->text);
        });
        for (int d = 0; d < dumps; ++d) {
            pane.appendReceived(dumpBytes(0));
            capture.feed(dumpBytes(0));
        }
        settle();
        int found = 0;
        for (int i = 0; i < pane.lineCount(); ++i) {
            QString parsed[library::BayCount];
            if (library::ParseCellsLine(pane.line(i), parsed)) {
                ++found;
                QCOMPARE(pane.line(i + 1), QByteArray("Bat-V Bat1 Bat2 Bat3 Bat4"));
            }
        }
        QCOMPARE(found, cellsLines);

        const QString saved = m_dir->filePath("saved.log");
        pane.saveFile(saved);
        library::Library fresh(m_dir->filePath("fresh.sqlite"));
        const library::ImportSummary s = fresh.importFiles({saved}, {}, {}, nullptr);
        QCOMPARE(s.newRuns, 1);
        const library::RunRow imported = fresh.runs().first();
        for (int b = 0; b < 4; ++b)
            QCOMPARE(imported.bays[b].label, cellsLines > 0 ? labels.at(b) : QString());
    }

    // Escape closes 装着セル without what was typed and not taken: the bay
    // holds again what it held, and the field shows it when the window opens
    // again. Enter or a field left by Tab take the text; a label refused as
    // another bay's is dropped too.
    void escapeDropsWhatWasNotTaken_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("then"); // "", "Return", "Tab"
        QTest::addColumn<QString>("kept"); // bay 2 after Escape and in the field when it opens again
        QTest::newRow("half typed") << "G-1"
                                    << ""
                                    << "F-2";
        QTest::newRow("taken with Enter") << "G-1"
                                          << "Return"
                                          << "G-1";
        QTest::newRow("taken by Tab") << "G-1"
                                      << "Tab"
                                      << "G-1";
        QTest::newRow("refused: another bay's") << "F-1"
                                                << "Return"
                                                << "F-2";
    }
    void escapeDropsWhatWasNotTaken()
    {
        QFETCH(QString, typed);
        QFETCH(QString, then);
        QFETCH(QString, kept);
        library::BayAssignment assignment;
        assignment.setLabel(1, "F-1");
        assignment.setLabel(2, "F-2");
        Tbays bays(&assignment, m_service.get());
        bays.show();
        QVERIFY(QTest::qWaitForWindowActive(&bays));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // Bat1 taken as it is
        QCOMPARE(QApplication::focusWidget(), bays.bayEdits[1]);
        QTest::keyClick(bays.bayEdits[1], Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(bays.bayEdits[1], typed);
        if (then == "Return")
            QTest::keyClick(bays.bayEdits[1], Qt::Key_Return);
        else if (then == "Tab")
            QTest::keyClick(bays.bayEdits[1], Qt::Key_Tab);
        // What a run would get meanwhile is what the field shows.
        QCOMPARE(assignment.label(2), typed == "F-1" ? QString() : typed);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!bays.isVisible());
        QCOMPARE(assignment.label(1), QStringLiteral("F-1"));
        QCOMPARE(assignment.label(2), kept);
        bays.show();
        QVERIFY(QTest::qWaitForWindowActive(&bays));
        QCOMPARE(bays.bayEdits[1]->text(), kept);
        QCOMPARE(bays.statusLabel->text(), QString());
    }

    // The labels stay for the run after; a changed field changes only its bay;
    // クリア empties all four, and Escape closes the window.
    void labelsStayUntilChanged()
    {
        library::BayAssignment assignment;
        Tbays bays(&assignment, m_service.get());
        bays.show();
        QVERIFY(QTest::qWaitForWindowActive(&bays));
        for (const char *label : {"K-1", "K-2", "K-3", "K-4"}) {
            QTest::keyClicks(QApplication::focusWidget(), label);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        }
        QDateTime now = m_t0;
        library::LiveCapture capture(
            m_service.get(), &assignment, [&now] { return now; }, [] { return analysis::CapacityParameters(); },
            [] { return 1; });
        capture.feed(dumpBytes(0));
        now = m_t0.addSecs(3600);
        capture.feed(dumpBytes(20));
        // A second dump of the same table is no new run.
        capture.feed(dumpBytes(20));
        settle();
        QCOMPARE(bays.statusLabel->text(), QStringLiteral("記録済みです: 2026/11/01 10:00:00"));
        // Bat2 scanned again with another cell (its text replaced).
        QTest::keyClick(bays.bayEdits[0], Qt::Key_Return);
        // Alt+V meant for the main window's menu types nothing into the field.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::AltModifier);
        QCOMPARE(bays.bayEdits[1]->text(), QStringLiteral("K-2"));
        QTest::keyClicks(QApplication::focusWidget(), "K-9");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        capture.feed(dumpBytes(40));
        settle();
        const QList<library::RunRow> runs = storedRuns(); // newest first
        QCOMPARE(runs.size(), 3);
        QStringList seen;
        for (const library::RunRow &r : runs)
            seen << QStringList{r.bays[0].label, r.bays[1].label, r.bays[2].label, r.bays[3].label}.join(',');
        QCOMPARE(seen, (QStringList{"K-1,K-9,K-3,K-4", "K-1,K-2,K-3,K-4", "K-1,K-2,K-3,K-4"}));

        bays.clearButton->click();
        for (int i = 1; i <= 4; ++i)
            QCOMPARE(assignment.label(i), QString());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!bays.isVisible());
    }

    // Every column of both tabs in order, and numeric order where text order
    // would differ ("1000" before "85"); figures a cell does not have come first.
    void columnsAndNumericSort_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("ascending");
        // Capacities grow with the step and the bay: E-10 (bays 3, 2, 1 of
        // steps 0, 30, 60) is largest first and smallest last.
        QTest::newRow("cells by 回数") << 0 << int(library::CellRuns) << QStringList{"0", "1", "2", "3"};
        QTest::newRow("cells by label") << 0 << int(library::CellLabel) << QStringList{"E-1", "E-10", "E-2", "E-4"};
        QTest::newRow("cells by 公称") << 0 << int(library::CellNominal) << QStringList{"", "", "", "2000.0"};
        QTest::newRow("runs by 日時") << 1 << int(library::RunWhen)
                                      << QStringList{"2026/11/01 09:00", "2026/11/02 09:00", "2026/11/03 09:00"};
        QTest::newRow("runs by Bat3 label") << 1 << library::LabelColumn(3) << QStringList{"", "", "E-10"};
    }
    void columnsAndNumericSort()
    {
        QFETCH(int, tab);
        QFETCH(int, column);
        QFETCH(QStringList, ascending);
        fillLibrary();
        auto w = shownLibrary();
        w->showRetiredCheck->setChecked(true);
        QStringList titles;
        QTableView *view = tab == 0 ? w->cellView : w->runView;
        for (int c = 0; c < view->model()->columnCount(); ++c)
            titles << view->model()->headerData(c, Qt::Horizontal).toString();
        if (tab == 0)
            QCOMPARE(titles,
                (QStringList{"ラベル", "型番", "公称(mAh)", "回数", "最新(mAh)", "最大(mAh)", "初回(mAh)", "劣化(%)",
                    "健全度(%)", "平均電圧(V)", "内部抵抗(mΩ)", "自己放電(mV/日)", "最終測定", "状態", "判定",
                    "曲線差(分)"}));
        else
            QCOMPARE(titles,
                (QStringList{"日時", "出典", "時間軸", "Bat1", "Bat1(mAh)", "Bat2", "Bat2(mAh)", "Bat3", "Bat3(mAh)",
                    "Bat4", "Bat4(mAh)"}));
        w->tabs->setCurrentIndex(tab);
        view->horizontalHeader()->setSortIndicator(column, Qt::AscendingOrder);
        QCOMPARE(columnTexts(view->model(), column), ascending);
        view->horizontalHeader()->setSortIndicator(column, Qt::DescendingOrder);
        std::reverse(ascending.begin(), ascending.end());
        QCOMPARE(columnTexts(view->model(), column), ascending);
    }

    // Capacity columns sort as numbers: built so that text order differs.
    void capacitySortsAsNumbers()
    {
        // Bay 1 of step 0 gives about 85 mAh at 1 ohm; a 10 ohm resistor one
        // tenth; steps far apart give four digits.
        library::RunInput a = run(0, {"S-small"}, m_t0);
        a.parameters.Hteiko = 1000;
        library::RunInput b = run(0, {"S-mid"}, m_t0.addDays(1));
        b.rows = tableRows(5);
        library::RunInput c = run(0, {"S-big"}, m_t0.addDays(2));
        c.rows = tableRows(2000);
        for (const library::RunInput &in : {a, b, c})
            record(in);
        settle();
        auto w = shownLibrary();
        w->cellView->horizontalHeader()->setSortIndicator(library::CellLatest, Qt::AscendingOrder);
        QStringList labels = columnTexts(w->cellView->model(), library::CellLabel);
        QCOMPARE(labels, (QStringList{"S-small", "S-mid", "S-big"}));
        QList<double> values;
        for (const QString &t : columnTexts(w->cellView->model(), library::CellLatest))
            values << t.toDouble();
        QVERIFY2(std::is_sorted(values.begin(), values.end()),
            qPrintable(columnTexts(w->cellView->model(), library::CellLatest).join(' ')));
        // The digits differ in count, so text order would not be this one.
        QVERIFY(columnTexts(w->cellView->model(), library::CellLatest).first().size()
            < columnTexts(w->cellView->model(), library::CellLatest).last().size());
    }

    // 絞り込み matches label, model and memo, case ignored; retired cells only
    // with 引退も表示.
    void filter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("retired");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("nothing typed") << "" << false << QStringList{"E-1", "E-10", "E-2"};
        QTest::newRow("nothing typed, retired too") << "" << true << QStringList{"E-1", "E-10", "E-2", "E-4"};
        QTest::newRow("label part") << "-1" << false << QStringList{"E-1", "E-10"};
        QTest::newRow("model, case ignored") << "hr-3" << false << QStringList{"E-2"};
        QTest::newRow("memo") << "BLUE" << false << QStringList{"E-2"};
        QTest::newRow("retired model hidden") << "eneloop" << false << QStringList();
        QTest::newRow("retired model shown") << "eneloop" << true << QStringList{"E-4"};
        QTest::newRow("no match") << "zz" << true << QStringList();
    }
    void filter()
    {
        QFETCH(QString, text);
        QFETCH(bool, retired);
        QFETCH(QStringList, shown);
        fillLibrary();
        auto w = shownLibrary();
        w->cellView->horizontalHeader()->setSortIndicator(library::CellLabel, Qt::AscendingOrder);
        QTest::keyClicks(w->filterEdit, text);
        if (retired)
            QTest::mouseClick(w->showRetiredCheck, Qt::LeftButton);
        QStringList labels;
        for (const library::CellSummary &s : w->shownCells())
            labels << s.info.label;
        QCOMPARE(labels, shown);
        QCOMPARE(columnTexts(w->cellView->model(), library::CellLabel), shown);
    }

    // セルの情報 renames a cell: the history comes along. A label another cell
    // has is refused with the library's reason, and nothing changes.
    void renaming_data()
    {
        QTest::addColumn<QString>("newLabel");
        QTest::addColumn<bool>("refused");
        QTest::newRow("new label") << "E-10b" << false;
        QTest::newRow("blanks trimmed") << "  E-10c " << false;
        QTest::newRow("label of another cell") << "E-2" << true;
    }
    void renaming()
    {
        QFETCH(QString, newLabel);
        QFETCH(bool, refused);
        fillLibrary();
        auto w = shownLibrary();
        QVERIFY(renameByDoubleClick(*w, "E-10", newLabel));
        settle();
        QStringList labels;
        int runs = -1;
        for (const library::CellSummary &s : w->cellModel()->rows()) {
            labels << s.info.label;
            if (s.info.label == (refused ? QStringLiteral("E-10") : newLabel.trimmed()))
                runs = s.runCount;
        }
        QCOMPARE(runs, 3);
        QCOMPARE(labels.size(), 4);
        QCOMPARE(labels.contains("E-10"), refused);
        QCOMPARE(labels.count(newLabel.trimmed()), 1);
        if (refused) {
            QCOMPARE(m_boxes.size(), 1);
            QVERIFY2(m_boxes.first().startsWith("警告|"), qPrintable(m_boxes.join('\n')));
        } else {
            QCOMPARE(m_boxes, QStringList());
            // The runs tab shows the new name in the bays the cell was in.
            int found = 0;
            for (const library::RunRow &r : w->runModel()->rows())
                for (const library::BayFigures &b : r.bays)
                    found += b.label == newLabel.trimmed();
            QCOMPARE(found, 3);
        }
    }

    // 装着セル completes from the labels as they are now, whichever window
    // changed them, while both stay open.
    void bayCompletionFollowsTheLibrary_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("gone");
        QTest::addColumn<QString>("added");
        QTest::newRow("renamed in セルの情報") << "rename"
                                               << "E-10"
                                               << "F-102";
        QTest::newRow("a new label in a run's bay") << "bay"
                                                    << ""
                                                    << "G-7";
        QTest::newRow("a captured run with a new cell") << "capture"
                                                        << ""
                                                        << "H-1";
    }
    void bayCompletionFollowsTheLibrary()
    {
        QFETCH(QString, how);
        QFETCH(QString, gone);
        QFETCH(QString, added);
        fillLibrary();
        library::BayAssignment assignment;
        Tbays bays(&assignment, m_service.get());
        bays.show();
        auto w = shownLibrary();
        settle();
        QVERIFY(bays.completions().contains("E-10"));
        QVERIFY(!bays.completions().contains(added));

        if (how == "rename") {
            QVERIFY(renameByDoubleClick(*w, "E-10", added));
        } else if (how == "bay") {
            m_service->setBayLabel(storedRuns().first().id, 4, added, this, [](const auto &) {});
        } else {
            record(run(90, {added, "", "", ""}, m_t0.addDays(3)));
        }
        settle();
        QTRY_VERIFY2(bays.completions().contains(added), qPrintable(bays.completions().join(' ')));
        if (!gone.isEmpty())
            QVERIFY(!bays.completions().contains(gone));
        QCOMPARE(m_boxes, QStringList());
    }

    // Every window of the library draws in the program's window font, as the
    // main window does; a dialog does not take its parent's font by itself,
    // and Japanese beside Latin text then came in two faces.
    void windowsUseTheWindowFont_data()
    {
        QTest::addColumn<QString>("window");
        for (const char *name : {"セル台帳", "セルの情報", "放電記録の条件", "判定の基準", "組電池の設計"})
            QTest::newRow(name) << QString::fromUtf8(name);
    }
    void windowsUseTheWindowFont()
    {
        QFETCH(QString, window);
        auto owner = shownLibrary();
        std::unique_ptr<QWidget> w;
        if (window == QStringLiteral("セル台帳"))
            w = std::move(owner);
        else if (window == QStringLiteral("セルの情報"))
            w = std::make_unique<Tcellinfo>(library::CellInfo(), owner.get());
        else if (window == QStringLiteral("放電記録の条件"))
            w = std::make_unique<Trunparam>(analysis::CapacityParameters(), owner.get());
        else if (window == QStringLiteral("判定の基準"))
            w = std::make_unique<Tgradelimits>(m_service.get(), owner.get());
        else
            w = std::make_unique<Tpackplan>(m_service.get(), &m_files, std::nullopt, owner.get());
        QCOMPARE(w->windowTitle(), window);
        const QFont expected = fonts::WindowFont();
        QCOMPARE(w->font().family(), expected.family());
        QCOMPARE(w->font().pixelSize(), expected.pixelSize());
        m_service->waitForIdle();
    }

    // 放電記録の条件 by keys: what a run was computed with is shown, a typed
    // resistor goes back on Enter (OK is the default), キャンセル and Escape
    // give nothing back.
    void runDialog_data()
    {
        QTest::addColumn<int>("htime");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("close"); // "enter", "cancel" or "escape"
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("shownTime");
        QTest::addColumn<int>("resistor");
        QTest::newRow("typed, Enter") << 1 << "250"
                                      << "enter" << true << 1 << 250;
        QTest::newRow("unknown time base shown as 1分") << 7 << "120"
                                                        << "enter" << true << 0 << 120;
        QTest::newRow("below the range, Enter") << 2 << "5"
                                                << "enter" << true << 2 << 10;
        QTest::newRow("typed, キャンセル") << 1 << "250"
                                           << "cancel" << false << 1 << 250;
        QTest::newRow("typed, Escape") << 1 << "250"
                                       << "escape" << false << 1 << 250;
    }
    void runDialog()
    {
        QFETCH(int, htime);
        QFETCH(QString, typed);
        QFETCH(QString, close);
        QFETCH(bool, accepted);
        QFETCH(int, shownTime);
        QFETCH(int, resistor);
        analysis::CapacityParameters p;
        p.Hteiko = 100;
        p.Hvds = 7;
        p.Htime = htime;
        Trunparam dlg(p);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("放電記録の条件"));
        QCOMPARE(dlg.timeUnitGroup->itemIndex(), shownTime);
        QCOMPARE(dlg.resistorField->value(), 100);
        QCOMPARE(dlg.fetVoltageField->value(), 7);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        // The resistor field has the focus when the dialog opens.
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(dlg.resistorField->lineEdit()));
        dlg.resistorField->lineEdit()->selectAll();
        QTest::keyClicks(dlg.resistorField->lineEdit(), typed);
        if (close == QLatin1String("enter"))
            QTest::keyClick(dlg.resistorField->lineEdit(), Qt::Key_Return);
        else if (close == QLatin1String("escape"))
            QTest::keyClick(dlg.resistorField->lineEdit(), Qt::Key_Escape);
        else
            dlg.cancelButton->click();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result() == QDialog::Accepted, accepted);
        if (accepted) {
            const analysis::CapacityParameters got = dlg.parameters();
            QCOMPARE(got.Hteiko, resistor);
            QCOMPARE(got.Hvds, 7);
            QCOMPARE(got.Htime, shownTime);
        }
    }

    // The dialog itself: an empty label or a nominal that is no positive
    // number is refused and the dialog stays; retiring and back.
    void cellDialog_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("nominal");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("warning");
        QTest::newRow("fine") << "Z-1"
                              << "1900" << true << "";
        QTest::newRow("no nominal") << "Z-1"
                                    << "" << true << "";
        QTest::newRow("decimal nominal") << "Z-1"
                                         << "1900.5" << true << "";
        QTest::newRow("empty label") << "  "
                                     << "1900" << false << "ラベルを入力してください";
        QTest::newRow("nominal not a number") << "Z-1"
                                              << "19OO" << false << "公称容量は正の数で入力してください";
        QTest::newRow("nominal zero") << "Z-1"
                                      << "0" << false << "公称容量は正の数で入力してください";
    }
    void cellDialog()
    {
        QFETCH(QString, label);
        QFETCH(QString, nominal);
        QFETCH(bool, accepted);
        QFETCH(QString, warning);
        library::CellInfo info;
        info.id = 7;
        info.label = "old";
        info.state = library::CellState::Retired;
        Tcellinfo dlg(info);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("セルの情報"));
        QVERIFY(dlg.retiredCheck->isChecked());
        dlg.labelEdit->setText(label);
        dlg.nominalEdit->setText(nominal);
        dlg.retiredCheck->setChecked(false);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::keyClick(dlg.modelEdit, Qt::Key_Return); // the default button
        QCOMPARE(dlg.result() == QDialog::Accepted, accepted);
        QCOMPARE(m_boxes, warning.isEmpty() ? QStringList() : QStringList{"警告|" + warning});
        if (accepted) {
            QCOMPARE(dlg.info().id, qint64(7));
            QCOMPARE(dlg.info().label, label.trimmed());
            QCOMPARE(dlg.info().hasNominal, !nominal.isEmpty());
            QCOMPARE(dlg.info().nominalMah, nominal.isEmpty() ? 0.0 : nominal.toDouble());
            QCOMPARE(dlg.info().state, library::CellState::InUse);
        }
    }

    // 削除 can be undone while the window is open: by 元に戻す or Ctrl+Z in
    // 放電記録, the runs come back with their ids, bays and figures.
    void undoDelete_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("back"); // runs restored of the two deleted
        QTest::newRow("元に戻す") << "button" << 2;
        QTest::newRow("Ctrl+Z") << "key" << 2;
        QTest::newRow("one table recorded again since") << "again" << 1;
        QTest::newRow("the window closed in between") << "closed" << 0;
    }
    void undoDelete()
    {
        QFETCH(QString, how);
        QFETCH(int, back);
        fillLibrary();
        const QList<library::RunRow> before = storedRuns();
        auto w = shownLibrary();
        w->tabs->setCurrentIndex(1);
        QVERIFY(!w->undoDeleteButton->isEnabled());
        for (int r : {0, 1})
            w->runView->selectionModel()->select(
                w->runView->model()->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        errors::SetQuestionAnswer(true);
        w->deleteRunsButton->click();
        settle();
        errors::SetQuestionAnswer(false);
        QCOMPARE(storedRuns().size(), 1);
        QVERIFY(w->undoDeleteButton->isEnabled());
        if (how == "again") {
            record(run(60, {"E-10", "", "", ""}, m_t0.addDays(5)));
        } else if (how == "closed") {
            w->hide();
            w->show();
            settle();
            QVERIFY(!w->undoDeleteButton->isEnabled());
        }
        if (how == "key") {
            w->runView->setFocus();
            QTest::keyClick(w->runView, Qt::Key_Z, Qt::ControlModifier);
        } else {
            w->undoDeleteButton->click();
        }
        settle();
        QVERIFY(!w->undoDeleteButton->isEnabled());
        const QList<library::RunRow> after = storedRuns();
        QCOMPARE(after.size(), 1 + back + (how == "again" ? 1 : 0));
        if (back == 2) {
            QCOMPARE(after.size(), before.size());
            for (int i = 0; i < before.size(); ++i) {
                QCOMPARE(after.at(i).id, before.at(i).id);
                QCOMPARE(after.at(i).when, before.at(i).when);
                for (int b = 0; b < library::BayCount; ++b) {
                    QCOMPARE(after.at(i).bays[b].label, before.at(i).bays[b].label);
                    QCOMPARE(after.at(i).bays[b].capacity, before.at(i).bays[b].capacity);
                }
            }
            for (const library::CellSummary &c : w->cellModel()->rows())
                if (c.info.label == "E-10")
                    QCOMPARE(c.runCount, 3);
            QCOMPARE(w->statusLabel->text(), QStringLiteral("2 件の放電記録を戻しました"));
        } else if (how == "again") {
            QCOMPARE(w->statusLabel->text(),
                QStringLiteral("1 件の放電記録を戻しました（1 件は同じ表がもう記録されています）"));
        }
        QCOMPARE(m_boxes.size(), 1); // the question only
    }

    // バックアップ's status line ends with what happened, a refused copy too.
    void backupTellsItsOutcome_data()
    {
        QTest::addColumn<QString>("target"); // in the test's folder
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("warnings");
        QTest::newRow("copied") << "copy.sqlite"
                                << "バックアップしました: " << 0;
        QTest::newRow("into a folder that is not there") << "none/copy.sqlite"
                                                         << "バックアップできませんでした: " << 1;
    }
    void backupTellsItsOutcome()
    {
        QFETCH(QString, target);
        QFETCH(QString, status);
        QFETCH(int, warnings);
        fillLibrary();
        auto w = shownLibrary();
        const QString path = m_dir->filePath(target);
        w->SaveDialog = [path](const QString &, const QString &) { return path; };
        QSignalSpy saved(w.get(), &Tlibrary::saved);
        w->backupButton->click();
        QTRY_COMPARE(saved.size(), 1);
        QCOMPARE(w->statusLabel->text(), status + path);
        QCOMPARE(m_boxes.size(), warnings);
        QCOMPARE(QFileInfo::exists(path), warnings == 0);
    }

    // "削除" asks first; No keeps everything, Yes removes exactly the selection.
    void deleteAsksFirst_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::addColumn<bool>("byKey");
        QTest::newRow("no") << false << false;
        QTest::newRow("yes") << true << false;
        QTest::newRow("yes, Delete key") << true << true;
    }
    void deleteAsksFirst()
    {
        QFETCH(bool, yes);
        QFETCH(bool, byKey);
        fillLibrary();
        auto w = shownLibrary();
        w->tabs->setCurrentIndex(1);
        QCOMPARE(w->runView->model()->rowCount(), 3);
        QVERIFY(!w->deleteRunsButton->isEnabled());
        // The two newest (sorted newest first).
        w->runView->selectionModel()->select(
            w->runView->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        w->runView->selectionModel()->select(
            w->runView->model()->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QVERIFY(w->deleteRunsButton->isEnabled());
        errors::SetQuestionAnswer(yes);
        if (byKey) {
            w->runView->setFocus();
            QTest::keyClick(w->runView, Qt::Key_Delete);
        } else {
            w->deleteRunsButton->click();
        }
        settle();
        errors::SetQuestionAnswer(false);
        QCOMPARE(m_boxes,
            QStringList{"VOLTRAK|選択した放電記録を削除しますか？\n"
                        "このウィンドウを閉じるまでは「元に戻す」(Ctrl+Z) で戻せます。"});
        const QList<library::RunRow> left = storedRuns();
        QCOMPARE(left.size(), yes ? 1 : 3);
        if (yes)
            QCOMPARE(left.first().when, m_t0);
        QCOMPARE(w->runView->model()->rowCount(), left.size());
        // The cells stay, with the runs they have left.
        for (const library::CellSummary &s : w->cellModel()->rows())
            if (s.info.label == "E-10")
                QCOMPARE(s.runCount, yes ? 1 : 3);
    }

    // A run's bay label edited in the list: a new label makes a new cell, an
    // empty one takes the cell away; bays the table does not have cannot be edited.
    void bayLabelInPlace_data()
    {
        QTest::addColumn<int>("bay");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("cells");
        QTest::newRow("unassigned bay assigned later") << 4 << "N-1"
                                                       << "N-1" << 5;
        QTest::newRow("known cell") << 4 << "E-2"
                                    << "E-2" << 4;
        QTest::newRow("cell taken away") << 1 << ""
                                         << "" << 4;
    }
    void bayLabelInPlace()
    {
        QFETCH(int, bay);
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QFETCH(int, cells);
        fillLibrary();
        auto w = shownLibrary();
        w->tabs->setCurrentIndex(1);
        w->runView->horizontalHeader()->setSortIndicator(library::RunWhen, Qt::AscendingOrder);
        const QModelIndex at = w->runView->model()->index(0, library::LabelColumn(bay));
        QVERIFY(at.flags() & Qt::ItemIsEditable);
        QVERIFY(!(w->runView->model()->index(0, library::CapacityColumn(bay)).flags() & Qt::ItemIsEditable));
        w->runView->setFocus();
        w->runView->setCurrentIndex(at);
        QTest::keyClick(w->runView, Qt::Key_F2);
        QWidget *editor = QApplication::focusWidget();
        QVERIFY(qobject_cast<QLineEdit *>(editor));
        qobject_cast<QLineEdit *>(editor)->selectAll();
        if (typed.isEmpty())
            QTest::keyClick(editor, Qt::Key_Delete);
        else
            QTest::keyClicks(editor, typed);
        QTest::keyClick(editor, Qt::Key_Return);
        settle();
        const QList<library::RunRow> runs = storedRuns();
        QCOMPARE(runs.last().bays[bay - 1].label, stored);
        QCOMPARE(runs.last().bays[bay - 1].cellId == 0, stored.isEmpty());
        w->showRetiredCheck->setChecked(true);
        QCOMPARE(w->cellView->model()->rowCount(), cells);
        QCOMPARE(w->runView->model()->index(0, library::LabelColumn(bay)).data().toString(), stored);
    }

    // The history beside the list: one point per run at the run's time; 曲線比較
    // draws the cell's runs, newest first, titled by their dates.
    void historyAndCurves()
    {
        fillLibrary();
        auto w = shownLibrary();
        w->compare->IniPath = m_dir->filePath("voltrak.ini");
        QSignalSpy history(w.get(), &Tlibrary::historyShown);
        const int row = columnTexts(w->cellView->model(), library::CellLabel).indexOf("E-10");
        w->cellView->setCurrentIndex(w->cellView->model()->index(row, 0));
        settle();
        QVERIFY(history.count() >= 1);
        ChartSeries &s = w->historyChart->series(0);
        QCOMPARE(s.count(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(s.x(i), double(m_t0.addDays(i).toSecsSinceEpoch()));
        QVERIFY(s.y(0) < s.y(1) && s.y(1) < s.y(2)); // bay 3 of step 0 .. bay 1 of step 60
        QVERIFY(w->compareButton->isEnabled());
        w->compareButton->click();
        settle();
        QVERIFY(w->compare->isVisible());
        QCOMPARE(w->compare->Chart1->seriesCount(), 3);
        QCOMPARE(w->compare->Chart1->series(0).title(), QStringLiteral("2026/11/03 09:00 Bat1"));
        QCOMPARE(w->compare->Chart1->series(2).title(), QStringLiteral("2026/11/01 09:00 Bat3"));
        QCOMPARE(w->compare->Chart1->series(0).count(), 9);
        w->compare->hide();
    }

    // The history chart is titled by its cell and follows the choice; a cell
    // the filter hides is no longer shown, nor any other in its place.
    void historyFollowsTheChoice_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("title"); // after the filter
        QTest::addColumn<int>("points");
        QTest::newRow("shown") << "E-10"
                               << "E-1"
                               << "E-10" << 3;
        QTest::newRow("hidden by the filter") << "E-2"
                                              << "E-1"
                                              << "" << 0;
        QTest::newRow("hidden, then a new run") << "E-2"
                                                << "E-10"
                                                << "" << 0;
    }
    void historyFollowsTheChoice()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, filter);
        QFETCH(QString, title);
        QFETCH(int, points);
        fillLibrary();
        auto w = shownLibrary();
        w->selectCell(cellId(chosen));
        settle();
        QCOMPARE(w->historyChart->title(), chosen);
        QVERIFY(w->historyChart->series(0).count() > 0);
        QTest::keyClicks(w->filterEdit, filter);
        settle();
        if (QByteArray(QTest::currentDataTag()).contains("new run")) {
            record(run(90, {"E-10", "", "", ""}, m_t0.addDays(5)));
            settle();
        }
        QCOMPARE(w->historyChart->title(), title);
        QCOMPARE(w->historyChart->series(0).count(), points);
        QCOMPARE(w->currentCellId(), title.isEmpty() ? 0 : cellId(chosen));
    }

    // The ラベル column stays at the left when the セル tab is scrolled to its
    // last column, and with no size kept the window is as wide as the columns
    // need beside the chart (as far as the screen allows).
    void labelColumnStaysInView()
    {
        fillLibrary();
        auto w = shownLibrary();
        QTRY_VERIFY(w->cellView->model()->rowCount() > 0);
        const QHeaderView *header = w->cellView->horizontalHeader();
        const int needed = header->length() + 2 * w->cellView->frameWidth();
        const int room = w->screen()->availableGeometry().width();
        if (w->width() < room - 20)
            QTRY_VERIFY2(w->cellView->viewport()->width() >= header->length(),
                qPrintable(QStringLiteral("%1 of %2").arg(w->cellView->viewport()->width()).arg(needed)));
        // Narrowed by the user: scrolled to the last column, the labels are still there.
        w->resize(700, w->height());
        QTRY_VERIFY(w->cellView->horizontalScrollBar()->maximum() > 0);
        w->cellView->horizontalScrollBar()->setValue(w->cellView->horizontalScrollBar()->maximum());
        const QTableView *frozen = w->cellView->frozenView();
        QVERIFY(frozen->isVisible());
        QCOMPARE(frozen->width(), w->cellView->columnWidth(library::CellLabel));
        QCOMPARE(
            columnTexts(frozen->model(), library::CellLabel), columnTexts(w->cellView->model(), library::CellLabel));
        const QModelIndex first = frozen->model()->index(0, library::CellLabel);
        QCOMPARE(frozen->indexAt(frozen->visualRect(first).center()), first);
    }

    // 組電池 lists the packs recorded; 解除 asks, then puts every cell of the
    // pack back in use, and the pack leaves the list.
    void packsTab_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("解除 answered yes") << true;
        QTest::newRow("解除 answered no") << false;
    }
    void packsTab()
    {
        QFETCH(bool, yes);
        record(run(0, {"P-1", "P-2", "P-3", "Q-1"}, m_t0));
        const QList<qint64> pack = {cellId("P-2"), cellId("P-1"), cellId("P-3")};
        direct().recordBuiltIn(pack, "工具 4S", {QDateTime(QDate(2026, 11, 20), QTime(15, 0)), 1234.5});
        direct().recordBuiltIn({cellId("Q-1")}, "old");
        settle();
        errors::SetQuestionAnswer(yes);
        auto w = shownLibrary();
        w->tabs->setCurrentIndex(Tlibrary::PacksTab);
        QVERIFY(!w->csvButton->isEnabled());
        QAbstractItemModel *m = w->packView->model();
        QCOMPARE(m->rowCount(), 2);
        QStringList header;
        for (int c = 0; c < m->columnCount(); ++c)
            header << m->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(header, (QStringList{"名前", "組込み日", "セル数", "セル", "容量(mAh)"}));
        QStringList rows;
        for (int r = 0; r < m->rowCount(); ++r) {
            QStringList row;
            for (int c = 0; c < m->columnCount(); ++c)
                row << m->index(r, c).data().toString();
            rows << row.join('|');
        }
        // Newest first; a pack recorded without its facts has none to show.
        QCOMPARE(rows, (QStringList{"工具 4S|2026/11/20 15:00|3|P-1 P-2 P-3|1234.5", "old|―|1|Q-1|―"}));
        QVERIFY(!w->dissolvePackButton->isEnabled());
        w->packView->selectRow(0);
        QVERIFY(w->dissolvePackButton->isEnabled());
        w->dissolvePackButton->click();
        settle();
        errors::SetQuestionAnswer(false);
        QCOMPARE(m_boxes.value(0).section('|', 1),
            QStringLiteral("パック 工具 4S を解除しますか？\n3 本のセルが使用中に戻ります。"));
        for (const char *label : {"P-1", "P-2", "P-3"}) {
            const library::CellInfo c = storedCell(label);
            QCOMPARE(c.state, yes ? library::CellState::InUse : library::CellState::BuiltIn);
        }
        QCOMPARE(m->rowCount(), yes ? 1 : 2);
        QCOMPARE(storedCell("Q-1").state, library::CellState::BuiltIn);
        if (yes)
            QCOMPARE(w->statusLabel->text(), QStringLiteral("パック 工具 4S を解除しました（3 本）"));
    }

    // A captured run's journal imported into a new library gives the cells,
    // labels and times the live capture recorded, also where the log pane's
    // セル: line cannot say them (a label with a blank).
    void journalImportGivesTheCapture_data()
    {
        QTest::addColumn<QStringList>("bays"); // per table: four labels joined by ','
        QTest::newRow("four cells") << QStringList{"J-1,J-2,J-3,J-4"};
        QTest::newRow("two tables, bays changed between") << QStringList{"J-1,J-2,J-3,J-4", "J-5,,J-3,J-1"};
        QTest::newRow("a label with a blank") << QStringList{"J 1,J-2,,"};
        QTest::newRow("no cells") << QStringList{",,,"};
    }
    void journalImportGivesTheCapture()
    {
        QFETCH(QStringList, bays);
        Pty pty;
        const QString ini = m_dir->filePath("voltrak.ini");
        WriteFile(ini, "[Ports]\r\nCOM1=" + pty.name.toLocal8Bit() + "\r\n");
        settings::SetIniFilePath(ini);
        const QString live = m_dir->filePath("live.sqlite");
        forms::CreateForms(live);
        QDateTime now = m_t0.addSecs(17);
        forms::main->Clock = [&now] { return now; };
        forms::main->show();
        QTRY_VERIFY(forms::main->CommX1->IsOpen());
        for (int t = 0; t < bays.size(); ++t) {
            const QStringList labels = bays.at(t).split(',');
            for (int b = 0; b < 4; ++b)
                forms::main->Bays1->setLabel(b + 1, labels.at(b));
            now = m_t0.addSecs(17 + 3600 * t).addMSecs(250);
            QSignalSpy recorded(forms::main->Library1(), &library::LibraryService::runRecorded);
            QVERIFY(pty.writeAll("2026/11/01 08:00\r\n" + dumpBytes(10 * t)));
            QTRY_COMPARE_WITH_TIMEOUT(recorded.size(), 1, 10000);
        }
        const QString folder = forms::main->JournalFolder();
        const QString journalPath = forms::main->Journal()->filePath();
        forms::DestroyForms();
        settings::SetIniFilePath({});
        QVERIFY(journalPath.startsWith(folder));
        QVERIFY(QFileInfo::exists(journalcells::PathFor(journalPath)));

        library::Library captured(live);
        library::Library fresh(m_dir->filePath("fresh.sqlite"));
        const library::ImportSummary s = fresh.importFiles({journalPath}, {}, {}, nullptr);
        QCOMPARE(s.newRuns, int(bays.size()));
        QCOMPARE(s.dating.value(0).byReceived, int(bays.size()));
        const QList<library::RunRow> a = captured.runs(), b = fresh.runs();
        QCOMPARE(b.size(), a.size());
        for (int r = 0; r < a.size(); ++r) {
            QCOMPARE(b.at(r).when, a.at(r).when);
            for (int bay = 0; bay < 4; ++bay) {
                QCOMPARE(b.at(r).bays[bay].label, a.at(r).bays[bay].label);
                QCOMPARE(b.at(r).bays[bay].capacity, a.at(r).bays[bay].capacity);
            }
        }
        // The capture's own time (the library keeps seconds), not the stamp above the table.
        QCOMPARE(a.last().when, m_t0.addSecs(17));
        QStringList labels;
        for (const library::CellSummary &c : fresh.cellSummaries())
            labels << c.info.label;
        QStringList expected;
        for (const library::CellSummary &c : captured.cellSummaries())
            expected << c.info.label;
        QCOMPARE(labels, expected);
    }

    // 条件変更 computes a run's figures again: ten-second counts give a sixth
    // of the minute counts' capacity.
    void runParametersRecompute()
    {
        fillLibrary();
        auto w = shownLibrary();
        w->tabs->setCurrentIndex(1);
        w->runView->selectRow(0);
        const double before = storedRuns().first().bays[0].capacity;
        w->RunDialog = [](analysis::CapacityParameters &p) {
            p.Htime = 1;
            return true;
        };
        w->recomputeButton->click();
        settle();
        const library::RunRow after = storedRuns().first();
        QCOMPARE(after.parameters.Htime, 1);
        QVERIFY2(qAbs(after.bays[0].capacity - before / 6) < 1e-9 * before,
            qPrintable(QStringLiteral("%1 then %2").arg(before).arg(after.bays[0].capacity)));
        QCOMPARE(w->runView->model()->index(0, library::RunTimeUnit).data().toString(), QStringLiteral("10秒"));
    }

    // 取り込み: the files go in off this thread; one summary box at the end.
    void importShowsOneSummary()
    {
        auto w = shownLibrary();
        const QString a = m_dir->filePath("a.log"), b = m_dir->filePath("b.log");
        for (const auto &[path, bytes] : {std::pair{a, "2026/10/01 08:00\r\n" + dumpBytes(1) + dumpBytes(2)},
                 std::pair{b, QByteArray("セル: P-1 P-2 - P-4\r\n") + dumpBytes(1)}}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
        w->OpenDialog = [&] { return QStringList{a, b, m_dir->filePath("missing.log")}; };
        w->importButton->click();
        QVERIFY(w->importing());
        QVERIFY(!w->importButton->isEnabled());
        settle();
        QTRY_VERIFY(!w->importing());
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().startsWith(QStringLiteral("取り込み結果|")), qPrintable(m_boxes.first()));
        QVERIFY2(m_boxes.first().contains("新しい記録: 2") && m_boxes.first().contains("既知の記録: 1")
                && m_boxes.first().contains("missing.log"),
            qPrintable(m_boxes.first()));
        QCOMPARE(w->runView->model()->rowCount(), 2);
        QVERIFY(w->importButton->isEnabled());
    }

    // キャンセル in the progress dialog stops before the next file; the files
    // done stay, and the summary says it was cancelled.
    void importCancelled()
    {
        auto w = shownLibrary();
        QStringList paths;
        for (int i = 0; i < 300; ++i) {
            paths << m_dir->filePath(QStringLiteral("f%1.log").arg(i));
            QFile f(paths.last());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(dumpBytes(i));
        }
        w->Import(paths);
        QVERIFY(w->progress());
        QCOMPARE(w->progress()->labelText(), QStringLiteral("取り込み中..."));
        QPushButton *cancel = w->progress()->findChild<QPushButton *>();
        QVERIFY(cancel);
        QCOMPARE(cancel->text(), QStringLiteral("キャンセル"));
        cancel->click();
        settle();
        QTRY_VERIFY(!w->importing());
        QVERIFY(!w->progress());
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().contains("中止しました"), qPrintable(m_boxes.first()));
        const qsizetype stored = storedRuns().size();
        QVERIFY2(stored < 300, qPrintable(QString::number(stored)));
        QCOMPARE(w->runView->model()->rowCount(), int(stored));
    }

    // The window's size lives in its own section of the ini file.
    void sizeInItsOwnSection()
    {
        const QString ini = m_dir->filePath("size.ini");
        {
            Tlibrary w(m_service.get(), &m_files);
            w.IniPath = ini;
            w.show();
            w.resize(777, 444);
            w.closeButton->click();
            QVERIFY(!w.isVisible());
        }
        const IniFile file(ini);
        QCOMPARE(file.readInteger("CellLibrary", "Width", 0), 777);
        QCOMPARE(file.readInteger("CellLibrary", "Height", 0), 444);
        QVERIFY(file.keys(settings::SectionName).isEmpty());
        Tlibrary again(m_service.get(), &m_files);
        again.IniPath = ini;
        again.show();
        QCOMPARE(again.size(), QSize(777, 444));
        settle();
    }

    // The menus, and a library that cannot be opened: one warning with the
    // reason, the library's entries off, the file untouched, the rest working.
    void mainWindow_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("opens");
        QTest::newRow("new library") << QByteArray() << true;
        QTest::newRow("not a database") << QByteArray("this is no database\n", 20) << false;
        QTest::newRow("newer version") << QByteArray("newer") << true;
    }
    void mainWindow()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, opens);
        const QString path = m_dir->filePath("other.sqlite");
        const bool newer = content == "newer";
        if (newer) {
            // A library this program made, then marked as a later version's.
            {
                library::Library made(path);
                QVERIFY2(made.isWritable(), qPrintable(made.reason()));
            }
            {
                QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "newer");
                db.setDatabaseName(path);
                QVERIFY(db.open());
                QVERIFY(QSqlQuery(db).exec(QStringLiteral("PRAGMA user_version = %1").arg(library::SchemaVersion + 1)));
                db.close();
            }
            QSqlDatabase::removeDatabase("newer");
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            content = f.readAll();
        } else if (!content.isEmpty()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        QFile ini(settings::IniFilePath());
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Ports]\r\nCOM1=/nonexistent/voltrak-test-port\r\n");
        ini.close();
        forms::CreateForms(path);
        m_boxes.clear(); // the closed port's box
        QVERIFY(forms::main->Library1());
        forms::main->Library1()->waitForIdle();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QStringList view;
        for (QAction *a : forms::main->menuBar()->actions().at(3)->menu()->actions())
            view << a->text();
        QCOMPARE(view, (QStringList{"セル一覧(&L)...", "装着セル(&M)...", "セル台帳(&B)..."}));
        QCOMPARE(forms::main->ImportToLibrary1->text(), QStringLiteral("台帳に取り込む(&I)..."));
        QTRY_COMPARE(forms::main->MountedCells1->isEnabled(), opens);
        QCOMPARE(forms::main->CellLibrary1->isEnabled(), opens);
        QCOMPARE(forms::main->ImportToLibrary1->isEnabled(), opens && !newer);
        if (newer) {
            // Read, never written: one warning, no import, no edits.
            QCOMPARE(m_boxes.size(), 1);
            QVERIFY2(m_boxes.first().startsWith("警告|セル台帳を開けません\n"), qPrintable(m_boxes.first()));
            forms::main->CellLibrary1->trigger();
            QVERIFY(forms::main->ledger->isVisible());
            QVERIFY(!forms::main->ledger->importButton->isEnabled());
            forms::main->ledger->runView->selectAll();
            QVERIFY(!forms::main->ledger->deleteRunsButton->isEnabled());
            forms::DestroyForms();
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), content);
            QFile::remove(settings::IniFilePath());
            return;
        }
        if (opens) {
            QCOMPARE(m_boxes, QStringList());
            forms::main->MountedCells1->trigger();
            QVERIFY(forms::main->bays->isVisible());
            forms::main->CellLibrary1->trigger();
            QVERIFY(forms::main->ledger->isVisible());
            QCOMPARE(forms::main->ledger->windowTitle(), QStringLiteral("セル台帳"));
        } else {
            QCOMPARE(m_boxes.size(), 1);
            QVERIFY2(m_boxes.first().startsWith("警告|セル台帳を開けません\n") && m_boxes.first().size() > 20,
                qPrintable(m_boxes.first()));
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), content);
        }
        // The log pane still takes what arrives.
        forms::main->RichEdit1->appendReceived(dumpBytes(0));
        QVERIFY(forms::main->RichEdit1->lineCount() > 5);
        forms::DestroyForms();
        QFile::remove(settings::IniFilePath());
    }

    // 判定 from 健全度 and the library's limits: a health at a limit reaches it.
    void gradeColumn_data()
    {
        QTest::addColumn<double>("fraction");
        QTest::addColumn<double>("good");
        QTest::addColumn<double>("fair");
        QTest::addColumn<QString>("grade");
        QTest::newRow("at the good limit") << 0.90 << 90.0 << 80.0 << "良";
        QTest::newRow("just below the good limit") << 0.899 << 90.0 << 80.0 << "可";
        QTest::newRow("at the fair limit") << 0.80 << 90.0 << 80.0 << "可";
        QTest::newRow("just below the fair limit") << 0.799 << 90.0 << 80.0 << "不良";
        QTest::newRow("above the nominal") << 1.05 << 90.0 << 80.0 << "良";
        QTest::newRow("no nominal") << 0.0 << 90.0 << 80.0 << "―";
        QTest::newRow("stored limits, between them") << 0.93 << 95.0 << 85.0 << "可";
        QTest::newRow("stored limits, at good") << 0.95 << 95.0 << 85.0 << "良";
        QTest::newRow("stored limits, below fair") << 0.849 << 95.0 << 85.0 << "不良";
    }
    void gradeColumn()
    {
        QFETCH(double, fraction);
        QFETCH(double, good);
        QFETCH(double, fair);
        QFETCH(QString, grade);
        record(run(0, {"H-1", "", "", ""}, m_t0));
        setHealth("H-1", fraction);
        direct().setGradeLimits({good, fair});
        settle();
        auto w = shownLibrary();
        QCOMPARE(w->cellView->model()->headerData(library::CellGradeColumn, Qt::Horizontal).toString(),
            QStringLiteral("判定"));
        QCOMPARE(columnTexts(w->cellView->model(), library::CellGradeColumn), QStringList{grade});
    }

    // Limits saved in 判定の基準 show in the column without reopening the window.
    void gradeColumnFollowsSavedLimits_data()
    {
        QTest::addColumn<double>("good");
        QTest::addColumn<double>("fair");
        QTest::addColumn<QStringList>("grades");
        // Health 92, 85 and 70 %.
        QTest::newRow("defaults kept") << 90.0 << 80.0 << QStringList{"良", "可", "不良"};
        QTest::newRow("stricter") << 95.0 << 90.0 << QStringList{"可", "不良", "不良"};
        QTest::newRow("looser") << 85.0 << 70.0 << QStringList{"良", "良", "可"};
    }
    void gradeColumnFollowsSavedLimits()
    {
        QFETCH(double, good);
        QFETCH(double, fair);
        QFETCH(QStringList, grades);
        record(run(0, {"H-1", "H-2", "H-3", ""}, m_t0));
        setHealth("H-1", 0.92);
        setHealth("H-2", 0.85);
        setHealth("H-3", 0.70);
        settle();
        auto w = shownLibrary();
        w->cellView->horizontalHeader()->setSortIndicator(library::CellLabel, Qt::AscendingOrder);
        QCOMPARE(columnTexts(w->cellView->model(), library::CellGradeColumn), (QStringList{"良", "可", "不良"}));
        bool opened = false;
        w->LimitsDialog = [&] {
            Tgradelimits dlg(m_service.get(), w.get());
            dlg.show();
            if (!QTest::qWaitFor([&] { return dlg.isLoaded(); }))
                return false;
            opened = true;
            dlg.fairEdit->setValue(fair);
            dlg.goodEdit->setValue(good);
            dlg.okClicked();
            return dlg.result() == QDialog::Accepted;
        };
        w->gradeLimitsButton->click();
        settle();
        QVERIFY(opened);
        QCOMPARE(w->gradeLimits().good, good);
        QCOMPARE(columnTexts(w->cellView->model(), library::CellGradeColumn), grades);
    }

    // The grade combo beside 絞り込み shows one grade, together with the text.
    void gradeFilter_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("all") << 0 << "" << QStringList{"G-1", "G-2", "G-3", "G-4", "G-5"};
        QTest::newRow("良") << 1 << "" << QStringList{"G-1"};
        QTest::newRow("可") << 2 << "" << QStringList{"G-2"};
        QTest::newRow("不良") << 3 << "" << QStringList{"G-3"};
        QTest::newRow("― (no nominal, no runs)") << 4 << "" << QStringList{"G-4", "G-5"};
        QTest::newRow("― and a label") << 4 << "5" << QStringList{"G-5"};
        QTest::newRow("良 and another cell's label") << 1 << "G-2" << QStringList();
    }
    void gradeFilter()
    {
        QFETCH(int, choice);
        QFETCH(QString, text);
        QFETCH(QStringList, shown);
        record(run(0, {"G-1", "G-2", "G-3", "G-4"}, m_t0));
        setHealth("G-1", 0.95);
        setHealth("G-2", 0.85);
        setHealth("G-3", 0.5);
        setCell("G-5", "", 2000, "", false); // a nominal, but never measured
        settle();
        auto w = shownLibrary();
        w->cellView->horizontalHeader()->setSortIndicator(library::CellLabel, Qt::AscendingOrder);
        QCOMPARE(w->gradeFilterBox->count(), 5);
        QStringList items;
        for (int i = 0; i < w->gradeFilterBox->count(); ++i)
            items << w->gradeFilterBox->itemText(i);
        QCOMPARE(items, (QStringList{"すべて", "良", "可", "不良", "―"}));
        w->gradeFilterBox->setCurrentIndex(choice);
        QTest::keyClicks(w->filterEdit, text);
        QCOMPARE(shownLabels(*w), shown);
    }

    // 似た曲線 orders the cells by the distance of their latest curves from
    // the selected cell's; the minutes show in 曲線差(分) until another column
    // is sorted by. Bay j of run(0) falls to the last level at 40 + 10 j
    // minutes; C-0's latest run, of step 10, has it in bay 4 (80 minutes).
    void similarCurves_data()
    {
        QTest::addColumn<QString>("reference");
        QTest::addColumn<QStringList>("order");
        QTest::addColumn<QStringList>("minutes");
        QTest::newRow("middle cell") << "C-1" << QStringList{"C-1", "C-2", "C-3", "C-0", "C-9"}
                                     << QStringList{"0.0", "10.0", "20.0", "30.0", ""};
        QTest::newRow("equal distances by label") << "C-3" << QStringList{"C-3", "C-0", "C-2", "C-1", "C-9"}
                                                  << QStringList{"0.0", "10.0", "10.0", "20.0", ""};
        QTest::newRow("never measured") << "C-9" << QStringList() << QStringList();
    }
    void similarCurves()
    {
        QFETCH(QString, reference);
        QFETCH(QStringList, order);
        QFETCH(QStringList, minutes);
        record(run(0, {"C-0", "C-1", "C-2", "C-3"}, m_t0));
        record(run(10, {"", "", "", "C-0"}, m_t0.addDays(1)));
        cellId("C-9");
        auto w = shownLibrary();
        w->cellView->horizontalHeader()->setSortIndicator(library::CellLabel, Qt::AscendingOrder);
        QVERIFY(w->cellView->isColumnHidden(library::CellCurveColumn));
        w->selectCell(cellId(reference));
        settle();
        QSignalSpy shown(w.get(), &Tlibrary::similarShown);
        w->cellView->setFocus();
        QTest::keyClick(w.get(), Qt::Key_N, Qt::AltModifier);
        QVERIFY(shown.wait(5000) || shown.count() == 1);
        if (order.isEmpty()) {
            QCOMPARE(m_boxes, QStringList{"警告|このセルの放電記録がありません"});
            QVERIFY(w->cellView->isColumnHidden(library::CellCurveColumn));
            QCOMPARE(shownLabels(*w), (QStringList{"C-0", "C-1", "C-2", "C-3", "C-9"}));
            return;
        }
        QVERIFY(m_boxes.isEmpty());
        QVERIFY(!w->cellView->isColumnHidden(library::CellCurveColumn));
        QCOMPARE(w->cellView->model()->headerData(library::CellCurveColumn, Qt::Horizontal).toString(),
            QStringLiteral("曲線差(分)"));
        QCOMPARE(shownLabels(*w), order);
        QCOMPARE(columnTexts(w->cellView->model(), library::CellCurveColumn), minutes);
        // Sorting by another column gives the list back its own order.
        w->cellView->horizontalHeader()->setSortIndicator(library::CellRuns, Qt::DescendingOrder);
        QVERIFY(w->cellView->isColumnHidden(library::CellCurveColumn));
        QCOMPARE(shownLabels(*w).first(), QStringLiteral("C-0"));
    }

    // The distances shown follow the library: a new run of a cell measures
    // again from the reference while its order holds, and the reference's
    // runs gone take the column away.
    void similarCurvesFollowTheLibrary()
    {
        record(run(0, {"C-0", "C-1", "C-2", "C-3"}, m_t0));
        auto w = shownLibrary();
        w->selectCell(cellId("C-1"));
        settle();
        QSignalSpy shown(w.get(), &Tlibrary::similarShown);
        QTest::keyClick(w.get(), Qt::Key_N, Qt::AltModifier);
        QVERIFY(shown.wait(5000) || shown.count() == 1);
        QCOMPARE(shownLabels(*w), (QStringList{"C-1", "C-0", "C-2", "C-3"}));
        QCOMPARE(
            columnTexts(w->cellView->model(), library::CellCurveColumn), (QStringList{"0.0", "10.0", "10.0", "20.0"}));

        // C-3 measured again, in bay 1 of a run of step 5: it reaches the last
        // level at 45 minutes, 5 from C-1, and moves up beside it.
        m_service->record(run(5, {"C-3"}, m_t0.addDays(1)));
        QTRY_COMPARE(
            columnTexts(w->cellView->model(), library::CellCurveColumn), (QStringList{"0.0", "5.0", "10.0", "10.0"}));
        QCOMPARE(shownLabels(*w), (QStringList{"C-1", "C-3", "C-0", "C-2"}));

        // The reference's one run deleted: nothing to measure from, no column.
        const QDateTime first = m_t0;
        QList<qint64> ids;
        for (const library::RunRow &r : storedRuns())
            if (r.when == first)
                ids << r.id;
        m_service->deleteRuns(ids, nullptr, nullptr);
        settle();
        QTRY_VERIFY(w->cellView->isColumnHidden(library::CellCurveColumn));
        QVERIFY(m_boxes.isEmpty());
    }

    // The window's buttons reach the two dialogs by their keys, and no two
    // accelerators of the window share a letter.
    void keysOpenPackDialogs_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("title");
        QTest::newRow("組電池の設計") << int(Qt::Key_B) << "組電池の設計";
        QTest::newRow("判定の基準") << int(Qt::Key_J) << "判定の基準";
    }
    void keysOpenPackDialogs()
    {
        QFETCH(int, key);
        QFETCH(QString, title);
        fillLibrary();
        auto w = shownLibrary();
        QMap<QChar, QString> letters;
        for (QAbstractButton *b : w->findChildren<QAbstractButton *>()) {
            const qsizetype amp = b->text().indexOf('&');
            if (amp < 0 || amp + 1 >= b->text().size())
                continue;
            const QChar c = b->text().at(amp + 1).toUpper();
            QVERIFY2(!letters.contains(c), qPrintable(letters.value(c) + " / " + b->text()));
            letters.insert(c, b->text());
        }
        for (QLabel *l : w->findChildren<QLabel *>()) {
            const qsizetype amp = l->text().indexOf('&');
            if (amp >= 0 && amp + 1 < l->text().size())
                QVERIFY2(!letters.contains(l->text().at(amp + 1).toUpper()), qPrintable(l->text()));
        }
        QString seen;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                seen = d->windowTitle();
                d->reject();
            }
        });
        poll.start(20);
        w->cellView->setFocus();
        // An accelerator clicks its button a moment later.
        QTest::keyClick(w.get(), Qt::Key(key), Qt::AltModifier);
        QTRY_VERIFY(!seen.isEmpty());
        poll.stop();
        QCOMPARE(seen, title);
    }

    // 組電池の設計 gets the cells the セル tab shows: filtered by text and grade.
    void planGetsShownCells_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("grade");
        QTest::addColumn<QStringList>("cells");
        QTest::newRow("everything shown") << "" << 0 << QStringList{"E-1", "E-10", "E-2"};
        QTest::newRow("by text") << "-1" << 0 << QStringList{"E-1", "E-10"};
        QTest::newRow("by grade") << "" << 1 << QStringList{"E-2"};
        QTest::newRow("nothing shown") << "zz" << 0 << QStringList();
    }
    void planGetsShownCells()
    {
        QFETCH(QString, text);
        QFETCH(int, grade);
        QFETCH(QStringList, cells);
        fillLibrary();
        setHealth("E-2", 0.95);
        settle();
        auto w = shownLibrary();
        w->cellView->horizontalHeader()->setSortIndicator(library::CellLabel, Qt::AscendingOrder);
        QTest::keyClicks(w->filterEdit, text);
        w->gradeFilterBox->setCurrentIndex(grade);
        QList<qint64> expected;
        for (const QString &c : cells)
            expected << cellId(c);
        std::optional<QList<qint64>> got;
        w->PlanDialog = [&](const QList<qint64> &ids) { got = ids; };
        w->packPlanButton->click();
        QVERIFY(got.has_value());
        QCOMPARE(*got, expected);
    }

    // セルの情報 puts a built-in cell back in use with 組込み解除; the button
    // is there only for a cell in a pack.
    void undoBuiltIn_data()
    {
        QTest::addColumn<bool>("builtIn");
        QTest::addColumn<bool>("undo");
        QTest::addColumn<bool>("retire");
        QTest::addColumn<QString>("state");
        QTest::newRow("undone") << true << true << false << "使用中";
        QTest::newRow("left in the pack") << true << false << false << "組込み: P-1";
        QTest::newRow("undone and retired") << true << true << true << "引退";
        QTest::newRow("cell in use has no button") << false << false << false << "使用中";
    }
    void undoBuiltIn()
    {
        QFETCH(bool, builtIn);
        QFETCH(bool, undo);
        QFETCH(bool, retire);
        QFETCH(QString, state);
        record(run(0, {"B-1", "B-2", "", ""}, m_t0));
        const qint64 id = cellId("B-1");
        const qint64 other = cellId("B-2");
        if (builtIn)
            direct().recordBuiltIn({id, other}, "P-1");
        settle();
        auto w = shownLibrary();
        w->selectCell(id);
        settle();
        bool buttonShown = false;
        QString failure;
        const auto fail = [&](const QString &why) {
            failure = why;
            return false;
        };
        w->CellDialog = [&](library::CellInfo &info) {
            Tcellinfo dlg(info, w.get());
            dlg.show();
            dlg.activateWindow();
            if (!QTest::qWaitFor([&] { return QApplication::activeWindow() == &dlg; }))
                return fail("the dialog did not become active");
            buttonShown = dlg.undoBuiltInButton->isVisible();
            if (undo) {
                dlg.retiredCheck->setFocus();
                QTest::keyClick(dlg.retiredCheck, Qt::Key_U, Qt::AltModifier);
                if (!QTest::qWaitFor([&] { return dlg.undoesBuiltIn(); }))
                    return fail("Alt+U did not undo");
                if (dlg.stateLabel->text() != QStringLiteral("使用中"))
                    return fail("state shown: " + dlg.stateLabel->text());
            }
            if (retire)
                dlg.retiredCheck->setChecked(true);
            dlg.accept();
            info = dlg.info();
            return dlg.result() == QDialog::Accepted;
        };
        w->editCurrentCell();
        settle();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(buttonShown, builtIn);
        const library::CellInfo stored = storedCell("B-1");
        QCOMPARE(library::CellStateText(stored.state, stored.pack), state);
        if (undo)
            QCOMPARE(stored.pack, QString());
        const int row = w->cellModel()->rowOf(id);
        QCOMPARE(w->cellModel()->index(row, library::CellStateColumn).data().toString(), state);
        // The other cell of the pack stays in it.
        const library::CellInfo second = storedCell("B-2");
        QCOMPARE(second.state, builtIn ? library::CellState::BuiltIn : library::CellState::InUse);
    }
};

QTEST_MAIN(TestLibraryWindows)
#include "tst_librarywindows.moc"
