#include "tests/desktop/Desktop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace desktop {

bool waitFor(const std::function<bool()> &cond, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!cond()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(50);
    }
    return true;
}

namespace {

void stop(QProcess &p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

// Children end with the test even when it is killed (a CTest time-out), so no
// display or program is left behind.
void endWithParent(QProcess &p)
{
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

// A shown window must not answer X errors with the default handler, which
// ends the process: a window may vanish between listing and asking.
int ignoreXErrors(::Display *, XErrorEvent *)
{
    return 0;
}

} // namespace

Session::~Session()
{
    stop(m_wm);
    if (m_dpy)
        XCloseDisplay(m_dpy);
    stop(m_xvfb);
}

bool Session::start()
{
    // -displayfd picks a free display number and writes it on our stdout.
    endWithParent(m_xvfb);
    endWithParent(m_wm);
    m_xvfb.start(QStringLiteral("Xvfb"),
        {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
            QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!m_xvfb.waitForStarted(TimeoutMs)) {
        m_error = QStringLiteral("Xvfb did not start: ") + m_xvfb.errorString();
        return false;
    }
    QByteArray out;
    waitFor([&] {
        out += m_xvfb.readAllStandardOutput();
        return out.contains('\n') || m_xvfb.state() == QProcess::NotRunning;
    });
    bool ok = false;
    const int number = out.trimmed().toInt(&ok);
    if (!ok) {
        m_error
            = QStringLiteral("Xvfb gave no display number: ") + QString::fromLocal8Bit(m_xvfb.readAllStandardError());
        return false;
    }
    m_name = QStringLiteral(":%1").arg(number);
    XSetErrorHandler(ignoreXErrors);
    m_dpy = XOpenDisplay(m_name.toLocal8Bit().constData());
    if (!m_dpy) {
        m_error = QStringLiteral("cannot open display ") + m_name;
        return false;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_name);
    m_wm.setProcessEnvironment(env);
    m_wm.setProcessChannelMode(QProcess::MergedChannels);
    m_wm.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!m_wm.waitForStarted(TimeoutMs)) {
        m_error = QStringLiteral("openbox did not start: ") + m_wm.errorString();
        return false;
    }
    // The window manager is in charge once it names itself on the root window.
    const bool wmUp = waitFor([this] {
        return !property(DefaultRootWindow(m_dpy), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW).isEmpty()
            || m_wm.state() == QProcess::NotRunning;
    });
    if (!wmUp || m_wm.state() == QProcess::NotRunning) {
        m_error = QStringLiteral("openbox did not take the display: ") + QString::fromLocal8Bit(m_wm.readAll());
        return false;
    }
    return true;
}

QSize Session::screenSize() const
{
    const int s = DefaultScreen(m_dpy);
    return QSize(DisplayWidth(m_dpy, s), DisplayHeight(m_dpy, s));
}

unsigned long Session::atom(const char *name) const
{
    return XInternAtom(m_dpy, name, False);
}

QByteArray Session::property(WindowId w, const char *name, unsigned long type, int *format) const
{
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    QByteArray result;
    if (XGetWindowProperty(
            m_dpy, w, atom(name), 0, 1 << 16, False, type, &actualType, &actualFormat, &count, &after, &data)
            == Success
        && data && actualType == type) {
        // Format 32 comes as longs on the client side.
        const int unit = actualFormat == 32 ? int(sizeof(long)) : actualFormat / 8;
        result = QByteArray(reinterpret_cast<const char *>(data), int(count) * unit);
        if (format)
            *format = actualFormat;
    }
    if (data)
        XFree(data);
    return result;
}

namespace {
QList<long> longs(const QByteArray &bytes)
{
    QList<long> v;
    for (int i = 0; i + int(sizeof(long)) <= bytes.size(); i += int(sizeof(long)))
        v.append(*reinterpret_cast<const long *>(bytes.constData() + i));
    return v;
}
} // namespace

QList<WindowId> Session::clients() const
{
    XSync(m_dpy, False);
    QList<WindowId> list;
    for (long w : longs(property(DefaultRootWindow(m_dpy), "_NET_CLIENT_LIST", XA_WINDOW)))
        list.append(WindowId(w));
    return list;
}

QString Session::title(WindowId w) const
{
    return QString::fromUtf8(property(w, "_NET_WM_NAME", atom("UTF8_STRING")));
}

QStringList Session::wmClass(WindowId w) const
{
    QByteArray bytes = property(w, "WM_CLASS", XA_STRING);
    if (bytes.endsWith('\0'))
        bytes.chop(1);
    QStringList parts;
    for (const QByteArray &p : bytes.split('\0'))
        parts << QString::fromLatin1(p);
    return parts;
}

qint64 Session::pid(WindowId w) const
{
    const QList<long> v = longs(property(w, "_NET_WM_PID", XA_CARDINAL));
    return v.isEmpty() ? -1 : v.first();
}

bool Session::hasFrameExtents(WindowId w) const
{
    return longs(property(w, "_NET_FRAME_EXTENTS", XA_CARDINAL)).size() == 4;
}

QMargins Session::frameExtents(WindowId w) const
{
    const QList<long> v = longs(property(w, "_NET_FRAME_EXTENTS", XA_CARDINAL));
    if (v.size() != 4)
        return QMargins();
    return QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3])); // left, right, top, bottom on the wire
}

QRect Session::clientRect(WindowId w) const
{
    XWindowAttributes a{};
    if (!XGetWindowAttributes(m_dpy, w, &a))
        return QRect();
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(m_dpy, w, DefaultRootWindow(m_dpy), 0, 0, &x, &y, &child);
    return QRect(x, y, a.width, a.height);
}

QRect Session::outerRect(WindowId w) const
{
    return clientRect(w).marginsAdded(frameExtents(w));
}

bool Session::isViewable(WindowId w) const
{
    XWindowAttributes a{};
    return XGetWindowAttributes(m_dpy, w, &a) && a.map_state == IsViewable;
}

int Session::shownPopups(qint64 pid) const
{
    ::Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(m_dpy, DefaultRootWindow(m_dpy), &root, &parent, &children, &count))
        return 0;
    int shown = 0;
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes a{};
        if (XGetWindowAttributes(m_dpy, children[i], &a) && a.map_state == IsViewable && a.override_redirect
            && this->pid(children[i]) == pid)
            ++shown;
    }
    if (children)
        XFree(children);
    return shown;
}

WindowId Session::activeWindow() const
{
    const QList<long> v = longs(property(DefaultRootWindow(m_dpy), "_NET_ACTIVE_WINDOW", XA_WINDOW));
    return v.isEmpty() ? 0 : WindowId(v.first());
}

WindowId Session::waitForWindow(qint64 pid, const QString &wanted, int timeoutMs) const
{
    WindowId found = 0;
    waitFor(
        [&] {
            for (WindowId w : clients())
                if (this->pid(w) == pid && title(w) == wanted && isViewable(w)) {
                    found = w;
                    return true;
                }
            return false;
        },
        timeoutMs);
    return found;
}

QStringList Session::titlesOf(qint64 pid) const
{
    QStringList titles;
    for (WindowId w : clients())
        if (this->pid(w) == pid && isViewable(w))
            titles << title(w);
    return titles;
}

bool Session::xdotool(const QStringList &args) const
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_name);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("xdotool"), args);
    return p.waitForFinished(TimeoutMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool Session::activate(WindowId w) const
{
    if (activeWindow() == w)
        return true;
    xdotool({QStringLiteral("windowactivate"), QString::number(w)});
    return waitFor([&] { return activeWindow() == w; });
}

bool Session::keys(const QStringList &names) const
{
    return xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("30")} + names);
}

bool Session::resizeClient(WindowId w, int width, int height) const
{
    return xdotool({QStringLiteral("windowsize"), QString::number(w), QString::number(width), QString::number(height)});
}

bool Session::click(WindowId w, int x, int y) const
{
    return xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(w), QString::number(x),
        QString::number(y), QStringLiteral("click"), QStringLiteral("1")});
}

void Session::close(WindowId w) const
{
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = atom("_NET_CLOSE_WINDOW");
    e.xclient.format = 32;
    e.xclient.data.l[0] = CurrentTime;
    e.xclient.data.l[1] = 2; // from a pager or the user
    XSendEvent(m_dpy, DefaultRootWindow(m_dpy), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    XFlush(m_dpy);
}

Program::Program(const Session &session)
    : m_session(session)
{
    // VOLTRAK_DESKTOP_EXE runs the same tests against another build.
    QFile::copy(qEnvironmentVariable("VOLTRAK_DESKTOP_EXE", QStringLiteral(VOLTRAK_EXE)),
        m_dir.filePath(QStringLiteral("voltrak")));
    QFile::setPermissions(
        m_dir.filePath(QStringLiteral("voltrak")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    endWithParent(m_process);
}

Program::~Program()
{
    stop(m_process);
}

void Program::writeIni(const QByteArray &text)
{
    QFile f(m_dir.filePath(QStringLiteral("voltrak.ini")));
    if (f.open(QIODevice::WriteOnly))
        f.write(text);
}

QByteArray Program::readIni() const
{
    QFile f(m_dir.filePath(QStringLiteral("voltrak.ini")));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int Program::iniValue(const QByteArray &key) const
{
    const QByteArray ini = readIni();
    const qsizetype section = ini.indexOf("[VOLTRAK]");
    if (section < 0)
        return std::numeric_limits<int>::min();
    const QRegularExpression re(QStringLiteral("(?:^|\\n)%1=(-?\\d+)").arg(QString::fromLatin1(key)));
    const auto m = re.match(QString::fromLatin1(ini.mid(section)));
    return m.hasMatch() ? m.captured(1).toInt() : std::numeric_limits<int>::min();
}

QString Program::writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    return path;
}

bool Program::start(const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_session.name());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    m_process.setProcessEnvironment(env);
    m_process.setWorkingDirectory(m_dir.path());
    m_process.start(m_dir.filePath(QStringLiteral("voltrak")), arguments);
    return m_process.waitForStarted(TimeoutMs);
}

bool Program::waitForExit(int timeoutMs)
{
    return waitFor([this] { return m_process.state() == QProcess::NotRunning; }, timeoutMs);
}

QString Program::output() const
{
    return QString::fromLocal8Bit(const_cast<QProcess &>(m_process).readAll());
}

} // namespace desktop
