#include "widgets/WindowSize.h"
#include "core/IniFile.h"

#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace windowsize {

void loadSectionSize(QWidget *window, const QString &iniPath, const QString &section, QSize minimum)
{
    const IniFile ini(iniPath);
    const int w = ini.readInteger(section, QStringLiteral("Width"), window->width());
    const int h = ini.readInteger(section, QStringLiteral("Height"), window->height());
    window->resize(qBound(minimum.width(), w, 4000), qBound(minimum.height(), h, 2000));
}

bool saveSectionSize(const QWidget *window, const QString &iniPath, const QString &section)
{
    IniFile ini(iniPath);
    ini.writeInteger(section, QStringLiteral("Width"), window->width());
    ini.writeInteger(section, QStringLiteral("Height"), window->height());
    try {
        ini.save();
    } catch (const IniWriteError &) {
        return false;
    }
    return true;
}

namespace {

// The frame as the window system reports it now. While a window manager is
// still reparenting, the toolkit may work it out from a half-updated window
// tree and get negative sides; such a frame counts as none yet.
QMargins frame(const QWidget *w)
{
    const QWindow *handle = w->windowHandle();
    if (!handle)
        return QMargins();
    const QMargins m = handle->frameMargins();
    if (m.left() < 0 || m.top() < 0 || m.right() < 0 || m.bottom() < 0)
        return QMargins();
    return m;
}

} // namespace

QSize outer(const QWidget *w)
{
    const QMargins m = frame(w);
    return w->size().grownBy(m);
}

void setOuter(QWidget *window, int w, int h)
{
    const QMargins m = frame(window);
    window->resize(qMax(1, w - m.left() - m.right()), qMax(1, h - m.top() - m.bottom()));
}

FramedGeometry::FramedGeometry(QWidget *window)
    : QObject(window)
    , m_window(window)
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

QMargins FramedGeometry::expectedFrame() const
{
    // A window hidden again has lost its frame until the window manager
    // frames it anew; the frame it had is the best guess meanwhile.
    const QMargins now = frame(m_window);
    return now.isNull() ? m_lastFrame : now;
}

void FramedGeometry::setOuterSize(int w, int h)
{
    // Some platforms know the frame as soon as the native window exists.
    m_window->winId();
    const QMargins m = expectedFrame();
    m_window->resize(qMax(1, w - m.left() - m.right()), qMax(1, h - m.top() - m.bottom()));
    m_wantedOuter = m_framed ? QSize() : QSize(w, h);
    m_clientSet = m_window->size();
    watchNativeWindow();
}

void FramedGeometry::centreOn(const QWidget *anchor)
{
    m_anchor = anchor;
    centre();
}

void FramedGeometry::centre()
{
    QScreen *s = m_window->screen();
    if (!s)
        return;
    const QRect screen = s->geometry();
    const QRect area = m_anchor && m_anchor->isVisible() ? m_anchor->frameGeometry() : screen;
    const QSize size = m_window->size().grownBy(expectedFrame());
    QPoint framePos(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2);
    // Wholly on the screen where it fits, its top left corner always.
    framePos.setX(qMax(screen.x(), qMin(framePos.x(), screen.right() + 1 - size.width())));
    framePos.setY(qMax(screen.y(), qMin(framePos.y(), screen.bottom() + 1 - size.height())));
    if (m_window->testAttribute(Qt::WA_WState_Created)) {
        // A created window's move() places the client by the frame the widget
        // last heard of, which may lag behind; place the client from the
        // frame known now, undoing that offset.
        const QMargins m = frame(m_window);
        const QPoint client = framePos + QPoint(m.left(), m.top());
        m_window->move(client - (m_window->geometry().topLeft() - m_window->pos()));
    } else {
        m_window->move(framePos);
    }
    m_centreWanted = !m_framed;
    watchNativeWindow();
}

bool FramedGeometry::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Hide && m_framed) {
        // The frame goes with the window; at the next show the sizes and the
        // place given meanwhile are checked against the new frame again.
        m_framed = false;
    }
    if (!m_framed) {
        if (watched == m_window) {
            switch (event->type()) {
            case QEvent::Show:
                watchNativeWindow();
                m_retriesLeft = MaxRetries;
                Q_FALLTHROUGH();
            case QEvent::Move:
            case QEvent::Resize: QTimer::singleShot(0, this, &FramedGeometry::check); break;
            default: break;
            }
        } else if (event->type() == QEvent::Expose) {
            QTimer::singleShot(0, this, &FramedGeometry::check);
        }
    }
    return QObject::eventFilter(watched, event);
}

void FramedGeometry::check()
{
    if (m_framed || !m_window->isVisible())
        return;
    if (frame(m_window).isNull()) {
        // Not framed yet, or never (no window manager). The toolkit learns of
        // the frame from a property change that raises no event of its own,
        // so look again a few times shortly after the window came up.
        if (m_retriesLeft > 0 && !m_retryPending) {
            --m_retriesLeft;
            m_retryPending = true;
            QTimer::singleShot(RetryMs, this, [this] {
                m_retryPending = false;
                check();
            });
        }
        return;
    }
    m_framed = true;
    m_lastFrame = frame(m_window);
    if (m_window->windowHandle())
        m_window->windowHandle()->removeEventFilter(this);
    m_watchingNative = false;
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
