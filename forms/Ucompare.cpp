#include "forms/Ucompare.h"
#include "core/Messages.h"
#include "widgets/Fonts.h"

#include "core/Settings.h"
#include "widgets/Chart.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/PictureWindow.h"
#include "widgets/WindowSize.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QVBoxLayout>

const QColor Tcompare::Colours[Tcompare::MaxCells] = {
    QColor(0xFF, 0x00, 0x00),
    QColor(0x00, 0xFF, 0x00),
    QColor(0x00, 0x00, 0xFF),
    QColor(0x80, 0x80, 0x80),
    QColor(0xFF, 0x00, 0xFF),
    QColor(0xFF, 0xA5, 0x00),
    QColor(0x00, 0xFF, 0xFF),
    QColor(0x80, 0x80, 0x00),
};

const QString Tcompare::IniSection = QStringLiteral("CellCompare");

Tcompare::Tcompare(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    m_geometry = new windowsize::FramedGeometry(this);
    setWindowTitle(QStringLiteral("セル比較グラフ"));
    setFont(fonts::WindowFont());
    resize(600, 369);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Chart1 = new Chart(this);
    layout->addWidget(Chart1);

    PopupMenu1 = new QMenu(this);
    SaveAs1 = PopupMenu1->addAction(messages::SaveGraphAs());
    Copy1 = PopupMenu1->addAction(QStringLiteral("コピー(&C)"));
    Close1 = PopupMenu1->addAction(QStringLiteral("閉じる"));
    connect(SaveAs1, &QAction::triggered, this, &Tcompare::SaveAs1Click);
    connect(Copy1, &QAction::triggered, this, &Tcompare::Copy1Click);
    connect(Close1, &QAction::triggered, this, &Tcompare::Close1Click);

    SaveDialog1 = [this] { return graph::RunPictureSaveDialog(this); };
    IniPath = settings::IniFilePath();
}

Tcompare::~Tcompare()
{
    // Shown until the program ends: keep the size it has now.
    if (isVisible() && m_sizeLoaded)
        SaveSize();
}

QString Tcompare::CurveTitle(const cells::CellRow &cell)
{
    return QStringLiteral("No.%1-Bat%2").arg(cell.table).arg(cell.cell);
}

void Tcompare::ShowCells(const QList<cells::CellRow> &cells, qint32 gtmax, qint32 gvmax, const QStringList &titles)
{
    QList<SeriesStyle> styles;
    for (qsizetype i = 0; i < cells.size() && i < MaxCells; ++i)
        styles.append({i < titles.size() ? titles.at(i) : CurveTitle(cells.at(i)), Colours[i]});
    Chart1->setSeriesStyles(styles);

    Chart1->bottomAxis().setRange(0.0, double(gtmax));
    // Flattened at the top of the allowed range, as the draw command does.
    const double cap = gvmax * 0.01;
    for (int i = 0; i < styles.size(); ++i) {
        for (const QPointF &p : cells.at(i).curve)
            Chart1->series(i).addXY(p.x(), p.y() > cap ? cap : p.y());
    }

    if (!m_sizeLoaded)
        LoadSize();
    show();
    raise();
    activateWindow();
}

void Tcompare::LoadSize()
{
    m_sizeLoaded = true;
    // A hand-edited size is kept within what the graph window allows.
    windowsize::loadSectionSize(this, IniPath, IniSection, QSize(100, 100));
}

void Tcompare::SaveSize()
{
    if (!windowsize::saveSectionSize(this, IniPath, IniSection))
        errors::ShowWarning(messages::IniWriteFailed());
}

void Tcompare::showEvent(QShowEvent *event)
{
    if (!m_placed) {
        // Centred at the first show only, frame included; afterwards the user places it.
        m_placed = true;
        m_geometry->centre();
    }
    QWidget::showEvent(event);
}

void Tcompare::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous() && m_sizeLoaded)
        SaveSize();
}

void Tcompare::contextMenuEvent(QContextMenuEvent *event)
{
    PopupMenu1->exec(event->globalPos());
    event->accept();
}

QImage Tcompare::ClientImage()
{
    Chart1->refresh();
    return graph::WindowImage(this);
}

graph::PictureSource Tcompare::Picture()
{
    graph::PictureSource source;
    source.image = [this] { return ClientImage(); };
    source.size = Chart1->size();
    source.title = QStringLiteral("セル比較グラフ");
    source.paint = [this](QPaintDevice &device, bool) { Chart1->paint(device); };
    return source;
}

void Tcompare::SaveAs1Click()
{
    graph::SaveWithDialog(SaveDialog1, Picture());
}

void Tcompare::Copy1Click()
{
    graph::CopyPicture(Picture());
}

void Tcompare::Close1Click()
{
    close();
}
