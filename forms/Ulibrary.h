#pragma once
// "セル台帳": every cell the library knows with its summary and history, and
// every stored run with the cells of its bays. It asks the library service
// for what it shows and for every change the user makes, and reads again
// when the service says something changed; files it saves go to the file
// writer. Its size is kept in the ini file in a section of its own.
#include "library/LibraryService.h"
#include "library/Records.h"
#include "widgets/FrozenTableView.h" // cellView, which tests and windows use as a table

#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

class Chart;
class FileWriter;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressDialog;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTableView;
class Tcompare;
namespace library {
class CellTableModel;
class CellFilterProxy;
class PackTableModel;
class RunTableModel;
class ValueSortProxy;
} // namespace library
namespace windowsize {
class FramedGeometry;
}

class Tlibrary : public QWidget
{
    Q_OBJECT
public:
    static const QString IniSection; // "CellLibrary": Width, Height

    // service: null without a library (nothing is offered); files: where saves go.
    Tlibrary(library::LibraryService *service, FileWriter *files, QWidget *parent = nullptr);
    ~Tlibrary() override;

    QTabWidget *tabs; // セル, 放電記録, 組電池
    enum Tab { CellsTab, RunsTab, PacksTab };
    // セル
    QLineEdit *filterEdit; // 絞り込み
    QCheckBox *showRetiredCheck; // 引退も表示
    QComboBox *gradeFilterBox; // 判定: すべて, 良, 可, 不良, ―
    FrozenTableView *cellView; // ラベル stays in view when scrolled sideways
    Chart *historyChart; // the selected cell's capacity per run
    QPushButton *compareButton; // 曲線比較
    QPushButton *similarButton; // 似た曲線: sorts by curve distance from the selected cell
    QPushButton *measureButton; // 測定の入力: figures of other meters, cell after cell
    QPushButton *importFiguresButton; // 測定の取り込み: figures from a CSV file
    // 放電記録
    QTableView *runView;
    QPushButton *deleteRunsButton; // 削除
    QPushButton *recomputeButton; // 条件変更
    QPushButton *undoDeleteButton; // 元に戻す: the last 削除, until the window closes
    // 組電池
    QTableView *packView; // the built packs: 名前, 組込み日, セル数, セル, 容量(mAh)
    QPushButton *dissolvePackButton; // 解除: the selected pack's cells back in use, after a question
    // both
    QPushButton *importButton; // 取り込み
    QPushButton *csvButton; // CSV保存
    QPushButton *backupButton; // バックアップ
    QPushButton *closeButton; // 閉じる
    QPushButton *packPlanButton; // 組電池の設計
    QPushButton *gradeLimitsButton; // 判定の基準
    QPushButton *labelsButton = nullptr; // ラベル印刷; none in a build without labels
    QLabel *statusLabel; // what the library is doing
    bool m_showsStale = false; // statusLabel says the rows are what was read before the server went away
    Tcompare *compare;

    // Dialogs; tests replace them. Empty results mean the user cancelled.
    std::function<QStringList()> OpenDialog; // files to import
    std::function<QString(const QString &title, const QString &filter)> SaveDialog;
    // Edits a cell's info; false when cancelled.
    std::function<bool(library::CellInfo &)> CellDialog;
    // Edits a run's parameters; false when cancelled.
    std::function<bool(analysis::CapacityParameters &)> RunDialog;
    // Opens 組電池の設計 with the ids of the cells the セル tab shows.
    std::function<void(const QList<qint64> &shownCells)> PlanDialog;
    // Opens 判定の基準.
    std::function<void()> LimitsDialog;
    // Opens 測定の入力.
    std::function<void()> MeasureDialog;
    // The figures CSV to import; empty when cancelled.
    std::function<QString()> FigureFileDialog;
    // Chooses the columns of the file (given those last used); false when cancelled.
    std::function<bool(const QString &file, library::FigureColumns &columns)> FigureColumnsDialog;
    // Opens ラベル印刷 for these cells, judged by the limits shown.
    std::function<void(const QList<library::CellSummary> &cells)> LabelDialog;
    QString IniPath;

    library::CellTableModel *cellModel() const { return m_cells; }
    library::RunTableModel *runModel() const { return m_runs; }
    library::PackTableModel *packModel() const { return m_packs; }
    // The rows as shown (filtered and sorted).
    QList<library::CellSummary> shownCells() const;
    QList<library::RunRow> shownRuns() const;
    QList<qint64> selectedRunIds() const;
    // The cells ラベル印刷 is for: those selected in the セル tab in the order shown, or every one shown when none is.
    QList<library::CellSummary> labelCells() const;
    // The cell whose history is shown, or 0.
    qint64 currentCellId() const { return m_currentCell; }
    // The limits the 判定 column shows, as last read from the library.
    library::GradeLimits gradeLimits() const;
    // No writes offered (a library of a newer version, opened read-only).
    void setWritable(bool writable);
    // True while an import runs.
    bool importing() const { return bool(m_cancelImport); }
    // The import's progress dialog while one runs.
    QProgressDialog *progress() const { return m_progress; }

    // Reads cells and runs again; done() when both have come back.
    void reload(std::function<void()> done = {});
    // Imports the files with the progress dialog; one summary box at the end.
    void Import(const QStringList &paths);
    // Asks for the columns of the figures CSV at path (those last used
    // offered), keeps them in the library and imports the file; the summary
    // in a box, then figuresImported().
    void ImportFigures(const QString &path);
    // Selects the cell in the cells tab (shows its history).
    void selectCell(qint64 cellId);

public slots:
    void compareClicked(); // 曲線比較
    void deleteRunsClicked(); // 削除
    void undoDeleteClicked(); // 元に戻す, Ctrl+Z in 放電記録
    void recomputeClicked(); // 条件変更
    void dissolvePackClicked(); // 解除, Delete in 組電池
    void importClicked(); // 取り込み
    void saveCsvClicked(); // CSV保存
    void backupClicked(); // バックアップ
    void closeClicked(); // 閉じる
    void similarClicked(); // 似た曲線
    void packPlanClicked(); // 組電池の設計
    void gradeLimitsClicked(); // 判定の基準
    void labelsClicked(); // ラベル印刷
    void measureClicked(); // 測定の入力
    void importFiguresClicked(); // 測定の取り込み
    void editCurrentCell(); // double-click or Enter on a cell

signals:
    // The history chart shows the current cell's points (tests wait on it).
    void historyShown();
    // Curves went to the comparison graph.
    void curvesShown();
    // The list is in the order of 似た曲線, or the reason why not was shown.
    void similarShown();
    // A file the window saved was written, or why not was shown.
    void saved();
    // A figures import ended and its summary was shown.
    void figuresImported();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *buildCellsTab();
    QWidget *buildRunsTab();
    QWidget *buildPacksTab();
    // The name of the pack selected in 組電池, or empty.
    QString selectedPack() const;
    QLayout *buildButtonRow();
    void connectControls();
    void connectService();
    void makeDialogs();

    // The answer to a change the user asked for: its failure as a warning.
    library::LibraryService::Then<library::Nothing> warnOnFailure();
    void libraryChanged();
    void LoadSize();
    void SaveSize();
    void cellSelectionChanged();
    // Applies a change of the cells' filter; a chosen cell it hides is no longer chosen.
    void filterCells(const std::function<void()> &apply);
    bool isShown(qint64 cellId) const;
    // What the セル tab's list needs to show every column, and the window widened to give it that.
    int cellColumnsWidth() const;
    void fitCellColumns();
    void placeCellSplit();
    void showHistory(qint64 cellId);
    void runLabelEdited(qint64 runId, int bay, const QString &label);
    void importProgress(int done, int total, const QString &path);
    void importFinished(const library::ImportSummary &summary);
    void updateButtons();
    void cellSortChanged(int column);
    // Shows the distances from m_curveReference in that order; false when there are none.
    bool showCurveOrder(const QList<library::CurveNeighbour> &cells);
    QStringList runOpenDialog();
    QString runSaveDialog(const QString &title, const QString &filter);

    library::LibraryService *m_service;
    FileWriter *m_files;
    library::CellTableModel *m_cells;
    library::CellFilterProxy *m_cellProxy;
    library::RunTableModel *m_runs;
    library::ValueSortProxy *m_runProxy;
    library::PackTableModel *m_packs;
    library::ValueSortProxy *m_packProxy;
    qint64 m_currentCell = 0;
    // The cell 似た曲線 measured from while its order holds (0: none), so a reload measures again.
    qint64 m_curveReference = 0;
    bool m_writable = true;
    bool m_stale = true; // the library changed while hidden
    int m_reloadSerial = 0;
    std::shared_ptr<std::atomic<bool>> m_cancelImport;
    QProgressDialog *m_progress = nullptr;
    windowsize::FramedGeometry *m_geometry;
    bool m_placed = false;
    QList<library::DeletedRuns> m_deleted; // newest last; forgotten when the window closes
    bool m_sizeLoaded = false;
    bool m_fitWidth = false; // no size kept: the first reading fits the window to the columns
    QSplitter *m_cellSplit;
    int m_fittedList = 0; // the list's width fitted to its columns; 0 once the user moved the splitter
};
