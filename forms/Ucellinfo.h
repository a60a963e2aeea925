#pragma once
// "セルの情報": a cell's label, model, nominal capacity, memo and whether it is
// retired, edited in a modal dialog. The dialog only edits a copy; the caller
// writes it to the library.
#include "library/Records.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class Tcellinfo : public QDialog
{
    Q_OBJECT
public:
    explicit Tcellinfo(const library::CellInfo &info, QWidget *parent = nullptr);

    QLineEdit *labelEdit; // ラベル
    QLineEdit *modelEdit; // 型番
    QLineEdit *nominalEdit; // 公称(mAh)
    QLineEdit *memoEdit; // メモ
    QCheckBox *retiredCheck; // 引退
    QLabel *stateLabel; // 状態
    QPushButton *undoBuiltInButton; // 組込み解除: only for a cell built into a pack
    QPushButton *okButton; // OK
    QPushButton *cancelButton; // キャンセル

    // The info as edited (valid after accept()).
    library::CellInfo info() const { return m_info; }
    // True when 組込み解除 was chosen: the cell goes back in use.
    bool undoesBuiltIn() const { return m_undoBuiltIn; }

    // A nominal capacity as typed: empty is none; otherwise a positive number
    // with "." as the point. False when the text is neither.
    static bool ParseNominal(const QString &text, bool &has, double &mah);

public slots:
    void accept() override;
    void undoBuiltInClicked();

private:
    library::CellInfo m_info;
    bool m_undoBuiltIn = false;
};
