#pragma once
// A private X display with a real window manager, and the program run on it
// as a user would run it. Everything is read back from the X server: the
// title a person reads (_NET_WM_NAME), the frame (_NET_FRAME_EXTENTS) and
// the client's place on the screen. Keys and clicks go through xdotool.
// Every wait polls a condition under one overall time-out, never a fixed sleep.
#include <QByteArray>
#include <QMargins>
#include <QProcess>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

typedef struct _XDisplay Display;

namespace desktop {

using WindowId = unsigned long;

// What a slow, loaded machine still does in time; only a broken program waits longer.
constexpr int TimeoutMs = 15000;

// Polls cond every 50 ms, handling events, until it holds or the time-out ends.
bool waitFor(const std::function<bool()> &cond, int timeoutMs = TimeoutMs);

class Session
{
public:
    Session() = default;
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Starts Xvfb on a free display number and openbox on it; false with
    // error() set when either does not come up.
    bool start();
    QString name() const { return m_name; }
    QString error() const { return m_error; }
    QSize screenSize() const;

    // Managed top-level windows (the window manager's client list).
    QList<WindowId> clients() const;
    QString title(WindowId w) const; // _NET_WM_NAME, UTF-8
    QStringList wmClass(WindowId w) const; // instance, class
    qint64 pid(WindowId w) const; // _NET_WM_PID, or -1
    QMargins frameExtents(WindowId w) const; // left, top, right, bottom
    bool hasFrameExtents(WindowId w) const;
    QRect clientRect(WindowId w) const; // in root coordinates
    QRect outerRect(WindowId w) const; // client grown by the frame
    bool isViewable(WindowId w) const;
    WindowId activeWindow() const;
    // Shown windows of pid that the window manager does not manage: pop-ups
    // such as a completion list or an open menu.
    int shownPopups(qint64 pid) const;

    // The shown window of process pid titled exactly title, or 0 after the time-out.
    WindowId waitForWindow(qint64 pid, const QString &title, int timeoutMs = TimeoutMs) const;
    // Titles of the shown windows of pid, for failure messages.
    QStringList titlesOf(qint64 pid) const;

    // Makes w the active window (with the keyboard focus); false if it never becomes so.
    bool activate(WindowId w) const;
    // xdotool key: a list of key names ("alt+s", "Return", "ctrl+a", "2").
    bool keys(const QStringList &names) const;
    // Resizes w's client area, as dragging its frame would.
    bool resizeClient(WindowId w, int width, int height) const;
    // Left click at (x, y) of w's client area.
    bool click(WindowId w, int x, int y) const;
    // Asks the window manager to close w, as its close box would.
    void close(WindowId w) const;

private:
    bool xdotool(const QStringList &args) const;
    unsigned long atom(const char *name) const;
    QByteArray property(WindowId w, const char *name, unsigned long type, int *format = nullptr) const;

    QProcess m_xvfb;
    QProcess m_wm;
    ::Display *m_dpy = nullptr;
    QString m_name;
    QString m_error;
};

// build/voltrak copied into a folder of its own (so its settings file is
// private to the test), started with the ini text given, on the display.
class Program
{
public:
    explicit Program(const Session &session);
    ~Program();

    void writeIni(const QByteArray &text);
    QByteArray readIni() const;
    // The path of a file beside the program.
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    // Writes a file beside the program and returns its path.
    QString writeFile(const QString &name, const QByteArray &bytes);
    // The integer under key in the VOLTRAK section, or min() when missing.
    int iniValue(const QByteArray &key) const;

    bool start(const QStringList &arguments = {});
    qint64 pid() const { return m_process.processId(); }
    bool waitForExit(int timeoutMs = TimeoutMs);
    QString output() const;

private:
    const Session &m_session;
    QTemporaryDir m_dir;
    QProcess m_process;
};

} // namespace desktop
