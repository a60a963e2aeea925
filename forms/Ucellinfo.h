#pragma once
// "セルの情報": a cell's label, model, nominal capacity, memo and whether it is
// retired, edited in a modal dialog. The dialog only edits a copy; the caller
// writes it to the library. With the library's service it also lists the
// cell's measurements of other meters (internal resistance, self-discharge);
// one added or deleted there is written at once through the service, whatever
// becomes of the rest.
#include "library/Figures.h"
#include "library/Records.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
namespace library {
class LibraryService;
}

class Tcellinfo : public QDialog
{
    Q_OBJECT
public:
    explicit Tcellinfo(const library::CellInfo &info, QWidget *parent = nullptr);
    // service: where the measurements are read and written; null shows none.
    Tcellinfo(const library::CellInfo &info, library::LibraryService *service, QWidget *parent = nullptr);

    QLineEdit *labelEdit; // ラベル
    QLineEdit *modelEdit; // 型番
    QLineEdit *nominalEdit; // 公称(mAh)
    QLineEdit *memoEdit; // メモ
    QCheckBox *retiredCheck; // 引退
    QLabel *stateLabel; // 状態
    QPushButton *undoBuiltInButton; // 組込み解除: only for a cell built into a pack
    // 測定: null without a service
    QTableWidget *figureView = nullptr; // 日付, 種類, 値: newest first
    QComboBox *figureKindBox = nullptr; // 内部抵抗(mΩ), 自己放電
    QDateEdit *figureDateEdit = nullptr;
    QLineEdit *figureValueEdit = nullptr; // mΩ, or 充電後V/放置後V/日数
    QPushButton *addFigureButton = nullptr; // 追加
    QPushButton *deleteFigureButton = nullptr; // 削除: the selected measurement
    QLabel *figureMessageLabel = nullptr;
    QPushButton *okButton; // OK
    QPushButton *cancelButton; // キャンセル

    // The info as edited (valid after accept()).
    library::CellInfo info() const { return m_info; }
    // True when 組込み解除 was chosen: the cell goes back in use.
    bool undoesBuiltIn() const { return m_undoBuiltIn; }
    // The measurements listed, as last read.
    const QList<library::Measurement> &figures() const { return m_figures; }

    // A nominal capacity as typed: empty is none; otherwise a positive number
    // with "." as the point. False when the text is neither.
    static bool ParseNominal(const QString &text, bool &has, double &mah);

public slots:
    void accept() override;
    void undoBuiltInClicked();
    void addFigureClicked();
    void deleteFigureClicked();
    // Reads the cell's measurements again.
    void readFigures();

signals:
    // The measurements were read (or why not was shown); tests wait on it.
    void figuresShown();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLayout *buildFigures();

    library::CellInfo m_info;
    bool m_undoBuiltIn = false;
    library::LibraryService *m_service = nullptr;
    QList<library::Measurement> m_figures;
};
