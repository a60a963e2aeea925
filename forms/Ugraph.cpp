#include "forms/Ugraph.h"
#include "core/Messages.h"
#include "widgets/Fonts.h"

#include "core/Settings.h"
#include "forms/Forms.h"
#include "widgets/Chart.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/NumericField.h"
#include "widgets/PictureWindow.h"
#include "widgets/WindowSize.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QVBoxLayout>

namespace {

// Anchors of the labels: distance from the chart's right edge to the label's
// left edge, and from the chart's top edge.
struct Anchor {
    int fromRight;
    int fromTop;
};
constexpr Anchor AnchorTTL{88, 128};
constexpr Anchor AnchorY[4] = {{80, 144}, {80, 160}, {80, 176}, {80, 192}};
constexpr Anchor AnchorTTM{88, 216};

} // namespace

Tgraph::Tgraph(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("電圧変化グラフ"));
    setFont(fonts::WindowFont());
    m_geometry = new windowsize::FramedGeometry(this);
    resize(600, 369);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Chart1 = new Chart(this);
    layout->addWidget(Chart1);
    Chart1->installEventFilter(this);

    // The labels lie on the chart, each sized to its text and anchored to the
    // chart's top right. Clicks pass through them: a double click anywhere on
    // the chart records the size.
    auto makeLabel = [this](const QString &name, const QFont &font) {
        auto *label = new QLabel(name, Chart1);
        label->setObjectName(name);
        label->setFont(font);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setAutoFillBackground(false);
        label->setTextFormat(Qt::PlainText);
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(pal);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->raise();
        return label;
    };
    TTL = makeLabel(QStringLiteral("TTL"), fonts::WindowFont());
    Y1 = makeLabel(QStringLiteral("Y1"), fonts::FixedFont());
    Y2 = makeLabel(QStringLiteral("Y2"), fonts::FixedFont());
    Y3 = makeLabel(QStringLiteral("Y3"), fonts::FixedFont());
    Y4 = makeLabel(QStringLiteral("Y4"), fonts::FixedFont());
    TTM = makeLabel(QStringLiteral("TTM"), fonts::WindowFont());

    PopupMenu1 = new QMenu(this);
    SaveAs1 = PopupMenu1->addAction(messages::SaveGraphAs());
    Copy1 = PopupMenu1->addAction(QStringLiteral("コピー(&C)"));
    Close1 = PopupMenu1->addAction(QStringLiteral("閉じる"));
    connect(SaveAs1, &QAction::triggered, this, &Tgraph::SaveAs1Click);
    connect(Copy1, &QAction::triggered, this, &Tgraph::Copy1Click);
    connect(Close1, &QAction::triggered, this, &Tgraph::Close1Click);
    connect(Chart1, &Chart::doubleClicked, this, &Tgraph::Chart1DblClick);

    SaveDialog1 = [this] { return runSaveDialog(); };
    placeLabels();
}

QString Tgraph::runSaveDialog()
{
    return graph::RunPictureSaveDialog(this);
}

QString Tgraph::FileExtension(const QString &fileName)
{
    return graph::FileExtension(fileName);
}

void Tgraph::placeLabels()
{
    const int w = Chart1->width();
    auto place = [w](QLabel *label, Anchor a) {
        label->adjustSize();
        label->move(w - a.fromRight, a.fromTop);
    };
    place(TTL, AnchorTTL);
    QLabel *ys[4] = {Y1, Y2, Y3, Y4};
    for (int i = 0; i < 4; ++i)
        place(ys[i], AnchorY[i]);
    place(TTM, AnchorTTM);
}

bool Tgraph::eventFilter(QObject *watched, QEvent *event)
{
    // A label's new text asks its parent for a new layout.
    if (watched == Chart1 && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
        placeLabels();
    return QWidget::eventFilter(watched, event);
}

QSize Tgraph::OuterSize() const
{
    return windowsize::outer(this);
}

void Tgraph::SetOuterSize(int width, int height)
{
    // Before the window manager framed the window the size counts the frame
    // as nothing; the helper gives it again once the frame is known.
    m_geometry->setOuterSize(width, height);
}

void Tgraph::showEvent(QShowEvent *event)
{
    if (!m_placed) {
        // Centred at the first show only; afterwards the user places it.
        m_placed = true;
        m_geometry->centre();
    }
    placeLabels(); // texts set while hidden
    QWidget::showEvent(event);
}

void Tgraph::contextMenuEvent(QContextMenuEvent *event)
{
    // The menu's opening records the size, chosen item or not.
    Chart1DblClick();
    PopupMenu1->exec(event->globalPos());
    event->accept();
}

void Tgraph::Chart1DblClick()
{
    const QSize outer = OuterSize();
    settings::Gwide = outer.width();
    settings::Gheit = outer.height();
    emit sizeRecorded(settings::Gwide, settings::Gheit);
    show();
    raise();
    activateWindow();
}

QImage Tgraph::ClientImage()
{
    placeLabels();
    Chart1->refresh();
    return graph::WindowImage(this);
}

graph::PictureSource Tgraph::Picture()
{
    graph::PictureSource source;
    source.image = [this] { return ClientImage(); };
    source.size = Chart1->size();
    source.title = QStringLiteral("放電電圧変化グラフ");
    source.paint = [this](QPaintDevice &device, bool withLabels) {
        Chart1->paint(device, [this, withLabels](QPainter &painter) {
            if (withLabels)
                graph::PaintLabels(painter, {TTL, Y1, Y2, Y3, Y4, TTM});
        });
    };
    return source;
}

void Tgraph::SaveAs1Click()
{
    graph::SaveWithDialog(SaveDialog1, Picture());
}

void Tgraph::Copy1Click()
{
    graph::CopyPicture(Picture());
}

void Tgraph::Close1Click()
{
    close();
}
