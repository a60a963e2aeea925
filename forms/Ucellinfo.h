#pragma once
// "セルの情報": a cell's label, model, nominal capacity, memo and whether it is
// retired, edited in a modal dialog. The dialog only edits a copy; the caller
// writes it to the library.
#include "library/Records.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

class Tcellinfo : public QDialog
{
    Q_OBJECT
public:
    explicit Tcellinfo(const library::CellInfo &info, QWidget *parent = nullptr);

    QLineEdit *Edit1; // ラベル
    QLineEdit *Edit2; // 型番
    QLineEdit *Edit3; // 公称(mAh)
    QLineEdit *Edit4; // メモ
    QCheckBox *CheckBox1; // 引退
    QPushButton *Button1; // OK
    QPushButton *Button2; // キャンセル

    // The info as edited (valid after accept()).
    library::CellInfo info() const { return m_info; }

    // A nominal capacity as typed: empty is none; otherwise a positive number
    // with "." as the point. False when the text is neither.
    static bool ParseNominal(const QString &text, bool &has, double &mah);

public slots:
    void accept() override;

private:
    library::CellInfo m_info;
};
