#pragma once
// The cell list window "セル一覧": one row per cell of every table in the log
// pane and in added log files, sortable; draws chosen cells on the comparison
// graph and saves the list as CSV. The work is done by cells::CellSources.
#include "cells/CellList.h"

#include <QWidget>

#include <functional>

class LineSource;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class Tcompare;
namespace windowsize {
class FramedGeometry;
}

class Tcells : public QWidget
{
    Q_OBJECT
public:
    // log: the log pane, read again by every update; it outlives the window.
    explicit Tcells(const LineSource *log, QWidget *parent = nullptr);

    QTableView *ListView1;
    QPushButton *Button1; // 更新
    QPushButton *Button2; // ファイル追加
    QPushButton *Button3; // 描画
    QPushButton *Button4; // CSV保存
    QPushButton *Button5; // 閉じる
    QLabel *Label1; // tables left out
    Tcompare *compare;

    // File dialogs; tests replace them. Empty results mean the user cancelled.
    std::function<QStringList()> OpenDialog;
    std::function<QString()> SaveDialog;

    cells::CellListModel *model() const { return m_model; }
    // The rows as the list shows them (sorted), and the selected ones in the
    // order they were selected.
    QList<cells::CellRow> shownRows() const;
    QList<cells::CellRow> selectedRows() const;

public slots:
    void Button1Click(); // reads the log pane again and recomputes
    void Button2Click(); // adds log files
    void Button3Click(); // draws the selection
    void Button4Click(); // saves the list as CSV
    void Button5Click(); // hides

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void recompute();
    QStringList runOpenDialog();
    QString runSaveDialog();

    const LineSource *m_log;
    bool m_placed = false;
    windowsize::FramedGeometry *m_geometry;
    cells::CellSources m_sources;
    cells::CellListModel *m_model;
    QSortFilterProxyModel *m_proxy;
};
