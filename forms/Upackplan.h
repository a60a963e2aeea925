#pragma once
// "組電池の設計": a plan of packs from the cell library's cells: the window
// gathers what is asked, the library gives the cells, the planner plans on
// its own thread; saved as CSV or PDF, and recorded as built.
#include "packs/LibraryPlan.h"
#include "packs/PackPlan.h"

#include <QDialog>
#include <QList>

#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;
class FileWriter;
namespace library {
class LibraryService;
}

class Tpackplan : public QDialog
{
    Q_OBJECT
public:
    // shownCells: the cells the セル tab shows with its filter; none: every cell.
    // files: where the plan's files go.
    Tpackplan(library::LibraryService *service, FileWriter *files, std::optional<QList<qint64>> shownCells,
        QWidget *parent = nullptr);
    ~Tpackplan() override;

    QSpinBox *seriesEdit;
    QSpinBox *parallelEdit;
    QSpinBox *packsEdit;
    QComboBox *criterionBox; // "容量", "容量＋曲線"
    QComboBox *aimBox; // "容量優先" (the strongest pack), "揃い優先" (the closest cells)
    QCheckBox *goodOnlyCheck;
    QLineEdit *maxResistanceEdit; // 内部抵抗の上限(mΩ): empty, no limit
    QPushButton *calcButton; // 計算(&R)
    QTreeWidget *planView;
    QLabel *figuresLabel;
    QLabel *statusLabel;
    QPushButton *csvButton; // CSV保存(&C)...
    QPushButton *pdfButton; // PDF保存(&D)...
    QPushButton *recordButton; // 組込み記録(&A)...
    QPushButton *closeButton;

    bool hasPlan() const { return m_plan.has_value(); }
    // The plan shown and the cells it was made from.
    const packs::LibraryPlan &libraryPlan() const { return m_result; }
    const std::optional<packs::Plan> &plan() const { return m_plan; }
    // What 計算 asks for with the fields as they are; none, with the reason in
    // the status line, for a resistance limit that is not a number above 0.
    std::optional<packs::PlanRequest> request();

public slots:
    void calcClicked();
    void csvClicked();
    void pdfClicked();
    void recordClicked();
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
    FileWriter *m_files;
    packs::Planner *m_planner;
    std::optional<QList<qint64>> m_shownCells;
    packs::LibraryPlan m_result;
    std::optional<packs::Plan> m_plan;
    int m_serial = 0; // of the last 計算: an older plan that comes later is not shown
};
