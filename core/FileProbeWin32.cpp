// The file probes with Win32 calls. Windows will not open a folder as a file, so
// a folder is asked for first; the system's errors are told as the errno values
// the messages know.
#include "core/FileReason.h"

#include <QCoreApplication>
#include <QDir>

#include <cerrno>
#include <windows.h>

namespace filereason {

namespace {

const wchar_t *W(const QString &s)
{
    return reinterpret_cast<const wchar_t *>(s.utf16());
}

HANDLE OpenExisting(const QString &path, DWORD access)
{
    return CreateFileW(W(QDir::toNativeSeparators(path)), access,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

int ErrnoOf(unsigned long win32Error)
{
    switch (win32Error) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH: return ENOENT;
    case ERROR_DIRECTORY: return EISDIR;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW: return ENAMETOOLONG;
    }
    return 0;
}

int ReadProblem(const QString &path)
{
    const DWORD attrs = GetFileAttributesW(W(QDir::toNativeSeparators(path)));
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return ErrnoOf(GetLastError());
    if (attrs & FILE_ATTRIBUTE_DIRECTORY)
        return EISDIR;
    const HANDLE h = OpenExisting(path, GENERIC_READ);
    if (h == INVALID_HANDLE_VALUE)
        return ErrnoOf(GetLastError());
    CloseHandle(h);
    return 0;
}

bool FolderTakesNewFiles(const QString &folder)
{
    const QString probe = QDir::toNativeSeparators(
        folder + QStringLiteral("/.voltrak-probe-%1").arg(QCoreApplication::applicationPid()));
    const HANDLE h = CreateFileW(W(probe), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_EXISTS;
    CloseHandle(h);
    return true;
}

bool OpensForWriting(const QString &path)
{
    const HANDLE h = OpenExisting(path, GENERIC_READ | GENERIC_WRITE);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

} // namespace filereason
