#pragma once
// The labels the program prints on: a sheet of die-cut labels, a roll of
// die-cut labels, and two widths of tape cut to each label's length. All
// lengths in millimetres.
#include <QList>
#include <QMarginsF>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

namespace labels {

struct LabelSize {
    QString name; // for --label-size: "a4-65"
    QString title; // for the user: "A4 シート 65 面（38.1 × 21.2 mm）"
    // A label's size; on tape the width is 0: each label is as long as its content needs.
    QSizeF label;
    // Where nothing is printed, inside each label: the printer's unprintable edge on tape and rolls, room for
    // the sheet's feed on sheets. A code's quiet zone may lie there, as it only has to stay blank.
    QMarginsF margins;
    QSizeF page; // the sheet, or the label itself on a roll; empty on tape, where each label is its own page
    int columns = 1;
    int rows = 1;
    QPointF firstLabel; // the top left corner of the sheet's first label
    QSizeF pitch; // from one label's corner to the next one's, across and down

    bool isTape() const { return label.width() <= 0; }
    int labelsPerPage() const { return columns * rows; }
};

// The sizes, in the order a user is offered them.
const QList<LabelSize> &LabelSizes();
QStringList LabelSizeNames();
// The size of that name, case ignored; nullptr for any other.
const LabelSize *FindLabelSize(const QString &name);

// Pages for count labels: a sheet takes labelsPerPage, a roll or tape one each.
int PageCount(const LabelSize &size, int count);
// Where the index-th label of a page lies on a sheet, from the sheet's corner.
QRectF LabelRectOnPage(const LabelSize &size, int index);

} // namespace labels
