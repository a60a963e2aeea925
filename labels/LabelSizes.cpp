#include "labels/LabelSizes.h"

#include <algorithm>

namespace labels {

namespace {

LabelSize sheet()
{
    LabelSize s;
    s.name = QStringLiteral("a4-65");
    s.title = QStringLiteral("A4 シート 65 面（38.1 × 21.2 mm）");
    s.label = QSizeF(38.1, 21.2);
    s.margins = QMarginsF(1.5, 1.5, 1.5, 1.5);
    s.page = QSizeF(210, 297);
    s.columns = 5;
    s.rows = 13;
    // The usual 65-up sheet: rows touch, columns 2.5 mm apart, the block centred across, 10.7 mm top and bottom.
    s.pitch = QSizeF(40.6, 21.2);
    s.firstLabel = QPointF((210 - (4 * 40.6 + 38.1)) / 2, 10.7);
    return s;
}

LabelSize roll()
{
    LabelSize s;
    s.name = QStringLiteral("roll-62x29");
    s.title = QStringLiteral("ロール 62 × 29 mm");
    s.label = QSizeF(62, 29);
    // What a 300 dpi roll printer leaves at the edges of a 62 mm die-cut label.
    s.margins = QMarginsF(1.5, 1.5, 1.5, 1.5);
    s.page = s.label;
    s.pitch = s.label;
    return s;
}

// A tape printer prints across less than the tape's width; the ends get a short blank.
LabelSize tape(int width, double edge)
{
    LabelSize s;
    s.name = QStringLiteral("tape-%1").arg(width);
    s.title = QStringLiteral("テープ %1 mm").arg(width);
    s.label = QSizeF(0, width);
    s.margins = QMarginsF(2, edge, 2, edge);
    return s;
}

} // namespace

const QList<LabelSize> &LabelSizes()
{
    static const QList<LabelSize> sizes{sheet(), roll(), tape(24, 3), tape(12, 2)};
    return sizes;
}

QStringList LabelSizeNames()
{
    QStringList names;
    for (const LabelSize &s : LabelSizes())
        names.append(s.name);
    return names;
}

const LabelSize *FindLabelSize(const QString &name)
{
    for (const LabelSize &s : LabelSizes()) {
        if (s.name.compare(name, Qt::CaseInsensitive) == 0)
            return &s;
    }
    return nullptr;
}

int PageCount(const LabelSize &size, int count)
{
    const int per = std::max(1, size.labelsPerPage());
    return count <= 0 ? 0 : (count + per - 1) / per;
}

QRectF LabelRectOnPage(const LabelSize &size, int index)
{
    const int column = index % size.columns;
    const int row = index / size.columns;
    return QRectF(size.firstLabel + QPointF(column * size.pitch.width(), row * size.pitch.height()), size.label);
}

} // namespace labels
