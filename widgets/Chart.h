#pragma once
// The voltage chart: four line series over a time axis, drawn with QCustomPlot.
// Only the operations the graph window needs are offered: series by index,
// clear, add a point, the bottom axis's limits, and writing the chart as a
// Windows metafile.
#include <QColor>
#include <QString>
#include <QVector>
#include <QWidget>

#include <functional>

class QCustomPlot;
class QCPGraph;
class QCPLayoutGrid;
class QCPTextElement;
class DateTicker;
class QPainter;
class QPaintDevice;
class Chart;
enum class MetafileFormat;

// A series' legend title and colour.
struct SeriesStyle {
    QString title;
    QColor colour;
    bool points = false; // a dot at each point as well as the line
};

class ChartSeries
{
public:
    // The colour argument that draws a point in the series' own colour.
    static constexpr quint32 SeriesColour = 0x80000000;

    QString title() const { return m_title; }
    QColor colour() const { return m_colour; }

    // Removes every point; the chart redraws.
    void clear();
    // Inserts the point in ascending x order, after any points with the same x.
    // Points are drawn in the series' colour; label and colour are accepted for
    // the callers' sake, and only the series colour is drawn.
    void addXY(double x, double y, const QString &label = QString(), quint32 colour = SeriesColour);

    int count() const { return int(m_x.size()); }
    double x(int i) const { return m_x.at(i); }
    double y(int i) const { return m_y.at(i); }

private:
    friend class Chart;
    ChartSeries(Chart *chart, QCPGraph *graph, const QString &title, const QColor &colour);

    Chart *m_chart;
    QCPGraph *m_graph;
    QString m_title;
    QColor m_colour;
    QVector<double> m_x;
    QVector<double> m_y;
    bool m_dirty = false;
};

class ChartAxis
{
public:
    // While automatic, the axis spans the data; otherwise the limits set.
    void setAutomatic(bool automatic);
    void setMinimum(double minimum);
    void setMaximum(double maximum);
    // Not automatic, from minimum to maximum.
    void setRange(double minimum, double maximum);
    bool automatic() const { return m_automatic; }
    double minimum() const { return m_minimum; }
    double maximum() const { return m_maximum; }

private:
    friend class Chart;
    explicit ChartAxis(Chart *chart)
        : m_chart(chart)
    { }

    Chart *m_chart;
    bool m_automatic = true;
    double m_minimum = 0.0;
    double m_maximum = 0.0;
};

class Chart : public QWidget
{
    Q_OBJECT
public:
    // The graph window's series: "Bat1" to "Bat4" in red, lime, blue, gray.
    static constexpr int SeriesCount = 4;
    static QList<SeriesStyle> BatteryStyles();

    explicit Chart(QWidget *parent = nullptr);
    ~Chart() override;

    // Replaces all series by empty ones of these styles, drawn in this order;
    // the legend's column widens to fit the titles.
    void setSeriesStyles(const QList<SeriesStyle> &styles);
    int seriesCount() const { return int(m_series.size()); }

    // Series 0 to seriesCount() - 1; throws std::out_of_range otherwise.
    ChartSeries &series(int index);
    ChartAxis &bottomAxis() { return m_bottom; }

    // The left axis's title and decimals (the voltage chart's "電圧" with 2 by default).
    void setLeftAxis(const QString &title, int decimals);
    // Bottom axis as dates: x values are seconds since the epoch (local time),
    // ticked on whole minutes, hours, days or months, as many as fit the
    // chart's width without their texts touching: "MM/dd" over "HH:mm" below
    // a day a tick, "MM/dd" by days, "yyyy/MM" by months. Off: plain numbers.
    void setDateAxis(bool dates);
    // The legend's column right of the curves; a chart of one series titled by
    // its axis may leave it out and give the curves its width.
    void setLegendVisible(bool visible);
    // A title above the curves; an empty one leaves its line empty.
    void setTitle(const QString &title);
    QString title() const;

    // The chart alone (no child labels) over its client rectangle, as a
    // placeable WMF or an EMF file. Throws std::runtime_error on failure.
    void writeWmf(const QString &path);
    void writeEmf(const QString &path);

    // Paints the chart at its size on any paint device (a vector one keeps it
    // vector), then overlay on the same painter.
    void paint(QPaintDevice &device, const std::function<void(QPainter &)> &overlay = {});

    // Applies pending point and axis changes and redraws at once (changes are
    // otherwise gathered and drawn on the next pass of the event loop).
    void refresh();

    // The ranges the axes show after the last refresh.
    double bottomLower() const;
    double bottomUpper() const;
    double leftLower() const;
    double leftUpper() const;

signals:
    void doubleClicked();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class ChartSeries;
    friend class ChartAxis;
    void scheduleRefresh();
    void applyRanges();
    // The date ticks fitted to the axis's width now; true when that changed.
    bool fitDateTicks();
    void writeMetafileAs(const QString &path, MetafileFormat format);
    // Hands the plot each series cut to lower..upper on the time axis
    // (infinite bounds: the series as they are).
    void setCurvesCutTo(double lower, double upper);

    QCustomPlot *m_plot;
    QCPLayoutGrid *m_side;
    QCPTextElement *m_title = nullptr;
    DateTicker *m_dates = nullptr; // the bottom axis's ticker while it shows dates
    QVector<ChartSeries *> m_series;
    ChartAxis m_bottom;
    bool m_refreshPending = false;
    bool m_legendVisible = true;
};
