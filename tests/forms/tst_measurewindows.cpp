// The windows of the figures of other meters on a real library: 測定の入力
// typed into as a scanner types (with the library's prefix, unknown labels,
// values out of range, the self-discharge's fields, taking the last one back),
// セルの情報's list of measurements, セル台帳's columns and its figures import,
// and the figures' limits in 判定の基準.
#include "core/FileWriter.h"
#include "forms/Ucellinfo.h"
#include "forms/Ugradelimits.h"
#include "forms/Ulibrary.h"
#include "forms/Umeasure.h"
#include "library/Library.h"
#include "library/LibraryModels.h"
#include "library/LibraryService.h"
#include "library/Scanner.h"
#include "tests/library/LibraryTestData.h"
#include "tests/support/BoxRecorder.h"
#include "tests/support/TestFiles.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestMeasureWindows : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<library::LibraryService> m_service;
    FileWriter m_files;
    QString m_path;

    // Until the worker has nothing left and every answer it sent has been handled.
    void settle()
    {
        for (int i = 0; i < 20; ++i) {
            m_service->waitForIdle();
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    }

    // Each cell's measurements as "label kind value" (value: mΩ, or drop in mV per day), newest first.
    QStringList stored()
    {
        settle();
        library::Library lib(m_path);
        QStringList out;
        for (const QString &label : lib.labels()) {
            for (const library::Measurement &m : lib.figures(lib.cellIdOf(label)))
                out << QStringLiteral("%1 %2 %3")
                           .arg(label)
                           .arg(m.kind == library::FigureKind::Resistance ? "IR" : "SD")
                           .arg(m.kind == library::FigureKind::Resistance ? m.resistanceMilliohm : m.dropMvPerDay());
        }
        return out;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath("library.sqlite");
        {
            library::Library lib(m_path);
            lib.recordRun(RunOf(1, {"C-1", "C-2", "C-3"}));
            lib.setSetting(QString::fromLatin1(library::ScannerPrefixKey), "VT:");
        }
        m_service = std::make_unique<library::LibraryService>(m_path);
        settle();
    }

    void cleanup()
    {
        m_service.reset();
        m_dir.reset();
    }

    // Steps: "type:TEXT" types into the field with the focus, "enter" (or "tab") presses
    // Enter (Tab) there, "kind:N" chooses the kind, "days:N" fills the days, "focus:NAME"
    // checks the field with the focus (Label, Resistance, Charged, Rested, Days).
    void scannerKeys_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("figures");
        QTest::addColumn<QString>("status");

        QTest::newRow("label, Enter, value, Enter")
            << QStringList{"focus:Label", "type:C-1", "enter", "focus:Resistance", "type:23.5", "enter", "focus:Label"}
            << QStringList{"C-1 IR 23.5"} << "記録しました: C-1 23.5 mΩ";
        QTest::newRow("the scanner's prefix is taken off")
            << QStringList{"type:VT:C-2", "enter", "type:40", "enter", "type:VT:C-3", "enter", "type:41.2", "enter"}
            << QStringList{"C-2 IR 40", "C-3 IR 41.2"} << "記録しました: C-3 41.2 mΩ";
        QTest::newRow("a scanner that ends with Tab")
            << QStringList{"type:VT:C-1", "tab", "focus:Resistance", "type:12.5", "tab", "focus:Label"}
            << QStringList{"C-1 IR 12.5"} << "記録しました: C-1 12.5 mΩ";
        QTest::newRow("an unknown label stays to be scanned again") << QStringList{"type:Z-9", "enter", "focus:Label",
            "type:40", "enter", "focus:Label"} << QStringList{} << "セル 40 はありません";
        QTest::newRow("a value out of range stays to be typed again") << QStringList{"type:C-1", "enter", "type:0",
            "enter", "focus:Resistance"} << QStringList{} << "内部抵抗は 0 より大きく 10000 mΩ 以下です";
        QTest::newRow("a value that is no number") << QStringList{"type:C-1", "enter", "type:abc", "enter",
            "focus:Resistance"} << QStringList{} << "数を入力してください";
        QTest::newRow("self-discharge: label, after charge, after rest")
            << QStringList{"kind:1", "days:10", "focus:Label", "type:C-1", "enter", "focus:Charged", "type:4.20",
                   "enter", "focus:Rested", "type:4.15", "enter", "focus:Label", "type:C-2", "enter", "type:4.2",
                   "enter", "type:4.1", "enter"}
            << QStringList{"C-1 SD 5", "C-2 SD 10"} << "記録しました: C-2 4.200 V → 4.100 V / 10 日 (10.0 mV/日)";
        QTest::newRow("self-discharge without days")
            << QStringList{"kind:1", "type:C-1", "enter", "type:4.2", "enter", "type:4.1", "enter", "focus:Days"}
            << QStringList{} << "日数を入力してください";
    }
    void scannerKeys()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, figures);
        QFETCH(QString, status);
        Tmeasure w(m_service.get());
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        settle();
        for (const QString &step : steps) {
            const QString arg = step.section(QLatin1Char(':'), 1);
            QWidget *focus = QApplication::focusWidget();
            if (step.startsWith("type:")) {
                QVERIFY(focus);
                QTest::keyClicks(focus, arg);
            } else if (step == "enter" || step == "tab") {
                QVERIFY(focus);
                QTest::keyClick(focus, step == "enter" ? Qt::Key_Return : Qt::Key_Tab);
                settle();
            } else if (step.startsWith("kind:")) {
                w.kindBox->setCurrentIndex(arg.toInt());
            } else if (step.startsWith("days:")) {
                w.daysEdit->setText(arg);
            } else if (step.startsWith("focus:")) {
                QVERIFY(focus);
                QCOMPARE(focus->objectName(), arg);
            }
        }
        settle();
        QCOMPARE(w.pending(), 0);
        QCOMPARE(stored(), figures);
        QCOMPARE(w.statusLabel->text(), status);
        QCOMPARE(w.entryView->rowCount(), int(figures.size()));
        QVERIFY(w.isVisible());
    }

    // 取り消し takes back the last measurement stored by the window, then the one before.
    void undoTakesBackTheLast()
    {
        Tmeasure w(m_service.get());
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        settle();
        QVERIFY(!w.undoButton->isEnabled());
        for (const char *text : {"C-1", "30", "C-2", "31", "C-3", "32"}) {
            QTest::keyClicks(QApplication::focusWidget(), text);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            settle();
        }
        QCOMPARE(stored(), (QStringList{"C-1 IR 30", "C-2 IR 31", "C-3 IR 32"}));
        QVERIFY(w.undoButton->isEnabled());
        w.undoButton->click();
        settle();
        QCOMPARE(stored(), (QStringList{"C-1 IR 30", "C-2 IR 31"}));
        QCOMPARE(w.entryView->item(0, 3)->text(), QStringLiteral("取り消し"));
        QCOMPARE(w.entryView->item(1, 3)->text(), QStringLiteral("記録"));
        w.undoButton->click();
        settle();
        QCOMPARE(stored(), (QStringList{"C-1 IR 30"}));
        QCOMPARE(w.entryView->item(1, 3)->text(), QStringLiteral("取り消し"));
        QCOMPARE(QApplication::focusWidget(), w.labelEdit);
    }

    // A cell deleted meanwhile: the measurement's row says why it was not stored.
    void refusedByTheLibrary()
    {
        Tmeasure w(m_service.get());
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        settle();
        QTest::keyClicks(w.labelEdit, "C-2");
        QTest::keyClick(w.labelEdit, Qt::Key_Return);
        {
            // Gone after the window read the labels: only the library knows.
            library::Library lib(m_path);
            library::CellInfo info = lib.cell(lib.cellIdOf("C-2"));
            info.label = "C-20";
            lib.updateCell(info);
        }
        QTest::keyClicks(w.resistanceEdit, "20");
        QTest::keyClick(w.resistanceEdit, Qt::Key_Return);
        settle();
        QCOMPARE(w.entryView->item(0, 3)->text(), QStringLiteral("セル C-2 はありません"));
        QCOMPARE(w.statusLabel->text(), QStringLiteral("セル C-2 はありません"));
        QCOMPARE(stored(), QStringList{});
    }

    void cellInfoListsAddsAndDeletes()
    {
        {
            library::Library lib(m_path);
            library::Measurement m;
            m.cellId = lib.cellIdOf("C-1");
            m.date = QDate(2026, 12, 1);
            m.resistanceMilliohm = 30.0;
            lib.addFigure(m);
        }
        library::CellInfo info;
        {
            library::Library lib(m_path);
            info = lib.cell(lib.cellIdOf("C-1"));
        }
        Tcellinfo dlg(info, m_service.get());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        settle();
        QVERIFY(dlg.figureView);
        QCOMPARE(dlg.figureView->rowCount(), 1);
        QCOMPARE(dlg.figureView->item(0, 2)->text(), QStringLiteral("30.0 mΩ"));

        // A self-discharge typed as its three figures, Enter: added, the dialog stays open.
        dlg.figureKindBox->setCurrentIndex(1);
        dlg.figureDateEdit->setDate(QDate(2026, 12, 5));
        QTest::keyClicks(dlg.figureValueEdit, "4.18/4.12/30");
        QTest::keyClick(dlg.figureValueEdit, Qt::Key_Return);
        settle();
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.result(), 0);
        QCOMPARE(dlg.figureView->rowCount(), 2);
        QCOMPARE(dlg.figureView->item(0, 0)->text(), QStringLiteral("2026/12/05"));
        QCOMPARE(dlg.figureView->item(0, 1)->text(), QStringLiteral("自己放電"));
        QCOMPARE(dlg.figureView->item(0, 2)->text(), QStringLiteral("4.180 V → 4.120 V / 30 日 (2.0 mV/日)"));
        QVERIFY(dlg.figureValueEdit->text().isEmpty());

        // Out of range: told, nothing added.
        dlg.figureKindBox->setCurrentIndex(0);
        QTest::keyClicks(dlg.figureValueEdit, "10001");
        QTest::keyClick(dlg.figureValueEdit, Qt::Key_Return);
        settle();
        QCOMPARE(dlg.figureMessageLabel->text(), QStringLiteral("内部抵抗は 0 より大きく 10000 mΩ 以下です"));
        QCOMPARE(dlg.figureView->rowCount(), 2);

        // The older one deleted.
        dlg.figureView->selectRow(1);
        dlg.deleteFigureButton->click();
        settle();
        QCOMPARE(dlg.figureView->rowCount(), 1);
        QCOMPARE(stored(), QStringList{"C-1 SD 2"});
        // Nothing chosen: told so.
        dlg.figureView->clearSelection();
        dlg.figureView->setCurrentCell(-1, -1);
        dlg.deleteFigureButton->click();
        QCOMPARE(dlg.figureMessageLabel->text(), QStringLiteral("削除する測定を選んでください"));
        // Without a service there is no list.
        Tcellinfo plain(info);
        QVERIFY(!plain.figureView);
    }

    // The セル tab's latest figures, the same in its CSV; the figures CSV imported with the columns chosen, kept
    // for the next import.
    void ledgerColumnsAndImport()
    {
        BoxRecorder boxes;
        const QString csv = m_dir->filePath("meter.csv");
        WriteFile(csv,
            "値,ラベル,日付,種類\r\n"
            "22.5,C-1,2026/12/01,内部抵抗\r\n"
            "0,C-2,2026/12/01,内部抵抗\r\n"
            "4.2/4.15/10,C-2,2026/12/02,自己放電\r\n"
            "30,Z-1,2026/12/02,内部抵抗\r\n");
        Tlibrary w(m_service.get(), &m_files);
        w.IniPath = m_dir->filePath("voltrak.ini");
        w.show();
        settle();
        QStringList shownFile;
        w.FigureColumnsDialog = [&](const QString &file, library::FigureColumns &columns) {
            shownFile << file;
            // The defaults the first time, the columns chosen then afterwards.
            if (shownFile.size() == 1) {
                [&] { QVERIFY(columns == library::FigureColumns()); }();
                columns.value = 0;
                columns.label = 1;
                columns.date = 2;
                columns.figure = 3;
            } else {
                [&] { QCOMPARE(library::FigureColumnsText(columns), QStringLiteral("2,3,4,1,header")); }();
            }
            return true;
        };
        QSignalSpy imported(&w, &Tlibrary::figuresImported);
        w.ImportFigures(csv);
        QTRY_COMPARE(imported.size(), 1);
        settle();
        QCOMPARE(boxes.texts().size(), 1);
        QCOMPARE(boxes.texts().first(),
            QStringLiteral("測定の取り込み結果|記録: 4\n新しい測定: 2\n既知の測定: 0\n取り込まなかった記録: 2\n"
                           "行 3: 内部抵抗は 0 より大きく 10000 mΩ 以下です: 0,C-2,2026/12/01,内部抵抗\n"
                           "行 5: ラベル Z-1 のセルはありません: 30,Z-1,2026/12/02,内部抵抗\n"));
        const QAbstractItemModel *m = w.cellView->model();
        QCOMPARE(m->headerData(library::CellResistance, Qt::Horizontal).toString(), QStringLiteral("内部抵抗(mΩ)"));
        QCOMPARE(
            m->headerData(library::CellSelfDischarge, Qt::Horizontal).toString(), QStringLiteral("自己放電(mV/日)"));
        QStringList shown;
        for (int r = 0; r < m->rowCount(); ++r)
            shown << m->index(r, library::CellLabel).data().toString() + '='
                    + m->index(r, library::CellResistance).data().toString() + '/'
                    + m->index(r, library::CellSelfDischarge).data().toString();
        QCOMPARE(shown, (QStringList{"C-1=22.5/", "C-2=/5.0", "C-3=/"}));
        // The CSV of the tab has what it shows.
        const QStringList lines = QString::fromUtf8(library::CellsCsv(w.shownCells(), w.gradeLimits())).split("\r\n");
        const qsizetype ir = lines.first().split(',').indexOf("内部抵抗(mΩ)");
        QVERIFY(ir >= 0);
        QCOMPARE(lines.at(1).split(',').at(ir), QStringLiteral("22.5"));

        // Again: the columns kept are offered, nothing is stored twice.
        w.ImportFigures(csv);
        QTRY_COMPARE(imported.size(), 2);
        QVERIFY2(boxes.texts().last().contains("新しい測定: 0\n既知の測定: 2\n"), qPrintable(boxes.texts().last()));
        QCOMPARE(shownFile, (QStringList{csv, csv}));
        // Cancelled: nothing asked of the library.
        w.FigureColumnsDialog = [](const QString &, library::FigureColumns &) { return false; };
        w.ImportFigures(csv);
        settle();
        QCOMPARE(imported.size(), 2);
    }

    void gradeLimitsOfTheFigures()
    {
        Tgradelimits dlg(m_service.get());
        settle();
        QVERIFY(dlg.isLoaded());
        QVERIFY(dlg.goodResistanceEdit->text().isEmpty());
        dlg.goodResistanceEdit->setText("30");
        dlg.fairResistanceEdit->setText("abc");
        dlg.okClicked();
        QCOMPARE(dlg.messageLabel->text(), QStringLiteral("上限は 0 より大きい数で入力してください（空欄は上限なし）"));
        dlg.fairResistanceEdit->setText("25");
        dlg.okClicked();
        QCOMPARE(dlg.messageLabel->text(), QStringLiteral("「良」の上限は「可」の上限以下にしてください"));
        dlg.fairResistanceEdit->setText(" 50 ");
        dlg.fairSelfDischargeEdit->setText("4.5");
        dlg.okClicked();
        settle();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        library::Library lib(m_path);
        const library::GradeLimits l = lib.gradeLimits();
        QCOMPARE(l.goodResistance, std::optional<double>(30.0));
        QCOMPARE(l.fairResistance, std::optional<double>(50.0));
        QCOMPARE(l.goodSelfDischarge, std::optional<double>());
        QCOMPARE(l.fairSelfDischarge, std::optional<double>(4.5));
        // Read back into the fields the next time.
        Tgradelimits again(m_service.get());
        settle();
        QCOMPARE(again.fairSelfDischargeEdit->text(), QStringLiteral("4.5"));
        QCOMPARE(again.goodSelfDischargeEdit->text(), QString());
    }
};

QTEST_MAIN(TestMeasureWindows)
#include "tst_measurewindows.moc"
