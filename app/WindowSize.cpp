#include "app/WindowSize.h"

#include <QWidget>

namespace windowsize {

QSize outer(const QWidget *w)
{
    return w->frameGeometry().size();
}

void setOuter(QWidget *window, int w, int h)
{
    const QSize frame = window->frameGeometry().size() - window->size();
    window->resize(qMax(1, w - frame.width()), qMax(1, h - frame.height()));
}

} // namespace windowsize
