#pragma once
// What both graph windows share around their pictures: the save dialog, the
// labels drawn into vector pictures, and the copy to the clipboard.
#include "picture/PictureFile.h"

#include <QImage>
#include <QList>
#include <QString>

#include <functional>

class QLabel;
class QPainter;
class QWidget;

namespace graph {

// The picture save dialog: the six filters, BMP first; a name typed without an
// extension takes the chosen filter's. Returns the path, or empty on cancel.
QString RunPictureSaveDialog(QWidget *parent);

// Draws the labels' texts where they stand on their parent, in their fonts.
void PaintLabels(QPainter &painter, const QList<QLabel *> &labels);

// Puts the window's image on the clipboard.
void CopyPicture(const PictureSource &source);

// The window's client area as it stands on screen, children included.
QImage WindowImage(QWidget *window);

// Asks for a file name and saves the picture in the format its extension
// names; anything that goes wrong, the dialog included, is the one warning
// "ファイル書き込み失敗".
void SaveWithDialog(const std::function<QString()> &dialog, const PictureSource &source);

} // namespace graph
