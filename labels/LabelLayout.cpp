#include "labels/LabelLayout.h"

#include <QFontMetricsF>
#include <QImage>

#include <algorithm>
#include <cmath>

namespace labels {

namespace {

constexpr double TextGap = 1.0; // between the code and the text where the quiet zone is narrower
constexpr double BarShare = 0.4; // of a die-cut label's printable height, the bars of a linear code
constexpr double CodeShare = 0.45; // of a die-cut label's printable width, at most, a square code
constexpr double PointStep = 0.25;
constexpr double Endless = 1e6; // a tape's length while its content is laid out

// Text is measured here, where one pixel is 0.01 mm, so the font engine works at sizes of a hundred pixels and
// more: its figures are then those of the paper, not of a few rounded screen pixels.
const QPaintDevice *measuringDevice()
{
    static const QImage image = [] {
        QImage i(1, 1, QImage::Format_Mono);
        i.setDotsPerMeterX(100000);
        i.setDotsPerMeterY(100000);
        return i;
    }();
    return &image;
}

QString number(double v, int decimals)
{
    return QString::number(v, 'f', decimals);
}

// Bars as tall as whole dots, so that their ends too fall on a 300 dpi printer's dots.
double wholeDots(double mm)
{
    return std::floor(mm / DotMm + 1e-9) * DotMm;
}

struct Placement {
    double module = 0;
    QRectF symbol;
    QRectF quiet;
    QRectF textBox;
};

// Where the code of module size dots goes and what room it leaves the text; none when it does not fit. A
// linear code lies across the top of a die-cut label; anything else stands at the left, the text to its right.
std::optional<Placement> place(const CodeSymbol &s, const LabelSize &size, int dots)
{
    Placement p;
    p.module = dots * DotMm;
    const double qx = s.quietColumns * p.module;
    const double qy = s.quietRows * p.module;
    const QRectF label(0, 0, size.isTape() ? Endless : size.label.width(), size.label.height());
    const QRectF printable = label.marginsRemoved(size.margins);
    const double w = s.columns * p.module;
    if (s.linear && !size.isTape()) {
        const double h = wholeDots(BarShare * printable.height());
        p.symbol = QRectF(printable.center().x() - w / 2, printable.top(), w, h);
        const double textTop = p.symbol.bottom() + TextGap;
        p.textBox = QRectF(printable.left(), textTop, printable.width(), printable.bottom() - textTop);
    } else {
        if (!size.isTape() && !s.linear && w > CodeShare * printable.width())
            return std::nullopt;
        const double h = s.linear ? wholeDots(printable.height()) : s.rows * p.module;
        p.symbol = QRectF(std::max(printable.left(), qx), printable.center().y() - h / 2, w, h);
        const double textLeft = p.symbol.right() + std::max(qx, TextGap);
        p.textBox = QRectF(textLeft, printable.top(), printable.right() - textLeft, printable.height());
    }
    p.quiet = p.symbol.adjusted(-qx, -qy, qx, qy);
    // The modules are printed, so they stay inside the margins; the quiet zone only has to be blank.
    if (!printable.contains(p.symbol) || !label.contains(p.quiet))
        return std::nullopt;
    return p;
}

struct Wanted {
    Line line;
    QString text;
};

QList<Wanted> wantedLines(const LabelContent &c)
{
    QList<Wanted> lines{{Line::Label, c.label.isEmpty() ? c.code : c.label}};
    if (c.capacity)
        lines.append({Line::Capacity, number(*c.capacity, 0) + QStringLiteral(" mAh")});
    if (!c.grade.isEmpty())
        lines.append({Line::Grade, QStringLiteral("判定 ") + c.grade});
    if (c.resistance)
        lines.append({Line::Resistance, number(*c.resistance, 1) + QStringLiteral(" mΩ")});
    if (c.lastRun)
        lines.append({Line::Date, c.lastRun->toString(Qt::ISODate)});
    return lines;
}

// The lines at that size, each rect around its base line's start.
QList<TextLine> measured(const QList<Wanted> &wanted, double pointSize)
{
    QList<TextLine> lines;
    for (const Wanted &w : wanted) {
        TextLine t;
        t.line = w.line;
        t.text = w.text;
        t.pointSize = w.line == Line::Label ? pointSize * LabelLineScale : pointSize;
        const QFontMetricsF fm(LabelFont(t.pointSize, measuringDevice()), measuringDevice());
        const QRectF room
            = QRectF(0, -fm.ascent(), fm.horizontalAdvance(w.text), fm.height()).united(fm.boundingRect(w.text));
        t.rect = QRectF(room.topLeft() / 100, room.size() / 100);
        lines.append(t);
    }
    return lines;
}

double widest(const QList<TextLine> &lines)
{
    double w = 0;
    for (const TextLine &t : lines)
        w = std::max(w, t.rect.width());
    return w;
}

double tallness(const QList<TextLine> &lines)
{
    double h = 0;
    for (const TextLine &t : lines)
        h += t.rect.height();
    return h;
}

// The largest size, from MaxPointSize down, at which the lines fit the box; none when not even the smallest.
std::optional<QList<TextLine>> largestFitting(const QList<Wanted> &wanted, const QSizeF &box)
{
    for (double pt = MaxPointSize; pt >= MinPointSize - 1e-9; pt -= PointStep) {
        QList<TextLine> lines = measured(wanted, pt);
        if (widest(lines) <= box.width() && tallness(lines) <= box.height())
            return lines;
    }
    return std::nullopt;
}

// The lines stacked in the box, the block centred up and down, each line at the box's left edge.
void stack(QList<TextLine> &lines, const QRectF &box)
{
    double top = box.top() + (box.height() - tallness(lines)) / 2;
    for (TextLine &t : lines) {
        t.origin = QPointF(box.left() - t.rect.left(), top - t.rect.top());
        t.rect.translate(t.origin);
        top = t.rect.bottom();
    }
}

struct Attempt {
    std::optional<LabelLayout> layout;
    QString reason;
};

Attempt layOut(const LabelContent &content, const LabelSize &size, Symbology symbology)
{
    const QString printed = content.label.isEmpty() ? content.code : content.label;
    Encoded encoded = EncodeSymbol(content.code, symbology);
    if (!encoded.symbol)
        return {std::nullopt, encoded.reason};
    const CodeSymbol &symbol = *encoded.symbol;

    std::optional<Placement> p;
    for (int dots = MaxModuleDots; dots >= MinModuleDots && !p; --dots)
        p = place(symbol, size, dots);
    if (!p) {
        const double m = MinModuleDots * DotMm;
        const QString across = number((symbol.columns + 2 * symbol.quietColumns) * m, 1);
        const QString need = symbol.linear
            ? QStringLiteral("幅 %1 mm").arg(across)
            : QStringLiteral("%1 × %2 mm").arg(across, number((symbol.rows + 2 * symbol.quietRows) * m, 1));
        return {std::nullopt,
            QStringLiteral("「%1」の %2 は %3 に収まりません（モジュール %4 mm で%5）")
                .arg(content.code, SymbologyTitle(symbology), size.name, number(m, 3), need)};
    }

    QList<Wanted> wanted = wantedLines(content);
    const QSizeF box(size.isTape() ? Endless : p->textBox.width(), p->textBox.height());
    LabelLayout layout;
    std::optional<QList<TextLine>> lines = largestFitting(wanted, box);
    for (Line drop : DropOrder()) {
        if (lines)
            break;
        const auto it = std::find_if(wanted.begin(), wanted.end(), [drop](const Wanted &w) { return w.line == drop; });
        if (it == wanted.end())
            continue;
        wanted.erase(it);
        layout.dropped.append(drop);
        lines = largestFitting(wanted, box);
    }
    if (!lines) {
        const TextLine alone = measured({{Line::Label, printed}}, MinPointSize).first();
        const QString need = alone.rect.width() > box.width()
            ? QStringLiteral("幅 %1 mm、入るのは %2 mm").arg(number(alone.rect.width(), 1), number(box.width(), 1))
            : QStringLiteral("高さ %1 mm、入るのは %2 mm").arg(number(alone.rect.height(), 1), number(box.height(), 1));
        return {std::nullopt,
            QStringLiteral("「%1」の文字は %2 に収まりません（%3 pt で%4）")
                .arg(printed, size.name, number(alone.pointSize, 2), need)};
    }

    QRectF textBox = p->textBox;
    if (size.isTape())
        textBox.setWidth(widest(*lines));
    stack(*lines, textBox);
    const double length = size.isTape() ? textBox.right() + size.margins.right() : size.label.width();
    layout.size = QSizeF(length, size.label.height());
    layout.printable = QRectF(QPointF(0, 0), layout.size).marginsRemoved(size.margins);
    layout.symbol = symbol;
    layout.moduleMm = p->module;
    layout.symbolRect = p->symbol;
    layout.quietRect = p->quiet;
    layout.textBox = textBox;
    layout.lines = *lines;
    return {layout, QString()};
}

} // namespace

const QList<Line> &DropOrder()
{
    static const QList<Line> order{Line::Date, Line::Resistance, Line::Grade, Line::Capacity};
    return order;
}

QFont LabelFont(double pointSize, const QPaintDevice *device)
{
    QFont font(QStringLiteral("IPAGothic"));
    // A point is 2540 / 72 units of 0.01 mm; Qt turns points into units by the device's resolution.
    font.setPointSizeF(pointSize * 2540.0 / device->logicalDpiY());
    // Hinting would fit the glyphs to the pixels of each device, and the measured widths with them.
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

QString RefusalReason(const LabelContent &content, const LabelSize &size, Symbology symbology)
{
    return layOut(content, size, symbology).reason;
}

LabelLayout LayOutLabel(const LabelContent &content, const LabelSize &size, Symbology symbology)
{
    Attempt a = layOut(content, size, symbology);
    if (!a.layout)
        throw LabelError(a.reason.toStdString());
    return *a.layout;
}

QList<LabelLayout> LayOutLabels(const QList<LabelContent> &contents, const LabelSize &size, Symbology symbology)
{
    QList<LabelLayout> layouts;
    QStringList reasons;
    for (const LabelContent &c : contents) {
        Attempt a = layOut(c, size, symbology);
        if (a.layout)
            layouts.append(*a.layout);
        else
            reasons.append(a.reason);
    }
    if (!reasons.isEmpty())
        throw LabelError(reasons.join(QLatin1Char('\n')).toStdString());
    return layouts;
}

} // namespace labels
