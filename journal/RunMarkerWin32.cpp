// Run markers on Windows: the same files and rules as on Linux, locked with LockFileEx. Windows locks are
// mandatory, so the lock covers one byte far past the marker's text, which every copy can still read.
#include "journal/Journal.h"
#include "journal/PaneSnapshot.h"
#include "journal/RunMarker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <utility>

#include <windows.h>

namespace journal {
namespace {

constexpr DWORD LockOffsetHigh = 0x7FFFFFFF;

const wchar_t *W(const QString &s)
{
    return reinterpret_cast<const wchar_t *>(s.utf16());
}

QString Native(const QString &path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// Shared for reading, writing and deleting: another copy reads the text, and a marker is removed while open.
HANDLE OpenMarker(const QString &path, DWORD disposition)
{
    return CreateFileW(W(Native(path)), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool Lock(HANDLE h, bool wait)
{
    OVERLAPPED ov{};
    ov.OffsetHigh = LockOffsetHigh;
    return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY), 0, 1, 0, &ov);
}

QByteArray MarkerText(const QString &iniPath)
{
    return QByteArray::number(qint64(QCoreApplication::applicationPid())) + '\n'
        + QFileInfo(iniPath).absoluteFilePath().toUtf8() + '\n';
}

QString MarkerIni(HANDLE h)
{
    QByteArray text(4096, '\0');
    OVERLAPPED ov{};
    DWORD n = 0;
    if (!ReadFile(h, text.data(), DWORD(text.size()), &n, &ov))
        n = 0;
    text.truncate(int(n));
    const QList<QByteArray> lines = text.split('\n');
    return lines.size() > 1 ? QString::fromUtf8(lines.at(1)) : QString();
}

// True when path still names the file open on h (it was not removed or replaced between the open and the lock).
bool SameFile(HANDLE h, const QString &path)
{
    const HANDLE again = CreateFileW(W(Native(path)), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (again == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same = GetFileInformationByHandle(h, &a) && GetFileInformationByHandle(again, &b)
        && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh
        && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(again);
    return same;
}

void Close(void *&h)
{
    if (h) {
        CloseHandle(static_cast<HANDLE>(h));
        h = nullptr;
    }
}

} // namespace

RunMarker::~RunMarker()
{
    // Without remove() the marker stays: this run did not end through the close path.
    Close(m_fd);
}

bool RunMarker::create(const QString &folder, const QDateTime &start, const QString &iniPath)
{
    if (m_fd || !QDir().mkpath(folder))
        return false;
    // Made and locked under a temporary name first, then linked into place, so a marker is never seen unlocked
    // while its run is alive.
    const QString temp
        = folder + QStringLiteral("/.run-%1").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    const HANDLE h = OpenMarker(temp, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const QByteArray text = MarkerText(iniPath);
    DWORD written = 0;
    bool ok = Lock(h, true) && WriteFile(h, text.constData(), DWORD(text.size()), &written, nullptr)
        && written == DWORD(text.size());
    if (ok) {
        ok = false;
        for (int i = 1; i < 1000; ++i) {
            const QString base = folder + QLatin1Char('/') + RunName(start, i);
            if (QFileInfo::exists(base + QStringLiteral(".log")))
                continue;
            const QString path = base + QStringLiteral(".run");
            if (CreateHardLinkW(W(Native(path)), W(Native(temp)), nullptr)) {
                m_index = i;
                m_path = path;
                ok = true;
                break;
            }
            if (GetLastError() != ERROR_ALREADY_EXISTS)
                break;
        }
    }
    DeleteFileW(W(Native(temp)));
    if (!ok) {
        CloseHandle(h);
        return false;
    }
    m_fd = h;
    return true;
}

void RunMarker::remove()
{
    if (!m_fd)
        return;
    DeleteFileW(W(Native(m_path)));
    Close(m_fd);
}

Unfinished::~Unfinished()
{
    Close(m_fd);
}

Unfinished::Unfinished(Unfinished &&other) noexcept
{
    *this = std::move(other);
}

Unfinished &Unfinished::operator=(Unfinished &&other) noexcept
{
    if (this != &other) {
        Close(m_fd);
        m_fd = std::exchange(other.m_fd, nullptr);
        m_marker = std::move(other.m_marker);
        m_journal = std::move(other.m_journal);
    }
    return *this;
}

QString Unfinished::snapshotPath() const
{
    return m_journal.isEmpty() ? QString() : SnapshotPathFor(m_journal);
}

void Unfinished::dismiss()
{
    if (!m_fd)
        return;
    DeleteFileW(W(Native(snapshotPath())));
    DeleteFileW(W(Native(m_marker)));
    Close(m_fd);
}

Unfinished Unfinished::claim(const QString &markerPath, const QString &ini)
{
    Unfinished found;
    const HANDLE h = OpenMarker(markerPath, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE)
        return found;
    // Locked: a copy that is still running. Another ini file: not ours to judge.
    if (!Lock(h, false) || !SameFile(h, markerPath) || MarkerIni(h) != ini) {
        CloseHandle(h);
        return found;
    }
    found.m_fd = h;
    found.m_marker = markerPath;
    return found;
}

} // namespace journal
