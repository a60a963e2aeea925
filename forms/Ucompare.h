#pragma once
// The comparison graph: the curves of up to eight chosen cells on one chart,
// with the graph window's look, pop-up menu and picture files. Its size is
// kept in the ini file in a section of its own.
#include "cells/CellList.h"
#include "picture/PictureFile.h"

#include <QWidget>

#include <functional>

class Chart;
class QAction;
class QMenu;
namespace windowsize {
class FramedGeometry;
}

class Tcompare : public QWidget
{
    Q_OBJECT
public:
    static constexpr int MaxCells = 8;
    // Curve colours in selection order: red, lime, blue, gray, fuchsia, orange, aqua, olive.
    static const QColor Colours[MaxCells];
    // The ini section and keys of the window's client size.
    static const QString IniSection;

    explicit Tcompare(QWidget *parent = nullptr);
    ~Tcompare() override;

    Chart *Chart1;
    QMenu *PopupMenu1;
    QAction *SaveAs1;
    QAction *Copy1;
    QAction *Close1;

    // The save dialog; returns the path or empty on cancel. Tests replace it.
    std::function<QString()> SaveDialog1;
    // The ini file the size is read from and written to.
    QString IniPath;

    // Plots the cells (1 to MaxCells, in this order): time axis 0..gtmax,
    // voltages capped at gvmax x 0.01 V; then shows the window. titles, when
    // given, name the curves in the legend instead of CurveTitle.
    void ShowCells(
        const QList<cells::CellRow> &cells, qint32 gtmax, qint32 gvmax, const QStringList &titles = QStringList());

    // The chart's legend title for a cell: "No.<table>-Bat<cell>".
    static QString CurveTitle(const cells::CellRow &cell);

    QImage ClientImage();
    graph::PictureSource Picture();

    // Reads the size from the ini file; writes the current size (warning
    // "iniファイル書き込み失敗" when it cannot).
    void LoadSize();
    void SaveSize();

public slots:
    void SaveAs1Click();
    void Copy1Click();
    void Close1Click();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    bool m_placed = false;
    windowsize::FramedGeometry *m_geometry;
    bool m_sizeLoaded = false;
};
