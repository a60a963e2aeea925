#include "app/WindowSize.h"

#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

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

FramedGeometry::FramedGeometry(QWidget *window) : QObject(window), m_window(window)
{
    window->installEventFilter(this);
}

void FramedGeometry::watchNativeWindow()
{
    // The frame may arrive without the client moving or resizing; the
    // native window's first exposure after mapping is then the moment to look.
    if (m_watchingNative || !m_window->windowHandle())
        return;
    m_watchingNative = true;
    m_window->windowHandle()->installEventFilter(this);
}

void FramedGeometry::setOuterSize(int w, int h)
{
    setOuter(m_window, w, h);
    m_wantedOuter = m_framed ? QSize() : QSize(w, h);
    m_clientSet = m_window->size();
    watchNativeWindow();
}

void FramedGeometry::centre()
{
    QScreen *s = m_window->screen();
    if (!s)
        return;
    const QRect area = s->geometry();
    const QSize size = outer(m_window);
    m_window->move(qMax(area.x(), area.x() + (area.width() - size.width()) / 2),
                   qMax(area.y(), area.y() + (area.height() - size.height()) / 2));
    m_centreWanted = !m_framed;
    watchNativeWindow();
}

bool FramedGeometry::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_framed) {
        if (watched == m_window) {
            switch (event->type()) {
            case QEvent::Show:
                watchNativeWindow();
                Q_FALLTHROUGH();
            case QEvent::Move:
            case QEvent::Resize:
                QTimer::singleShot(0, this, &FramedGeometry::check);
                break;
            default:
                break;
            }
        } else if (event->type() == QEvent::Expose) {
            QTimer::singleShot(0, this, &FramedGeometry::check);
        }
    }
    return QObject::eventFilter(watched, event);
}

void FramedGeometry::check()
{
    if (m_framed || !m_window->isVisible() || outer(m_window) == m_window->size())
        return;   // not framed yet, or never will be
    m_framed = true;
    if (m_window->windowHandle())
        m_window->windowHandle()->removeEventFilter(this);
    // A size is redone only if nothing changed it since it was given; the
    // centring always is: the window manager may have placed the frame
    // anywhere, and nobody could have dragged it before it had one.
    if (!m_wantedOuter.isEmpty() && m_window->size() == m_clientSet)
        setOuter(m_window, m_wantedOuter.width(), m_wantedOuter.height());
    if (m_centreWanted)
        centre();
    m_wantedOuter = QSize();
    m_centreWanted = false;
}

} // namespace windowsize
