#include "widgets/Chart.h"

#include "picture/MetafileGenerator.h"

#include <QResizeEvent>
#include <QTimer>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <iterator>
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

// Steps of 1, 2 or 5 times a power of ten, never finer than the axis's
// decimals: every tick is a round number, and no two read the same.
class RoundTicker : public QCPAxisTicker
{
public:
    int decimals = 2;

protected:
    double getTickStep(const QCPRange &range) override
    {
        const double wanted = range.size() / qMax(1, tickCount());
        const double finest = std::pow(10.0, -decimals);
        if (!(wanted > finest))
            return finest;
        const double magnitude = std::pow(10.0, std::floor(std::log10(wanted)));
        for (double m : {1.0, 2.0, 5.0, 10.0}) {
            if (m * magnitude >= wanted * (1.0 - 1e-9))
                return m * magnitude;
        }
        return 10.0 * magnitude;
    }
};

} // namespace

// Whole minutes, hours, days or months of local time: the smallest step at
// which the texts keep a gap between them at the axis's width.
class DateTicker : public QCPAxisTickerDateTime
{
public:
    DateTicker()
    {
        setDateTimeSpec(Qt::LocalTime);
        // Steps counted from a local midnight: ticks fall on the clock's hours and days.
        setTickOrigin(QDateTime(QDate(2000, 1, 1), QTime(0, 0)));
    }
    // The axis's width and the room one text needs ("MM/dd" or "HH:mm", and
    // "yyyy/MM"), gap included; false when they were so already.
    bool setRoom(int axisPixels, int narrowPixels, int widePixels)
    {
        if (axisPixels == m_axis && narrowPixels == m_narrow && widePixels == m_wide)
            return false;
        m_axis = qMax(1, axisPixels);
        m_narrow = narrowPixels;
        m_wide = widePixels;
        return true;
    }

protected:
    double getTickStep(const QCPRange &range) override
    {
        constexpr double Minute = 60, Hour = 3600, Day = 86400, Month = 30.4375 * Day;
        static const double steps[] = {Minute, 2 * Minute, 5 * Minute, 10 * Minute, 15 * Minute, 30 * Minute, Hour,
            2 * Hour, 3 * Hour, 6 * Hour, 12 * Hour, Day, 2 * Day, 4 * Day, 7 * Day, 14 * Day, Month, 2 * Month,
            3 * Month, 6 * Month, 12 * Month};
        const auto smallest = [&](double wanted) {
            for (double s : steps)
                if (s >= wanted)
                    return s;
            // Beyond the largest step: whole years.
            return std::ceil(wanted / (12 * Month)) * 12 * Month;
        };
        double step = smallest(range.size() * m_narrow / m_axis);
        if (step >= 28 * Day)
            step = smallest(range.size() * m_wide / m_axis);
        m_step = step;
        mDateStrategy = step >= 28 * Day ? dsUniformDayInMonth : step >= Day ? dsUniformTimeInDay : dsNone;
        return step;
    }
    QString getTickLabel(double tick, const QLocale &locale, QChar formatChar, int precision) override
    {
        Q_UNUSED(locale);
        Q_UNUSED(formatChar);
        Q_UNUSED(precision);
        const QDateTime at = keyToDateTime(tick).toLocalTime();
        if (m_step >= 28 * 86400.0)
            return at.toString(QStringLiteral("yyyy/MM"));
        if (m_step >= 86400.0)
            return at.toString(QStringLiteral("MM/dd"));
        return at.toString(QStringLiteral("MM/dd\nHH:mm"));
    }

private:
    double m_step = 86400.0;
    int m_axis = 400;
    int m_narrow = 60;
    int m_wide = 80;
};

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
    m_plot->yAxis->setTicker(QSharedPointer<RoundTicker>::create());
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
    setLegendVisible(m_legendVisible);
}

void Chart::setLegendVisible(bool visible)
{
    QCPLayoutGrid *layout = m_plot->plotLayout();
    const bool placed = layout->hasElement(m_title ? 1 : 0, 1) && layout->element(m_title ? 1 : 0, 1) == m_side;
    if (visible && !placed) {
        layout->addElement(m_title ? 1 : 0, 1, m_side);
        layout->setColumnStretchFactor(0, 1000);
        layout->setColumnStretchFactor(1, 0.001);
    } else if (!visible && placed) {
        // Out of the layout: an empty column would still keep its children's width.
        layout->take(m_side);
        layout->simplify();
    }
    m_legendVisible = visible;
    m_plot->legend->setVisible(visible);
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
    if (auto round = m_plot->yAxis->ticker().dynamicCast<RoundTicker>())
        round->decimals = decimals;
    scheduleRefresh();
}

void Chart::setDateAxis(bool dates)
{
    if (dates) {
        auto ticker = QSharedPointer<DateTicker>::create();
        m_dates = ticker.data();
        m_plot->xAxis->setTicker(ticker);
    } else {
        m_dates = nullptr;
        m_plot->xAxis->setTicker(QSharedPointer<QCPAxisTicker>::create());
    }
    scheduleRefresh();
}

void Chart::setTitle(const QString &title)
{
    if (!m_title) {
        m_plot->plotLayout()->insertRow(0);
        m_plot->plotLayout()->setRowStretchFactor(0, 0.001);
        QFont font = chartFont();
        font.setBold(true);
        m_title = new QCPTextElement(m_plot, QString(), font);
        m_title->setTextColor(Qt::black);
        m_plot->plotLayout()->addElement(0, 0, m_title);
    }
    // A blank keeps the line's height while no cell is shown.
    m_title->setText(title.isEmpty() ? QStringLiteral(" ") : title);
    scheduleRefresh();
}

QString Chart::title() const
{
    return m_title ? m_title->text().trimmed() : QString();
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
    fitDateTicks();
}

bool Chart::fitDateTicks()
{
    if (!m_dates)
        return false;
    // Each text's width with a gap of a line's height between two.
    const QFontMetrics metrics(m_plot->xAxis->tickLabelFont());
    const int gap = metrics.height();
    const int plotWidth = m_plot->axisRect()->width() > 0 ? m_plot->axisRect()->width() : width() / 2;
    return m_dates->setRoom(plotWidth, metrics.horizontalAdvance(QStringLiteral("00/00")) + gap,
        metrics.horizontalAdvance(QStringLiteral("0000/00")) + gap);
}

void Chart::refresh()
{
    m_refreshPending = false;
    applyRanges();
    m_plot->replot(QCustomPlot::rpImmediateRefresh);
    // The axis's width is known once laid out: dates counted for another width are ticked again.
    if (fitDateTicks())
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
    // Another width holds another number of dates.
    if (m_dates)
        scheduleRefresh();
}
