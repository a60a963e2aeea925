#include "widgets/Chart.h"

#include "picture/MetafileGenerator.h"

#include <QResizeEvent>
#include <QTimer>
#include <qcustomplot.h>

#include <algorithm>
#include <stdexcept>

namespace {

// Axis labels, axis titles and the legend share one font.
QFont chartFont()
{
    QFont f(QStringLiteral("ＭＳ Ｐ明朝"));
    f.setPixelSize(15);
    return f;
}

// Width of the column on the right that holds the legend; the graph window
// places its capacity labels in it, below the legend.
constexpr int SideColumnWidth = 100;

} // namespace

ChartSeries::ChartSeries(Chart *chart, QCPGraph *graph, const QString &title, const QColor &colour)
    : m_chart(chart)
    , m_graph(graph)
    , m_title(title)
    , m_colour(colour)
{ }

void ChartSeries::clear()
{
    m_x.clear();
    m_y.clear();
    m_dirty = true;
    m_chart->scheduleRefresh();
}

void ChartSeries::addXY(double x, double y, const QString &label, quint32 colour)
{
    Q_UNUSED(label);
    Q_UNUSED(colour);
    // upper_bound: after every point with the same x, so equal times keep
    // the order they were added in.
    const auto at = std::upper_bound(m_x.begin(), m_x.end(), x);
    const qsizetype i = at - m_x.begin();
    m_x.insert(i, x);
    m_y.insert(i, y);
    m_dirty = true;
    m_chart->scheduleRefresh();
}

void ChartAxis::setAutomatic(bool automatic)
{
    m_automatic = automatic;
    m_chart->scheduleRefresh();
}

void ChartAxis::setMinimum(double minimum)
{
    m_minimum = minimum;
    m_chart->scheduleRefresh();
}

void ChartAxis::setRange(double minimum, double maximum)
{
    m_automatic = false;
    m_minimum = minimum;
    m_maximum = maximum;
    m_chart->scheduleRefresh();
}

void ChartAxis::setMaximum(double maximum)
{
    m_maximum = maximum;
    m_chart->scheduleRefresh();
}

Chart::Chart(QWidget *parent)
    : QWidget(parent)
    , m_plot(new QCustomPlot(this))
    , m_bottom(this)
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    m_plot->setGeometry(rect());
    m_plot->setBackground(Qt::white);
    m_plot->setInteractions(QCP::Interactions()); // no zoom, no drag, no selection
    // Right clicks on the curves reach the window that owns the chart's menu.
    m_plot->setAttribute(Qt::WA_NoMousePropagation, false);
    // Crisp lines in the palette colours, as the BMP export maps to 16 colours.
    m_plot->setNotAntialiasedElements(QCP::aeAll);
    m_plot->setAntialiasedElements(QCP::aeNone);
    m_plot->setPlottingHint(QCP::phImmediateRefresh, false);

    const QFont font = chartFont();
    QCPAxisRect *rect = m_plot->axisRect();
    for (QCPAxis *axis : {m_plot->xAxis, m_plot->yAxis, m_plot->xAxis2, m_plot->yAxis2}) {
        axis->setTickLabelFont(font);
        axis->setLabelFont(font);
        axis->setTickLabelColor(Qt::black);
        axis->setLabelColor(Qt::black);
        axis->setBasePen(QPen(Qt::black, 1));
        axis->setTickPen(QPen(Qt::black, 1));
        axis->setSubTickPen(QPen(Qt::black, 1));
    }
    m_plot->yAxis->setLabel(QStringLiteral("電圧"));
    m_plot->yAxis->setNumberFormat(QStringLiteral("f"));
    m_plot->yAxis->setNumberPrecision(2);
    m_plot->xAxis->setNumberFormat(QStringLiteral("g"));
    // The top and right axes only close the frame around the curves.
    for (QCPAxis *axis : {m_plot->xAxis2, m_plot->yAxis2}) {
        axis->setVisible(true);
        axis->setTicks(false);
        axis->setTickLabels(false);
    }
    rect->setBackground(Qt::white);

    // Legend: the series titles with their colours, in a column right of the
    // curves, at its top.
    QCPLegend *legend = m_plot->legend;
    legend->setVisible(true);
    legend->setFont(font);
    legend->setTextColor(Qt::black);
    legend->setBorderPen(QPen(Qt::black, 1));
    legend->setBrush(Qt::white);
    legend->setIconSize(30, 12);
    rect->insetLayout()->take(legend);
    rect->insetLayout()->simplify();
    auto *side = m_side = new QCPLayoutGrid;
    m_plot->plotLayout()->addElement(0, 1, side);
    side->setMinimumSize(SideColumnWidth, 0);
    side->setMaximumSize(SideColumnWidth, QWIDGETSIZE_MAX);
    side->setAutoMargins(QCP::msNone);
    side->setMargins(QMargins(6, 8, 4, 0));
    // The legend hugs its entries; the empty cells beside and below take the rest.
    side->addElement(0, 0, legend);
    side->addElement(0, 1, new QCPLayoutElement(m_plot));
    side->addElement(1, 0, new QCPLayoutElement(m_plot));
    side->setRowStretchFactor(0, 0.001);
    side->setRowStretchFactor(1, 1000);
    side->setColumnStretchFactor(0, 0.001);
    side->setColumnStretchFactor(1, 1000);
    legend->setMargins(QMargins(6, 4, 6, 4));
    m_plot->plotLayout()->setColumnStretchFactor(0, 1000);
    m_plot->plotLayout()->setColumnStretchFactor(1, 0.001);

    setSeriesStyles(BatteryStyles());
    connect(m_plot, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent *) { emit doubleClicked(); });
    m_plot->replot();
}

Chart::~Chart()
{
    qDeleteAll(m_series);
}

QList<SeriesStyle> Chart::BatteryStyles()
{
    return {{QStringLiteral("Bat1"), QColor(0xFF, 0x00, 0x00)}, {QStringLiteral("Bat2"), QColor(0x00, 0xFF, 0x00)},
        {QStringLiteral("Bat3"), QColor(0x00, 0x00, 0xFF)}, {QStringLiteral("Bat4"), QColor(0x80, 0x80, 0x80)}};
}

void Chart::setSeriesStyles(const QList<SeriesStyle> &styles)
{
    qDeleteAll(m_series);
    m_series.clear();
    m_plot->clearGraphs();
    for (const SeriesStyle &style : styles) {
        QCPGraph *graph = m_plot->addGraph(m_plot->xAxis, m_plot->yAxis);
        graph->setName(style.title);
        graph->setPen(QPen(style.colour, 2));
        graph->setLineStyle(QCPGraph::lsLine);
        graph->setScatterStyle(
            QCPScatterStyle(style.points ? QCPScatterStyle::ssDisc : QCPScatterStyle::ssNone, style.colour, 6));
        graph->setAntialiased(false);
        m_series.append(new ChartSeries(this, graph, style.title, style.colour));
    }
    // Wide enough for the longest title; never narrower than the column the
    // graph window places its labels in.
    const QMargins margins = m_side->margins();
    const int wanted = m_plot->legend->minimumOuterSizeHint().width() + margins.left() + margins.right();
    const int width = qMax(SideColumnWidth, wanted);
    m_side->setMinimumSize(width, 0);
    m_side->setMaximumSize(width, QWIDGETSIZE_MAX);
    scheduleRefresh();
}

void Chart::setLeftAxis(const QString &title, int decimals)
{
    m_plot->yAxis->setLabel(title);
    m_plot->yAxis->setNumberPrecision(decimals);
    scheduleRefresh();
}

void Chart::setDateAxis(bool dates, const QString &format)
{
    if (dates) {
        auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
        ticker->setDateTimeFormat(format);
        ticker->setTickCount(4);
        ticker->setDateTimeSpec(Qt::LocalTime);
        m_plot->xAxis->setTicker(ticker);
    } else {
        m_plot->xAxis->setTicker(QSharedPointer<QCPAxisTicker>::create());
    }
    scheduleRefresh();
}

ChartSeries &Chart::series(int index)
{
    if (index < 0 || index >= m_series.size())
        throw std::out_of_range("chart series index " + std::to_string(index) + " out of range");
    return *m_series.at(index);
}

void Chart::scheduleRefresh()
{
    if (m_refreshPending)
        return;
    m_refreshPending = true;
    QTimer::singleShot(0, this, [this] {
        if (m_refreshPending)
            refresh();
    });
}

void Chart::applyRanges()
{
    for (ChartSeries *s : std::as_const(m_series)) {
        if (s->m_dirty) {
            s->m_graph->setData(s->m_x, s->m_y, true);
            s->m_dirty = false;
        }
    }

    bool any = false;
    QCPRange keys, values;
    for (ChartSeries *s : std::as_const(m_series)) {
        for (int i = 0; i < s->count(); ++i) {
            if (!any) {
                keys = QCPRange(s->m_x.at(i), s->m_x.at(i));
                values = QCPRange(s->m_y.at(i), s->m_y.at(i));
                any = true;
            } else {
                keys.expand(s->m_x.at(i));
                values.expand(s->m_y.at(i));
            }
        }
    }

    // The voltage axis follows the data, with a little room so that the
    // top and bottom curves are not half hidden under the frame.
    if (any) {
        double span = values.size();
        if (span <= 0.0)
            span = qMax(0.1, qAbs(values.lower) * 0.1);
        m_plot->yAxis->setRange(values.lower - span * 0.03, values.upper + span * 0.03);
    }

    if (m_bottom.m_automatic) {
        if (any) {
            const double span = keys.size() > 0.0 ? keys.size() : 1.0;
            m_plot->xAxis->setRange(keys.lower, keys.lower + span);
        }
    } else {
        double lower = m_bottom.m_minimum;
        double upper = m_bottom.m_maximum;
        // An empty or reversed range cannot be drawn; show one unit from the minimum.
        if (!(upper > lower))
            upper = lower + 1.0;
        m_plot->xAxis->setRange(lower, upper);
    }
    m_plot->xAxis2->setRange(m_plot->xAxis->range());
    m_plot->yAxis2->setRange(m_plot->yAxis->range());
}

void Chart::refresh()
{
    m_refreshPending = false;
    applyRanges();
    m_plot->replot(QCustomPlot::rpImmediateRefresh);
}

double Chart::bottomLower() const
{
    return m_plot->xAxis->range().lower;
}
double Chart::bottomUpper() const
{
    return m_plot->xAxis->range().upper;
}
double Chart::leftLower() const
{
    return m_plot->yAxis->range().lower;
}
double Chart::leftUpper() const
{
    return m_plot->yAxis->range().upper;
}

void Chart::writeMetafileAs(const QString &path, MetafileFormat format)
{
    if (m_refreshPending)
        refresh();
    const QSize size = this->size();
    if (size.isEmpty())
        throw std::runtime_error("metafile: the chart has no size");
    writeMetafileOnDevice(path, format, size, [&](MetafileGenerator &device) {
        device.setDescription(QStringLiteral("VOLTRAK"), QStringLiteral("放電電圧変化グラフ"));
        paint(device);
    });
}

void Chart::paint(QPaintDevice &device, const std::function<void(QPainter &)> &overlay)
{
    if (m_refreshPending)
        refresh();
    // Qt's SVG writer ignores clipping, so curves running past the fixed time
    // axis would be drawn beyond the frame: give it the curves cut at the axis.
    const bool cutCurves = device.paintEngine() && device.paintEngine()->type() == QPaintEngine::SVG;
    if (cutCurves)
        setCurvesCutTo(m_plot->xAxis->range().lower, m_plot->xAxis->range().upper);
    QCPPainter painter;
    if (!painter.begin(&device)) {
        if (cutCurves)
            setCurvesCutTo(-qInf(), qInf());
        throw std::runtime_error("chart: cannot paint on the picture");
    }
    m_plot->toPainter(&painter, width(), height());
    if (overlay)
        overlay(painter);
    painter.end();
    if (cutCurves)
        setCurvesCutTo(-qInf(), qInf());
}

void Chart::setCurvesCutTo(double lower, double upper)
{
    for (ChartSeries *s : std::as_const(m_series)) {
        QVector<double> xs, ys;
        const QVector<double> &x = s->m_x, &y = s->m_y;
        const auto cut = [&](int a, int b, double at) {
            xs.append(at);
            ys.append(y[a] + (y[b] - y[a]) * (at - x[a]) / (x[b] - x[a]));
        };
        for (int i = 0; i < x.size(); ++i) {
            // Points are in ascending x order: a segment that enters or
            // leaves the range gets a point on its edge.
            if (i > 0 && x[i - 1] < lower && x[i] > lower)
                cut(i - 1, i, lower);
            if (x[i] >= lower && x[i] <= upper) {
                xs.append(x[i]);
                ys.append(y[i]);
            }
            if (i > 0 && x[i - 1] < upper && x[i] > upper)
                cut(i - 1, i, upper);
        }
        s->m_graph->setData(xs, ys, true);
    }
}

void Chart::writeWmf(const QString &path)
{
    writeMetafileAs(path, MetafileFormat::Wmf);
}

void Chart::writeEmf(const QString &path)
{
    writeMetafileAs(path, MetafileFormat::Emf);
}

void Chart::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_plot->setGeometry(rect());
}
