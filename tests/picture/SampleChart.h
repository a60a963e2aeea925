#pragma once

// A chart drawn like the program's graph window: four line series Bat1..Bat4 in
// red, lime, blue and gray, pen width 2, a legend, the left axis titled "電圧" with
// "0.00" labels, white background, axis and legend text in "ＭＳ Ｐ明朝" 15 px.

#include "picture/MetafileGenerator.h"

#include <qcustomplot.h>

#include <cmath>
#include <memory>

namespace sample {

inline const QColor kSeriesColors[4]
    = {QColor(0xFF, 0, 0), QColor(0, 0xFF, 0), QColor(0, 0, 0xFF), QColor(0x80, 0x80, 0x80)};

// The program maps the MS font names onto the IPA fonts installed here.
inline void installFontSubstitutes()
{
    QFont::insertSubstitution(QStringLiteral("ＭＳ Ｐ明朝"), QStringLiteral("IPAPMincho"));
    QFont::insertSubstitution(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"));
}

// points per series; voltages fall from about 1.4 V, each cell a little sooner.
inline std::unique_ptr<QCustomPlot> makeChart(QSize size, int points)
{
    auto plot = std::make_unique<QCustomPlot>();
    plot->resize(size);
    plot->setBackground(Qt::white);
    QFont font(QStringLiteral("ＭＳ Ｐ明朝"));
    font.setPixelSize(15);
    plot->xAxis->setTickLabelFont(font);
    plot->yAxis->setTickLabelFont(font);
    plot->yAxis->setLabelFont(font);
    plot->yAxis->setLabel(QStringLiteral("電圧"));
    plot->yAxis->setNumberFormat(QStringLiteral("f"));
    plot->yAxis->setNumberPrecision(2);
    plot->xAxis->setRange(0, 120);
    plot->legend->setVisible(true);
    plot->legend->setFont(font);
    for (int s = 0; s < 4; ++s) {
        QCPGraph *g = plot->addGraph();
        g->setName(QStringLiteral("Bat%1").arg(s + 1));
        g->setPen(QPen(kSeriesColors[s], 2));
        QVector<double> x, y;
        for (int i = 0; i < points; ++i) {
            const double t = 120.0 * i / std::max(1, points - 1);
            x.append(t);
            y.append(1.40 - 0.002 * t * (1 + 0.15 * s) - 0.2 * std::exp((t - 110 + 10 * s) / 6.0));
        }
        g->setData(x, y, true);
    }
    plot->yAxis->setRange(0.8, 1.5);
    return plot;
}

inline QByteArray render(QCustomPlot &plot, MetafileFormat format)
{
    MetafileGenerator device(format, plot.size());
    QCPPainter painter(&device);
    plot.toPainter(&painter, plot.width(), plot.height());
    painter.end();
    return device.data();
}

} // namespace sample
