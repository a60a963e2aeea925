// "組電池の設計" and "判定の基準" driven by keys on a real cell library, the
// library's worker thread doing the work.
#include "core/FileWriter.h"
#include "forms/Ugradelimits.h"
#include "forms/Upackplan.h"
#include "library/Library.h"
#include "library/LibraryService.h"
#include "packs/PackCommand.h"
#include "tests/support/TestFiles.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

namespace {

// Eight cells: E-1..E-4 with 160, 152, 140 and 120 minutes to 1.00 V,
// E-5..E-8 with 158, 150, 100 and 90; E-1 has a nominal that makes it 良.
void fill(const QString &path)
{
    library::Library lib(path);
    QVERIFY2(lib.isWritable(), qPrintable(lib.reason()));
    const auto table = [&](const QList<int> &steps, const QStringList &labels, int day) {
        library::RunInput run;
        run.when = QDateTime(QDate(2026, 12, day), QTime(9, 0));
        run.source = QStringLiteral("a.log");
        for (int k = 0; k <= 4; ++k) {
            QByteArray r = "1." + QByteArray::number(4 - k) + "0V";
            for (int s : steps)
                r += ' ' + QByteArray::number(k * s / 4);
            run.rows << r;
        }
        for (int j = 0; j < 4; ++j)
            run.labels[j] = labels.at(j);
        lib.recordRun(run);
    };
    table({160, 152, 140, 120}, {"E-1", "E-2", "E-3", "E-4"}, 1);
    table({158, 150, 100, 90}, {"E-5", "E-6", "E-7", "E-8"}, 2);
    library::CellInfo e1 = lib.cell(lib.cellIdOf("E-1"));
    e1.hasNominal = true;
    e1.nominalMah = 3000;
    lib.updateCell(e1);
}

QStringList plannedLabels(const Tpackplan &dlg)
{
    QStringList labels;
    for (const auto &pack : dlg.plan()->packs)
        for (const auto &g : pack.groups)
            for (int k : g.cells)
                labels << dlg.libraryPlan().pool.at(k).label;
    labels.sort();
    return labels;
}

void typeInto(QWidget *field, const QString &text)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
}

} // namespace

class TestPackDialog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void planByKeys();
    void windowPlansAsTheCommandLine_data();
    void windowPlansAsTheCommandLine();
    void tooFewCells_data();
    void tooFewCells();
    void gradeLimits_data();
    void gradeLimits();
    void savedFilesTakeTheTypesExtension();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<library::LibraryService> m_service;
    FileWriter m_files;
};

void TestPackDialog::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    fill(m_dir->filePath("library.sqlite"));
    m_service = std::make_unique<library::LibraryService>(m_dir->filePath("library.sqlite"));
    m_service->waitForIdle();
}

void TestPackDialog::cleanup()
{
    m_service.reset();
    m_dir.reset();
}

void TestPackDialog::planByKeys()
{
    Tpackplan dlg(m_service.get(), &m_files, std::nullopt);
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QSignalSpy ready(&dlg, &Tpackplan::planReady);
    typeInto(dlg.seriesEdit, "4");
    QTest::keyClick(&dlg, Qt::Key_R, Qt::AltModifier);
    QTRY_COMPARE(ready.count(), 1);
    QVERIFY2(dlg.statusLabel->text().isEmpty(), qPrintable(dlg.statusLabel->text()));
    // The four of closest capacity: 150, 152, 158 and 160 minutes.
    QCOMPARE(plannedLabels(dlg), (QStringList{"E-1", "E-2", "E-5", "E-6"}));
    QCOMPARE(dlg.planView->topLevelItemCount(), 1);
    QCOMPARE(dlg.planView->topLevelItem(0)->childCount(), 4);
    QVERIFY(dlg.figuresLabel->text().contains(QStringLiteral("余ったセル: 4")));
    QVERIFY(dlg.recordButton->isEnabled());

    QSignalSpy done(&dlg, &Tpackplan::workDone);
    dlg.saveCsv(m_dir->filePath("plan.csv"));
    QTRY_COMPARE(done.count(), 1);
    QVERIFY(ReadFile(m_dir->filePath("plan.csv")).startsWith("\xEF\xBB\xBF\xE3\x83\x91"));
    dlg.savePdf(m_dir->filePath("plan.pdf"));
    QTRY_COMPARE(done.count(), 2);
    QVERIFY(ReadFile(m_dir->filePath("plan.pdf")).startsWith("%PDF-"));

    // 組込み記録 by keys: the name typed into the question, then Enter. The
    // mnemonic clicks a moment later, so wait for the question to appear.
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&watch] {
        auto *ask = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
        if (!ask || !ask->isVisible())
            return;
        watch.stop();
        QTest::keyClicks(ask->findChild<QLineEdit *>(), QStringLiteral("Tool 4S"));
        QTest::keyClick(ask->findChild<QLineEdit *>(), Qt::Key_Return);
    });
    watch.start(10);
    QTest::keyClick(&dlg, Qt::Key_A, Qt::AltModifier);
    QTRY_COMPARE(done.count(), 3);
    QCOMPARE(dlg.statusLabel->text(), QStringLiteral("組込み: Tool 4S を記録しました"));
    QVERIFY(!dlg.hasPlan());
    QVERIFY(!dlg.recordButton->isEnabled());

    // The next plan is made of the other four.
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QTest::keyClick(&dlg, Qt::Key_R, Qt::AltModifier);
    QTRY_COMPARE(ready.count(), 2);
    QCOMPARE(plannedLabels(dlg), (QStringList{"E-3", "E-4", "E-7", "E-8"}));
    m_service->waitForIdle();
    library::Library lib(m_dir->filePath("library.sqlite"));
    const library::CellInfo e1 = lib.cell(lib.cellIdOf("E-1"));
    QCOMPARE(library::CellStateText(e1.state, e1.pack), QStringLiteral("組込み: Tool 4S"));
}

// The window and --pack make one plan of one library: the same CSV, byte for byte.
void TestPackDialog::windowPlansAsTheCommandLine_data()
{
    QTest::addColumn<int>("series");
    QTest::addColumn<int>("parallel");
    QTest::addColumn<int>("packs");
    QTest::addColumn<bool>("curve");
    QTest::addColumn<bool>("even"); // 揃い優先, else 容量優先
    QTest::newRow("4S1P") << 4 << 1 << 1 << false << false;
    QTest::newRow("2S2P") << 2 << 2 << 1 << false << false;
    QTest::newRow("2S1P x 3") << 2 << 1 << 3 << false << false;
    QTest::newRow("2S2P with curves") << 2 << 2 << 1 << true << false;
    QTest::newRow("3S1P x 2 with curves") << 3 << 1 << 2 << true << false;
    QTest::newRow("2S2P, closest cells") << 2 << 2 << 1 << false << true;
    QTest::newRow("3S1P x 2, closest cells with curves") << 3 << 1 << 2 << true << true;
}

void TestPackDialog::windowPlansAsTheCommandLine()
{
    QFETCH(int, series);
    QFETCH(int, parallel);
    QFETCH(int, packs);
    QFETCH(bool, curve);
    QFETCH(bool, even);

    Tpackplan dlg(m_service.get(), &m_files, std::nullopt);
    dlg.show();
    QSignalSpy ready(&dlg, &Tpackplan::planReady);
    dlg.seriesEdit->setValue(series);
    dlg.parallelEdit->setValue(parallel);
    dlg.packsEdit->setValue(packs);
    dlg.criterionBox->setCurrentIndex(curve ? 1 : 0);
    dlg.aimBox->setCurrentIndex(even ? 1 : 0);
    dlg.calcButton->click();
    QTRY_COMPARE(ready.count(), 1);
    QVERIFY(dlg.hasPlan());
    QSignalSpy done(&dlg, &Tpackplan::workDone);
    dlg.saveCsv(m_dir->filePath("window.csv"));
    QTRY_COMPARE(done.count(), 1);
    QByteArray window = ReadFile(m_dir->filePath("window.csv"));
    QVERIFY(window.startsWith("\xEF\xBB\xBF"));
    window.remove(0, 3);

    m_service->waitForIdle();
    packs::PackCommandOptions options;
    options.shape = QStringLiteral("%1S%2P").arg(series).arg(parallel);
    options.packs = packs;
    options.curve = curve;
    options.aim = even ? packs::Aim::Even : packs::Aim::Capacity;
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QString errors;
    QTextStream err(&errors);
    QCOMPARE(packs::RunPack(m_dir->filePath("library.sqlite"), options, out, err), 0);
    err.flush();
    QCOMPARE(errors, QString());
    QCOMPARE(out.data(), window);
}

void TestPackDialog::tooFewCells_data()
{
    QTest::addColumn<QString>("series");
    QTest::addColumn<QString>("parallel");
    QTest::addColumn<bool>("goodOnly");
    QTest::addColumn<bool>("onlyShown"); // only E-1..E-3 shown in the cells tab
    QTest::addColumn<QString>("message");
    QTest::newRow("9S") << "9"
                        << "1" << false << false << "セルが足りません（必要 9、候補 8）";
    QTest::newRow("2S2P of 良") << "2"
                                << "2" << true << false << "セルが足りません（必要 4、候補 1）";
    QTest::newRow("4S of three shown") << "4"
                                       << "1" << false << true << "セルが足りません（必要 4、候補 3）";
}

void TestPackDialog::tooFewCells()
{
    QFETCH(QString, series);
    QFETCH(QString, parallel);
    QFETCH(bool, goodOnly);
    QFETCH(bool, onlyShown);
    QFETCH(QString, message);
    std::optional<QList<qint64>> shown;
    if (onlyShown) {
        library::Library lib(m_dir->filePath("library.sqlite"));
        shown = QList<qint64>{lib.cellIdOf("E-1"), lib.cellIdOf("E-2"), lib.cellIdOf("E-3")};
    }
    Tpackplan dlg(m_service.get(), &m_files, shown);
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QSignalSpy ready(&dlg, &Tpackplan::planReady);
    typeInto(dlg.seriesEdit, series);
    typeInto(dlg.parallelEdit, parallel);
    if (goodOnly)
        QTest::keyClick(&dlg, Qt::Key_G, Qt::AltModifier);
    QTRY_COMPARE(dlg.goodOnlyCheck->isChecked(), goodOnly);
    QTest::keyClick(&dlg, Qt::Key_R, Qt::AltModifier);
    QTRY_COMPARE(ready.count(), 1);
    QCOMPARE(dlg.statusLabel->text(), message);
    QVERIFY(!dlg.hasPlan());
    QCOMPARE(dlg.planView->topLevelItemCount(), 0);
    QVERIFY(!dlg.csvButton->isEnabled() && !dlg.pdfButton->isEnabled() && !dlg.recordButton->isEnabled());
}

void TestPackDialog::gradeLimits_data()
{
    QTest::addColumn<QString>("good");
    QTest::addColumn<QString>("fair");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("lower limits") << "85"
                                  << "60.5" << true;
    QTest::newRow("fair above good") << "70"
                                     << "75" << false;
}

void TestPackDialog::gradeLimits()
{
    QFETCH(QString, good);
    QFETCH(QString, fair);
    QFETCH(bool, accepted);
    Tgradelimits dlg(m_service.get());
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QTRY_VERIFY(dlg.isLoaded());
    QCOMPARE(dlg.goodEdit->value(), 90.0);
    QCOMPARE(dlg.fairEdit->value(), 80.0);
    typeInto(dlg.goodEdit, good);
    typeInto(dlg.fairEdit, fair);
    QTest::keyClick(dlg.fairEdit, Qt::Key_Return);
    QCOMPARE(dlg.result() == QDialog::Accepted, accepted);
    QCOMPARE(dlg.isVisible(), !accepted);
    QCOMPARE(dlg.messageLabel->text().isEmpty(), accepted);
    m_service->waitForIdle();
    library::Library lib(m_dir->filePath("library.sqlite"));
    const library::GradeLimits stored = lib.gradeLimits();
    QCOMPARE(stored.good, accepted ? good.toDouble() : 90.0);
    QCOMPARE(stored.fair, accepted ? fair.toDouble() : 80.0);
}

// A name typed without an extension in CSV保存 and PDF保存 takes the type's.
void TestPackDialog::savedFilesTakeTheTypesExtension()
{
    Tpackplan dlg(m_service.get(), &m_files, std::nullopt);
    dlg.show();
    QSignalSpy ready(&dlg, &Tpackplan::planReady), done(&dlg, &Tpackplan::workDone);
    dlg.calcClicked();
    QTRY_COMPARE(ready.count(), 1);
    // A whole path, so that no folder "plan" where the dialog opens is taken instead.
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&] {
        if (auto *ask = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            answer.stop();
            ask->findChild<QLineEdit *>("fileNameEdit")->setText(m_dir->filePath("plan"));
            QTest::keyClick(ask->findChild<QLineEdit *>("fileNameEdit"), Qt::Key_Return);
        }
    });
    for (const auto &[button, file, start] : {std::tuple{dlg.csvButton, "plan.csv", QByteArray("\xEF\xBB\xBF")},
             std::tuple{dlg.pdfButton, "plan.pdf", QByteArray("%PDF-")}}) {
        answer.start(10);
        button->click();
        QTRY_COMPARE(done.count(), file == QLatin1String("plan.csv") ? 1 : 2);
        QCOMPARE(dlg.statusLabel->text(), QStringLiteral("保存しました: %1").arg(m_dir->filePath(file)));
        QVERIFY(ReadFile(m_dir->filePath(file)).startsWith(start));
    }
}

QTEST_MAIN(TestPackDialog)
#include "tst_packdialog.moc"
