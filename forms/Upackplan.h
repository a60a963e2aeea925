#pragma once
// "組電池の設計": a plan of packs from the cell library's cells, computed on
// the library's worker thread, saved as CSV or PDF, and recorded as built.
#include "packs/LibraryPool.h"
#include "packs/PackPlan.h"

#include <QDialog>
#include <QList>

#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTreeWidget;
namespace library {
class LibraryService;
}

class Tpackplan : public QDialog
{
    Q_OBJECT
public:
    // shownCells: the cells the セル tab shows with its filter; none: every cell.
    Tpackplan(library::LibraryService *service, std::optional<QList<qint64>> shownCells, QWidget *parent = nullptr);
    ~Tpackplan() override;

    QSpinBox *SeriesEdit;
    QSpinBox *ParallelEdit;
    QSpinBox *PacksEdit;
    QComboBox *CriterionBox; // "容量", "容量＋曲線"
    QCheckBox *GoodOnlyCheck;
    QPushButton *CalcButton; // 計算(&R)
    QTreeWidget *PlanView;
    QLabel *FiguresLabel;
    QLabel *StatusLabel;
    QPushButton *CsvButton; // CSV保存(&C)...
    QPushButton *PdfButton; // PDF保存(&D)...
    QPushButton *RecordButton; // 組込み記録(&A)...
    QPushButton *CloseButton;

    bool hasPlan() const { return m_plan.has_value(); }
    const packs::LibraryPool &pool() const { return m_pool; }
    const std::optional<packs::Plan> &plan() const { return m_plan; }

public slots:
    void CalcButtonClick();
    void CsvButtonClick();
    void PdfButtonClick();
    void RecordButtonClick();
    // The work behind the buttons, once the file or the name is known.
    void saveCsv(const QString &path);
    void savePdf(const QString &path);
    void recordBuiltIn(const QString &name);

signals:
    // A plan was shown, or the message why there is none.
    void planReady();
    // A file was written, or the cells were recorded (or the attempt failed).
    void workDone();

private:
    void showPlan();
    void writeInBackground(const QString &path, const QByteArray &bytes);
    void setBusy(bool busy);

    library::LibraryService *m_service;
    std::optional<QList<qint64>> m_shownCells;
    packs::LibraryPool m_pool;
    std::optional<packs::Plan> m_plan;
};
