#pragma once
// The program's icon, drawn rather than shipped: a battery with a falling curve.
#include <QIcon>
#include <QPixmap>

namespace appicon {
QPixmap Pixmap(int size);
QIcon Icon();
} // namespace appicon
