#pragma once
// "測定の入力": figures of other meters entered cell after cell, made for a
// barcode scanner: scan a cell's label (the library's scanner prefix taken
// off), Enter, type or scan the value, Enter, and the next cell's label. The
// kind (内部抵抗 or 自己放電), the date and, for the self-discharge, the days
// of rest stay for every cell until changed. What was stored is listed, the
// last one can be taken back. Everything goes through the library's service.
#include "library/Figures.h"

#include <QDialog>
#include <QSet>

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QFormLayout;
class QTableWidget;
class QTableWidgetItem;
namespace library {
class LibraryService;
}

class Tmeasure : public QDialog
{
    Q_OBJECT
public:
    explicit Tmeasure(library::LibraryService *service, QWidget *parent = nullptr);

    QComboBox *kindBox; // 種類: 内部抵抗(mΩ), 自己放電
    QDateEdit *dateEdit; // 日付
    QLineEdit *daysEdit; // 日数 (自己放電)
    QLineEdit *labelEdit; // ラベル
    QLineEdit *resistanceEdit; // 内部抵抗(mΩ)
    QLineEdit *chargedEdit; // 充電後(V)
    QLineEdit *restedEdit; // 放置後(V)
    QTableWidget *entryView; // ラベル, 種類, 値, 結果: newest first
    QPushButton *undoButton; // 取り消し: the last measurement stored here
    QPushButton *closeButton; // 閉じる
    QLabel *statusLabel;

    library::FigureKind kind() const;
    // Measurements asked to be stored and not yet answered.
    int pending() const { return m_pending; }

signals:
    // A measurement was stored, or why not was shown (tests wait on it).
    void entryAnswered();

public slots:
    void undoClicked();

protected:
    void showEvent(QShowEvent *event) override;
    // A scanner that ends what it types with Tab: Tab there is Enter.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void kindChanged();
    void labelEntered();
    void valueEntered(QLineEdit *field);
    void submit(const QString &label, const library::Measurement &m);
    void refuse(QLineEdit *field, const QString &why);
    void readLabels();

    library::LibraryService *m_service;
    QFormLayout *m_form; // the value rows of the kind chosen are shown
    QString m_prefix;
    QSet<QString> m_labels; // the known labels, once read
    bool m_labelsRead = false;
    QString m_label; // the label taken by Enter, for the value to come
    int m_pending = 0;
    // What was stored here, newest last: its id and the 結果 cell of its row.
    QList<std::pair<qint64, QTableWidgetItem *>> m_stored;
};
