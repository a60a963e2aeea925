#pragma once
// "測定の取り込み": which column of a figures CSV holds the label, the date,
// the kind of figure and the value, and whether its first record is a header.
// The dialog only edits a copy; the caller keeps the columns in the library
// and imports the file with them.
#include "library/Figures.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

class Tfigurecolumns : public QDialog
{
    Q_OBJECT
public:
    // file: the CSV to import, named in the dialog; columns: those last used.
    Tfigurecolumns(const QString &file, const library::FigureColumns &columns, QWidget *parent = nullptr);

    QSpinBox *labelColumnEdit; // ラベルの列
    QSpinBox *dateColumnEdit; // 日付の列
    QSpinBox *figureColumnEdit; // 種類の列
    QSpinBox *valueColumnEdit; // 値の列
    QCheckBox *headerCheck; // 1行目は見出し
    QLabel *messageLabel;
    QPushButton *okButton;
    QPushButton *cancelButton;

    // The columns as chosen (valid after accept()).
    library::FigureColumns columns() const { return m_columns; }

public slots:
    void accept() override;

private:
    library::FigureColumns m_columns;
};
