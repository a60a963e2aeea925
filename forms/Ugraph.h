#pragma once
// The graph window: the four voltage curves of the last discharge, the capacity
// labels, a pop-up menu to save the picture or close the window, and the size
// recording that turns a dragged size into the settings.
#include "picture/PictureFile.h"

#include <QImage>
#include <QWidget>

#include <functional>

class Chart;
class QLabel;
class QMenu;
class QAction;
namespace windowsize {
class FramedGeometry;
}

class Tgraph : public QWidget
{
    Q_OBJECT
public:
    explicit Tgraph(QWidget *parent = nullptr);

    Chart *Chart1;
    QLabel *TTL; // capacity title
    QLabel *Y1; // capacity of cell 1 .. 4
    QLabel *Y2;
    QLabel *Y3;
    QLabel *Y4;
    QLabel *TTM; // time-axis unit
    QMenu *PopupMenu1;
    QAction *SaveAs1;
    QAction *Copy1;
    QAction *Close1;

    // The save dialog; returns the chosen path, or an empty string when the
    // user cancels. Tests replace it.
    std::function<QString()> SaveDialog1;

    // The extension of a file name: from the last "." after the last path
    // separator ("\", "/" or ":"), dot included; empty when there is none.
    static QString FileExtension(const QString &fileName);

    // An image of the client area with the chart and the labels as on screen.
    QImage ClientImage();

    // What the picture files are made of: the client image, and the chart
    // with the labels that show.
    graph::PictureSource Picture();

    // The outer size, frame and caption included, as the settings keep it.
    QSize OuterSize() const;
    void SetOuterSize(int width, int height);

public slots:
    void Chart1DblClick();

signals:
    // The size the double-click recorded into Gwide and Gheit.
    void sizeRecorded(int width, int height);

public slots:
    void SaveAs1Click();
    void Copy1Click();
    void Close1Click();

protected:
    void showEvent(QShowEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString runSaveDialog();
    void placeLabels();

    bool m_placed = false; // centred at the first show only
    windowsize::FramedGeometry *m_geometry;
};
