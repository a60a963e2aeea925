#include "packs/PlanFiles.h"

#include "cells/CellList.h"
#include "core/SafeWrite.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

namespace packs {

namespace {

QString mah(double v)
{
    return QString::number(v, 'f', 1);
}

QString percent(double v)
{
    return QString::number(v, 'f', 3);
}

QString packTitle(const Plan &plan, int p)
{
    return QStringLiteral("パック %1（%2）").arg(p + 1).arg(ShapeText(plan.shape));
}

} // namespace

QList<QPair<QString, QString>> FigureTexts(const Plan &plan)
{
    const PlanFigures &f = plan.figures;
    const bool strings = plan.shape.parallel == 1;
    QList<QPair<QString, QString>> out;
    QString capacity = QStringLiteral("%1 mAh").arg(mah(f.packCapacity));
    if (f.packCapacities.size() > 1) {
        QStringList each;
        for (double c : f.packCapacities)
            each.append(mah(c));
        capacity += QStringLiteral("（パックごと %1）").arg(each.join(QStringLiteral(" / ")));
    }
    out.append({QStringLiteral("パック容量"), capacity});
    out.append({QStringLiteral("上限"),
        QStringLiteral("%1 mAh（パック容量との差 %2 %）").arg(mah(f.capacityBound), percent(f.boundGapPercent))});
    out.append({strings ? QStringLiteral("パック内の容量差") : QStringLiteral("グループ計の差"),
        QStringLiteral("%1 mAh（平均の %2 %）").arg(mah(f.totalSpread), percent(f.totalSpreadPercent))});
    out.append({strings ? QStringLiteral("容量の標準偏差") : QStringLiteral("グループ計の標準偏差"),
        QStringLiteral("平均の %1 %").arg(percent(f.totalDeviationPercent))});
    if (!strings)
        out.append({QStringLiteral("グループ内の容量差"), QStringLiteral("%1 mAh").arg(mah(f.groupRange))});
    out.append({strings ? QStringLiteral("パック内の曲線差") : QStringLiteral("グループ内の曲線差"),
        f.curveDistance ? QStringLiteral("%1 分").arg(QString::number(*f.curveDistance, 'f', 1))
                        : QStringLiteral("―")});
    if (f.resistanceDifference) {
        out.append({strings ? QStringLiteral("パック内の内部抵抗差") : QStringLiteral("グループ内の内部抵抗差"),
            QStringLiteral("%1 mΩ").arg(QString::number(*f.resistanceDifference, 'f', 1))});
    }
    out.append({QStringLiteral("余ったセル"), QString::number(f.leftOver)});
    return out;
}

QByteArray PlanCsvText(const QList<PoolCell> &pool, const Plan &plan)
{
    QByteArray out = cells::CsvRecord({QStringLiteral("パック"), QStringLiteral("グループ"), QStringLiteral("ラベル"),
        QStringLiteral("容量(mAh)"), QStringLiteral("グループ計(mAh)"), QStringLiteral("パック容量(mAh)"),
        QStringLiteral("上限(mAh)"), QStringLiteral("上限との差(%)")});
    const PlanFigures &f = plan.figures;
    for (qsizetype p = 0; p < plan.packs.size(); ++p) {
        const Pack &pack = plan.packs.at(p);
        const double capacity = f.packCapacities.value(p);
        const QString gap
            = percent(f.capacityBound > 0.0 ? (f.capacityBound - capacity) / f.capacityBound * 100.0 : 0.0);
        for (qsizetype g = 0; g < pack.groups.size(); ++g) {
            const Group &group = pack.groups.at(g);
            for (int k : group.cells) {
                out += cells::CsvRecord({QString::number(p + 1), QString::number(g + 1), pool.at(k).label,
                    mah(pool.at(k).capacity), mah(group.total), mah(capacity), mah(f.capacityBound), gap});
            }
        }
    }
    return out;
}

void WritePlanCsv(const QString &path, const QList<PoolCell> &pool, const Plan &plan)
{
    safewrite::WriteFile(path, QByteArray("\xEF\xBB\xBF") + PlanCsvText(pool, plan));
}

namespace {

// Lays the plan out top to bottom, a new page whenever the next block would
// not fit.
class PdfLayout
{
public:
    PdfLayout(QPdfWriter &pdf, QPainter &painter)
        : m_pdf(pdf)
        , m_painter(painter)
        , m_width(painter.viewport().width())
        , m_height(painter.viewport().height())
    { }

    void setFont(double points, bool bold = false)
    {
        QFont font(QStringLiteral("IPAGothic"));
        font.setPointSizeF(points);
        font.setBold(bold);
        m_painter.setFont(font);
    }

    void need(double height)
    {
        if (m_y > 0 && m_y + height > m_height) {
            m_pdf.newPage();
            m_y = 0;
        }
    }

    void line(const QString &text, double gapAfter = 0.3)
    {
        const double h = QFontMetricsF(m_painter.font(), &m_pdf).height();
        need(h);
        m_painter.drawText(QRectF(0, m_y, m_width, h), Qt::AlignLeft | Qt::AlignVCenter, text);
        m_y += h * (1.0 + gapAfter);
    }

    // A table row: texts in columns of the given shares of the width, the
    // second one wrapped; a rule below.
    void row(const QStringList &texts, const QList<double> &shares, bool header)
    {
        const double pad = m_width * 0.008;
        QList<QRectF> rects;
        double x = 0, h = 0;
        for (qsizetype i = 0; i < texts.size(); ++i) {
            const double w = m_width * shares.at(i);
            const QRectF r = m_painter.boundingRect(
                QRectF(x + pad, 0, w - 2 * pad, 1e6), Qt::TextWordWrap | Qt::AlignLeft, texts.at(i));
            h = std::max(h, r.height());
            rects.append(QRectF(x + pad, 0, w - 2 * pad, 0));
            x += w;
        }
        h += 2 * pad;
        need(h);
        if (header)
            m_painter.fillRect(QRectF(0, m_y, m_width, h), QColor(230, 230, 230));
        for (qsizetype i = 0; i < texts.size(); ++i) {
            const QRectF r(rects.at(i).x(), m_y + pad, rects.at(i).width(), h - 2 * pad);
            const Qt::Alignment align = i == texts.size() - 1 && !header ? Qt::AlignRight : Qt::AlignLeft;
            m_painter.drawText(r, int(Qt::TextWordWrap | align | Qt::AlignTop), texts.at(i));
        }
        m_y += h;
        m_painter.drawLine(QPointF(0, m_y), QPointF(m_width, m_y));
    }

    void space(double fraction) { m_y += m_height * fraction; }

private:
    QPdfWriter &m_pdf;
    QPainter &m_painter;
    double m_width;
    double m_height;
    double m_y = 0;
};

} // namespace

QByteArray PlanPdf(const QList<PoolCell> &pool, const Plan &plan)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setCreator(QStringLiteral("VOLTRAK"));
        pdf.setTitle(QStringLiteral("組電池の設計"));
        pdf.setResolution(300);
        pdf.setPageLayout(QPageLayout(
            QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
        QPainter painter(&pdf);
        PdfLayout layout(pdf, painter);

        layout.setFont(16, true);
        layout.line(QStringLiteral("組電池の設計"));
        layout.setFont(10);
        layout.line(QStringLiteral("%1 × %2 パック　%3　基準: %4")
                        .arg(ShapeText(plan.shape))
                        .arg(plan.shape.packs)
                        .arg(AimText(plan.aim), CriterionText(plan.criterion)));
        for (const auto &[caption, text] : FigureTexts(plan))
            layout.line(caption + QStringLiteral(": ") + text, 0.1);
        layout.space(0.02);

        const QList<double> shares{0.12, 0.70, 0.18};
        for (qsizetype p = 0; p < plan.packs.size(); ++p) {
            const Pack &pack = plan.packs.at(p);
            layout.setFont(12, true);
            layout.need(QFontMetricsF(painter.font(), &pdf).height() * 4);
            layout.line(packTitle(plan, int(p)));
            layout.setFont(9);
            layout.row({QStringLiteral("グループ"), QStringLiteral("セル（容量 mAh）"), QStringLiteral("計(mAh)")},
                shares, true);
            double lo = 0, hi = 0;
            for (qsizetype g = 0; g < pack.groups.size(); ++g) {
                const Group &group = pack.groups.at(g);
                QStringList names;
                for (int k : group.cells)
                    names.append(QStringLiteral("%1 %2").arg(pool.at(k).label, mah(pool.at(k).capacity)));
                layout.row({QString::number(g + 1), names.join(QStringLiteral("　")), mah(group.total)}, shares, false);
                lo = g == 0 ? group.total : std::min(lo, group.total);
                hi = g == 0 ? group.total : std::max(hi, group.total);
            }
            layout.space(0.005);
            layout.line(QStringLiteral("このパックの容量: %1 mAh").arg(mah(plan.figures.packCapacities.value(p))), 0.1);
            layout.line(QStringLiteral("このパックの差: %1 mAh").arg(mah(hi - lo)));
            layout.space(0.015);
        }
    }
    return bytes;
}

void WritePlanPdf(const QString &path, const QList<PoolCell> &pool, const Plan &plan)
{
    safewrite::WriteFile(path, PlanPdf(pool, plan));
}

} // namespace packs
