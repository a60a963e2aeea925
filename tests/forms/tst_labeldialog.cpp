// ラベル印刷 from セル台帳 on a real library: the cells it is for, the PDF it
// saves and the pages it prints read back by pdftoppm and zbarimg, the labels
// it refuses; and the scanner's prefix it keeps in the library, which
// 装着セル then takes off what a scanner types.
#include "core/FileWriter.h"
#include "forms/LabelCommand.h"
#include "forms/Ubays.h"
#include "forms/Ulabelprint.h"
#include "forms/Ulibrary.h"
#include "labels/LabelSizes.h"
#include "library/Capture.h"
#include "library/Library.h"
#include "library/LibraryService.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/Fonts.h"

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

constexpr double PxPerMm = 300 / 25.4;

library::RunInput run(int step, const QStringList &labels)
{
    library::RunInput in;
    in.when = QDateTime(QDate(2026, 11, 1), QTime(9, 0)).addDays(step);
    in.source = library::ReceivedSource(1);
    for (int r = 0; r <= 4; ++r) {
        QByteArray row = "1." + QByteArray::number(40 - 10 * r).rightJustified(2, '0') + "V";
        for (int j = 0; j < 4; ++j)
            row += ' ' + QByteArray::number(r * (40 + 10 * j + step));
        in.rows << row;
    }
    for (int i = 0; i < library::BayCount && i < labels.size(); ++i)
        in.labels[i] = labels.at(i);
    return in;
}

QString Output(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(120000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The codes of the first `count` labels of an a4-65 sheet, read label by label.
QStringList ReadSheet(const QString &pdf, int count)
{
    QTemporaryDir dir;
    Output("pdftoppm", {"-r", "300", "-gray", "-png", "-f", "1", "-l", "1", pdf, dir.filePath("page")});
    const QStringList pages = QDir(dir.path()).entryList({"page*.png"}, QDir::Files, QDir::Name);
    if (pages.isEmpty())
        return {"<no page>"};
    const QImage sheet(dir.filePath(pages.first()));
    const labels::LabelSize &size = *labels::FindLabelSize("a4-65");
    QStringList codes;
    for (int i = 0; i < count; ++i) {
        const QRectF mm = labels::LabelRectOnPage(size, i);
        const QString crop = dir.filePath(QStringLiteral("label-%1.png").arg(i));
        sheet.copy(QRectF(mm.topLeft() * PxPerMm, mm.size() * PxPerMm).toRect()).save(crop);
        codes << Output("zbarimg", {"--raw", "-q", "-Sdisable", "-Sqrcode.enable", crop})
                     .split('\n', Qt::SkipEmptyParts)
                     .join('|');
    }
    return codes;
}

} // namespace

class TestLabelDialog : public QObject
{
    Q_OBJECT
    QStringList m_boxes;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<library::LibraryService> m_service;
    FileWriter m_files;

    void settle()
    {
        for (int i = 0; i < 20; ++i) {
            m_service->waitForIdle();
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
        m_service->waitForIdle();
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

    // The labels of the cells ラベル印刷 was opened for.
    static QStringList dialogCells(Tlibrary &w)
    {
        QStringList cells;
        w.LabelDialog = [&cells](const QList<library::CellSummary> &chosen) {
            for (const library::CellSummary &c : chosen)
                cells << c.info.label;
        };
        w.labelsButton->click();
        return cells;
    }

    // The dialog for those cells as セル台帳 would open it.
    std::unique_ptr<Tlabelprint> dialogFor(Tlibrary &w, const QStringList &cells)
    {
        std::unique_ptr<Tlabelprint> dlg;
        w.LabelDialog = [&](const QList<library::CellSummary> &chosen) {
            QList<labels::LabelContent> contents;
            for (const library::CellSummary &c : chosen)
                contents << celllabels::ContentOf(c, w.gradeLimits());
            dlg = std::make_unique<Tlabelprint>(contents, m_service.get(), &m_files);
        };
        w.cellView->clearSelection();
        for (const QString &label : cells)
            select(w, label);
        w.labelsButton->click();
        settle();
        return dlg;
    }

    static void select(Tlibrary &w, const QString &label)
    {
        QAbstractItemModel *m = w.cellView->model();
        for (int r = 0; r < m->rowCount(); ++r)
            if (m->index(r, library::CellLabel).data().toString() == label)
                w.cellView->selectionModel()->select(
                    m->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

private slots:
    void initTestCase()
    {
        fonts::InstallSubstitutions();
        errors::SetBoxHook(
            [this](errors::BoxKind, const QString &title, const QString &text) { m_boxes << title + '|' + text; });
    }

    void init()
    {
        m_boxes.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        m_service = std::make_unique<library::LibraryService>(m_dir->filePath("library.sqlite"));
        settle(); // recording waits for the library to be open
        connect(m_service.get(), &library::LibraryService::failed, this,
            [this](const QString &text) { m_boxes << QStringLiteral("failed|") + text; });
        m_service->record(run(0, {"B-2", "A-1", "C-3", "D-4"}));
        m_service->record(run(1, {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "", "", ""}));
        settle();
    }

    void cleanup()
    {
        m_service.reset();
        m_dir.reset();
        QCOMPARE(m_boxes, QStringList());
    }

    void theCellsItIsFor_data()
    {
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("cells");
        QTest::newRow("none selected: every one shown")
            << QStringList() << "" << QStringList{"A-1", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", "B-2", "C-3", "D-4"};
        QTest::newRow("none selected, filtered") << QStringList() << "-" << QStringList{"A-1", "B-2", "C-3", "D-4"};
        QTest::newRow("the selected, in the order shown")
            << QStringList{"D-4", "A-1"} << "" << QStringList{"A-1", "D-4"};
    }
    void theCellsItIsFor()
    {
        QFETCH(QStringList, selected);
        QFETCH(QString, filter);
        QFETCH(QStringList, cells);
        auto w = shownLibrary();
        QCOMPARE(w->labelsButton->text(), QStringLiteral("ラベル印刷(&L)..."));
        w->filterEdit->setText(filter);
        for (const QString &label : selected)
            select(*w, label);
        QCOMPARE(dialogCells(*w), cells);
    }

    // Three labels saved as PDF through the file writer, or printed to a PDF printer: the same three codes.
    void threeLabelsReadBack_data()
    {
        QTest::addColumn<bool>("print");
        QTest::newRow("PDF保存") << false;
        QTest::newRow("印刷") << true;
    }
    void threeLabelsReadBack()
    {
        QFETCH(bool, print);
        auto w = shownLibrary();
        auto dlg = dialogFor(*w, {"A-1", "C-3", "D-4"});
        QVERIFY(dlg);
        QCOMPARE(dlg->refusals(), QStringList());
        QVERIFY(dlg->printButton->isEnabled());
        QVERIFY(dlg->pdfButton->isEnabled());
        QCOMPARE(dlg->labelSize().name, QStringLiteral("a4-65"));
        QCOMPARE(dlg->symbology(), labels::Symbology::Qr);
        // The preview is the sheet at its proportions, with ink on it.
        QVERIFY(!dlg->preview().isNull());
        QCOMPARE(qRound(100.0 * dlg->preview().height() / dlg->preview().width()), qRound(100.0 * 297 / 210));
        QVERIFY(!dlg->previewView->pixmap().isNull());

        const QString pdf = m_dir->filePath("labels.pdf");
        if (print) {
            dlg->PrintDialog = [pdf](QPrinter &printer) {
                printer.setOutputFormat(QPrinter::PdfFormat);
                printer.setOutputFileName(pdf);
                return true;
            };
            dlg->printButton->click();
        } else {
            dlg->SaveDialog = [pdf] { return pdf; };
            QSignalSpy saved(dlg.get(), &Tlabelprint::saved);
            dlg->pdfButton->click();
            QVERIFY(saved.wait(30000));
            QCOMPARE(dlg->statusLabel->text(), QStringLiteral("保存しました: ") + pdf);
        }
        QCOMPARE(ReadSheet(pdf, 3), (QStringList{"A-1", "C-3", "D-4"}));
    }

    // A label the code cannot hold is listed with its reason, and nothing is printed until it can be.
    void refusedBeforePrinting()
    {
        auto w = shownLibrary();
        auto dlg = dialogFor(*w, {"A-1", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"});
        QVERIFY(dlg);
        // On tape the label grows to hold it.
        dlg->sizeBox->setCurrentIndex(dlg->sizeBox->findData(QStringLiteral("tape-24")));
        QCOMPARE(dlg->refusals(), QStringList());
        QVERIFY(dlg->printButton->isEnabled());
        QVERIFY(dlg->pdfButton->isEnabled());
        QVERIFY(dlg->refusalsLabel->isHidden());
        dlg->sizeBox->setCurrentIndex(dlg->sizeBox->findData(QStringLiteral("a4-65")));
        dlg->codeBox->setCurrentIndex(dlg->codeBox->findData(int(labels::Symbology::Code128)));
        labels::LabelContent longOne;
        longOne.code = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
        const QString reason
            = labels::RefusalReason(longOne, *labels::FindLabelSize("a4-65"), labels::Symbology::Code128);
        QVERIFY(reason.contains("Code 128"));
        QCOMPARE(dlg->refusals(), QStringList{reason});
        QCOMPARE(dlg->refusalsLabel->text(), QStringLiteral("印刷できないラベルがあります:\n") + reason);
        QVERIFY(!dlg->printButton->isEnabled());
        QVERIFY(!dlg->pdfButton->isEnabled());
        // The one that fits is still previewed.
        QVERIFY(!dlg->preview().isNull());
        // Nothing is written even when asked.
        const QString pdf = m_dir->filePath("refused.pdf");
        dlg->savePdf(pdf);
        QVERIFY(!QFile::exists(pdf));
    }

    // The prefix set in ラベル印刷 is the library's, and 装着セル takes it off what the scanner types.
    void scannerPrefix_data()
    {
        QTest::addColumn<QString>("prefix"); // set in the dialog; empty: none
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("end"); // the key the scanner ends with
        QTest::addColumn<QString>("label");
        QTest::newRow("prefix, Enter") << "VT:"
                                       << "VT:A-1" << int(Qt::Key_Return) << "A-1";
        QTest::newRow("prefix, Tab") << "VT:"
                                     << "VT:A-1" << int(Qt::Key_Tab) << "A-1";
        QTest::newRow("prefix, keypad Enter") << "VT:"
                                              << "VT:C-3" << int(Qt::Key_Enter) << "C-3";
        QTest::newRow("typed without the prefix") << "VT:"
                                                  << "B-2" << int(Qt::Key_Return) << "B-2";
        QTest::newRow("a new cell behind the prefix") << "VT:"
                                                      << "VT:Z-9" << int(Qt::Key_Tab) << "Z-9";
        QTest::newRow("no prefix set: all of it is the label") << ""
                                                               << "VT:A-1" << int(Qt::Key_Return) << "VT:A-1";
        QTest::newRow("another prefix") << "#"
                                        << "#D-4" << int(Qt::Key_Return) << "D-4";
    }
    void scannerPrefix()
    {
        QFETCH(QString, prefix);
        QFETCH(QString, typed);
        QFETCH(int, end);
        QFETCH(QString, label);
        library::BayAssignment assignment;
        Tbays bays(&assignment, m_service.get());
        settle();
        QCOMPARE(bays.scannerPrefix(), QString());
        if (!prefix.isEmpty()) {
            auto w = shownLibrary();
            auto dlg = dialogFor(*w, {"A-1"});
            QVERIFY(dlg);
            QVERIFY(dlg->prefixEdit->isEnabled());
            QSignalSpy written(dlg.get(), &Tlabelprint::prefixWritten);
            dlg->prefixEdit->setText(QLatin1Char(' ') + prefix);
            emit dlg->prefixEdit->editingFinished();
            QVERIFY(written.wait(10000));
            settle();
            library::Library direct(m_dir->filePath("library.sqlite"));
            QCOMPARE(direct.setting("scanner.prefix"), prefix);
        }
        // Announced to the 装着セル that is there, and read by one shown later.
        QCOMPARE(bays.scannerPrefix(), prefix);
        Tbays later(&assignment, m_service.get());
        QCOMPARE(later.scannerPrefix(), QString());
        later.show();
        settle();
        QCOMPARE(later.scannerPrefix(), prefix);
        later.hide();

        bays.show();
        QVERIFY(QTest::qWaitForWindowActive(&bays));
        settle();
        QCOMPARE(QApplication::focusWidget(), bays.bayEdits[0]);
        QTest::keyClicks(bays.bayEdits[0], typed);
        QTest::keyClick(bays.bayEdits[0], Qt::Key(end));
        QCOMPARE(bays.bayEdits[0]->text(), label);
        QCOMPARE(assignment.label(1), label);
        QCOMPARE(QApplication::focusWidget(), bays.bayEdits[1]);
    }
};

QTEST_MAIN(TestLabelDialog)
#include "tst_labeldialog.moc"
