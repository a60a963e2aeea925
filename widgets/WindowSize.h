#pragma once
// Window sizes as the settings store them: outer sizes, frame and caption included.
#include <QMargins>
#include <QObject>
#include <QSize>
#include <QString>

class QWidget;

namespace windowsize {

// The window's outer size (its client size until the window manager framed it).
QSize outer(const QWidget *w);
// Resizes so that the outer size becomes w by h.
void setOuter(QWidget *window, int w, int h);

// The size a window keeps in its own ini section (Width, Height): read and given to the window, kept within
// minimum and 4000 by 2000 when the file was edited by hand (the window's own size where a key is missing).
void loadSectionSize(QWidget *window, const QString &iniPath, const QString &section, QSize minimum);
// Written back; false when the ini file could not be written.
bool saveSectionSize(const QWidget *window, const QString &iniPath, const QString &section);

// Keeps a top-level window's outer size (and, if asked, its centring) right
// across the moment a window manager frames it. A size or place given before
// the frame is known counts the frame as nothing; once the frame appears they
// are given again, unless the user (or the program) has changed them since.
class FramedGeometry : public QObject
{
public:
    explicit FramedGeometry(QWidget *window);

    // Outer size w by h now, and again once the frame is known.
    void setOuterSize(int w, int h);
    // Centres the outer rectangle on the window's screen (left and top not
    // below the screen's), now and again once the frame is known.
    void centre();
    // The same over anchor's outer rectangle (the main window), kept on its screen.
    void centreOn(const QWidget *anchor);
    // True while a frame is known (never without a window manager).
    bool framed() const { return m_framed; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchNativeWindow();
    void check();
    QMargins expectedFrame() const;

    QWidget *m_window;
    bool m_framed = false;
    bool m_watchingNative = false;
    QSize m_wantedOuter; // empty: no size to redo
    QSize m_clientSet; // the client size that setOuterSize gave
    bool m_centreWanted = false;
    const QWidget *m_anchor = nullptr; // centred over this one, else the screen
    QMargins m_lastFrame; // the frame last seen, kept while the window is hidden
    // Looks again for a frame every RetryMs, MaxRetries times after a show.
    static constexpr int RetryMs = 50;
    static constexpr int MaxRetries = 40;
    int m_retriesLeft = 0;
    bool m_retryPending = false;
};

} // namespace windowsize
