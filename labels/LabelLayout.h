#pragma once
// One label laid out on its size: the code at a module size of whole dots of a
// 300 dpi printer, never under 0.25 mm, and the text lines in IPA Gothic,
// measured in the font they are drawn in and never cut: the font shrinks,
// then optional lines are left off in a fixed order, until the text fits. A
// label Zint cannot encode, whose code the size cannot hold, or whose own
// line does not fit even alone at the smallest font, is refused with the
// reason, before anything is drawn. Lengths in millimetres from the label's
// top left corner. Needs a QGuiApplication (fonts).
#include "labels/CodeSymbol.h"
#include "labels/LabelSizes.h"

#include <QDate>
#include <QFont>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <optional>
#include <stdexcept>

class QPaintDevice;

namespace labels {

// What one cell's label shows.
struct LabelContent {
    QString code; // what the code holds: the cell's label
    QString label; // the label as printed; the code's text when empty
    std::optional<double> capacity; // mAh, of the latest run
    QString grade; // "良", "可", "不良"; none when empty
    std::optional<QDate> lastRun; // the date of the latest run
    std::optional<double> resistance; // internal resistance, mΩ
};

// The lines, top to bottom.
enum class Line { Label, Capacity, Grade, Resistance, Date };
// The optional lines in the order they are left off when the text does not fit.
const QList<Line> &DropOrder();

constexpr double DotMm = 25.4 / 300;
constexpr int MinModuleDots = 3; // 0.254 mm, the first whole number of dots not under 0.25 mm
constexpr int MaxModuleDots = 7; // larger modules only take the text's room
constexpr double MinPointSize = 5.0; // of the lines under the label's own, which is LabelLineScale larger
constexpr double MaxPointSize = 9.0;
constexpr double LabelLineScale = 1.25;

struct TextLine {
    Line line = Line::Label;
    QString text;
    double pointSize = 0;
    QPointF origin; // the start of the base line
    QRectF rect; // the room the text takes, ink and advance
};

struct LabelLayout {
    QSizeF size; // on tape, the length found for this label
    QRectF printable; // the label less its margins
    CodeSymbol symbol;
    double moduleMm = 0;
    QRectF symbolRect; // the code's modules
    QRectF quietRect; // with its quiet zone
    QRectF textBox; // where the text may go
    QList<TextLine> lines;
    QList<Line> dropped; // in the order they were left off
};

// A label that cannot be laid out; the message (UTF-8) is the reason, one a line.
class LabelError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Why the label cannot be printed on that size in that code; empty when it can.
QString RefusalReason(const LabelContent &content, const LabelSize &size, Symbology symbology);
// Throws LabelError with RefusalReason's text.
LabelLayout LayOutLabel(const LabelContent &content, const LabelSize &size, Symbology symbology);
// All of them, or LabelError with the reasons of every refused label.
QList<LabelLayout> LayOutLabels(const QList<LabelContent> &contents, const LabelSize &size, Symbology symbology);

// IPA Gothic at pointSize on paper, for text drawn on device in units of 0.01 mm.
QFont LabelFont(double pointSize, const QPaintDevice *device);

} // namespace labels
