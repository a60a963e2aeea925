#pragma once

// A reader for the metafiles the tests look into, written from the record
// layouts, not from the writer: it walks the records, plays the object table the
// way GDI does (a WMF create takes the lowest free slot) and lists every
// structural fault it finds, together with what was drawn.

#include <QByteArray>
#include <QColor>
#include <QPolygon>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

namespace mfread {

struct Stroke {
    QPolygon points; // logical units
    QColor color;
    int width = 0; // logical units
    int style = 0;
    bool closed = false; // a polygon record rather than a polyline
};

struct Text {
    QString text;
    QPoint ref; // logical units
    QVector<int> dx; // per UTF-16 unit (EMF) or per byte (WMF)
    QString face;
    int height = 0; // as written (negative: em height)
    int escapement = 0;
    int orientation = 0;
    int charset = -1;
    QColor color;
};

struct Picture {
    QStringList problems; // empty when the structure is sound
    QSize sizePx; // from the frame (EMF) or placeable box (WMF), 96 dpi
    double unitsPerPixel = 1.0;
    QRect boundsPx; // EMF header bounds
    int records = 0;
    int rectangles = 0;
    int images = 0;
    bool transparentText = false;
    QVector<Stroke> strokes;
    QVector<Text> texts;
};

Picture readEmf(const QByteArray &file);
Picture readWmf(const QByteArray &file);

} // namespace mfread
