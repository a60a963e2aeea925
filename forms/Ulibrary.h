#pragma once
// "セル台帳": every cell the library knows with its summary and history, and
// every stored run with the cells of its bays. Reads and writes go through
// the library's worker; the window shows what comes back. Its size is kept
// in the ini file in a section of its own.
#include "library/Grade.h"
#include "library/Records.h"
#include "packs/LibraryPool.h"

#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

class Chart;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressDialog;
class QPushButton;
class QTabWidget;
class QTableView;
class Tcompare;
namespace library {
class Library;
class LibraryService;
class CellTableModel;
class CellFilterProxy;
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

    Tlibrary(library::LibraryService *service, QWidget *parent = nullptr);
    ~Tlibrary() override;

    QTabWidget *PageControl1; // セル, 放電記録
    // セル
    QLineEdit *Edit1; // 絞り込み
    QCheckBox *CheckBox1; // 引退も表示
    QComboBox *ComboBox1; // 判定: すべて, 良, 可, 不良, ―
    QTableView *ListView1; // the cells
    Chart *Chart1; // the selected cell's capacity per run
    QPushButton *Button1; // 曲線比較
    QPushButton *Button8; // 似た曲線: sorts by curve distance from the selected cell
    // 放電記録
    QTableView *ListView2; // the runs
    QPushButton *Button2; // 削除
    QPushButton *Button3; // 条件変更
    // both
    QPushButton *Button4; // 取り込み
    QPushButton *Button5; // CSV保存
    QPushButton *Button6; // バックアップ
    QPushButton *Button7; // 閉じる
    QPushButton *Button9; // 組電池の設計
    QPushButton *Button10; // 判定の基準
    QLabel *Label1; // what the library is doing
    Tcompare *compare;

    // Dialogs; tests replace them. Empty results mean the user cancelled.
    std::function<QStringList()> OpenDialog; // files to import
    std::function<QString(const QString &title, const QString &filter, const QString &suffix)> SaveDialog;
    // Edits a cell's info; false when cancelled.
    std::function<bool(library::CellInfo &)> CellDialog;
    // Edits a run's parameters; false when cancelled.
    std::function<bool(analysis::CapacityParameters &)> RunDialog;
    // Opens 組電池の設計 with the ids of the cells the セル tab shows.
    std::function<void(const QList<qint64> &shownCells)> PlanDialog;
    // Opens 判定の基準; true when new limits were saved.
    std::function<bool()> LimitsDialog;
    QString IniPath;

    library::CellTableModel *cellModel() const { return m_cells; }
    library::RunTableModel *runModel() const { return m_runs; }
    // The rows as shown (filtered and sorted).
    QList<library::CellSummary> shownCells() const;
    QList<library::RunRow> shownRuns() const;
    QList<qint64> selectedRunIds() const;
    // The cell whose history is shown, or 0.
    qint64 currentCellId() const { return m_currentCell; }
    // The limits the 判定 column shows, as last read from the library.
    library::GradeLimits gradeLimits() const { return m_limits; }
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
    // Selects the cell in the cells tab (shows its history).
    void selectCell(qint64 cellId);

public slots:
    void Button1Click(); // 曲線比較
    void Button2Click(); // 削除
    void Button3Click(); // 条件変更
    void Button4Click(); // 取り込み
    void Button5Click(); // CSV保存
    void Button6Click(); // バックアップ
    void Button7Click(); // 閉じる
    void Button8Click(); // 似た曲線
    void Button9Click(); // 組電池の設計
    void Button10Click(); // 判定の基準
    void ListView1DblClick();

signals:
    // The history chart shows the current cell's points (tests wait on it).
    void historyShown();
    // Curves went to the comparison graph.
    void curvesShown();
    // The list is in the order of 似た曲線, or the reason why not was shown.
    void similarShown();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Runs job on the library's worker; a failure is shown as a warning,
    // otherwise after() runs; the lists are read again either way.
    void change(std::function<void(library::Library &)> job, std::function<void()> after = {});
    void LoadSize();
    void SaveSize();
    void cellSelectionChanged();
    void showHistory(qint64 cellId);
    void runLabelEdited(qint64 runId, int bay, const QString &label);
    void importProgress(int done, int total, const QString &path);
    void importFinished(const library::ImportSummary &summary);
    void updateButtons();
    void cellSortChanged(int column);
    // Shows the distances from m_curveReference in that order; false when there are none.
    bool showCurveOrder(const QList<packs::CurveNeighbour> &cells);
    QStringList runOpenDialog();
    QString runSaveDialog(const QString &title, const QString &filter, const QString &suffix);

    library::LibraryService *m_service;
    library::CellTableModel *m_cells;
    library::CellFilterProxy *m_cellProxy;
    library::RunTableModel *m_runs;
    library::ValueSortProxy *m_runProxy;
    qint64 m_currentCell = 0;
    // The cell 似た曲線 measured from while its order holds (0: none), so a reload measures again.
    qint64 m_curveReference = 0;
    library::GradeLimits m_limits;
    bool m_writable = true;
    bool m_stale = true; // the library changed while hidden
    int m_reloadSerial = 0;
    std::shared_ptr<std::atomic<bool>> m_cancelImport;
    QProgressDialog *m_progress = nullptr;
    windowsize::FramedGeometry *m_geometry;
    bool m_placed = false;
    bool m_sizeLoaded = false;
};
