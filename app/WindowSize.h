#pragma once
// Window sizes as the settings store them: outer sizes, frame and caption included.
#include <QSize>

class QWidget;

namespace windowsize {

// The window's outer size (its client size until the window manager framed it).
QSize outer(const QWidget *w);
// Resizes so that the outer size becomes w by h.
void setOuter(QWidget *window, int w, int h);

} // namespace windowsize
