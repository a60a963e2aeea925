// Safe writes on Windows: the same rules as on Linux, with the system's own replace. The data goes into a new
// file beside the old one, reaches the disk (FlushFileBuffers), and ReplaceFileW puts it in place keeping the old
// file's attributes and security; a new file is moved into place with MoveFileExW. A folder that takes no new
// file (or refuses the replace) makes an existing file be written in place.
#include "core/SafeWrite.h"

#include "core/FileReason.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <windows.h>

namespace safewrite {
namespace {

const wchar_t *W(const QString &s)
{
    return reinterpret_cast<const wchar_t *>(s.utf16());
}

[[noreturn]] void Fail(const QString &path, const char *what, DWORD err)
{
    throw WriteError(
        QStringLiteral("%1 %2: %3").arg(QString::fromUtf8(what), path, qt_error_string(int(err))).toStdString(),
        filereason::ErrnoOf(err));
}

bool WriteAll(HANDLE h, const QByteArray &data)
{
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const DWORD chunk = DWORD(qMin<qsizetype>(left, 1 << 30));
        DWORD n = 0;
        if (!::WriteFile(h, p, chunk, &n, nullptr) || n == 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

Method WriteInPlace(const QString &path, const QString &native, const QByteArray &data)
{
    const HANDLE h = CreateFileW(W(native), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        Fail(path, "cannot write", GetLastError());
    // Truncate only once the file is ours, then write; a device ignores both the size and the flush.
    const bool disk = GetFileType(h) == FILE_TYPE_DISK;
    if ((disk && !SetEndOfFile(h)) || !WriteAll(h, data) || (disk && !FlushFileBuffers(h))) {
        const DWORD err = GetLastError();
        CloseHandle(h);
        Fail(path, "cannot write", err);
    }
    CloseHandle(h);
    return Method::InPlace;
}

// Errors that mean "this folder takes no new file here", not "the disk is full".
bool FolderRefuses(DWORD err)
{
    return err == ERROR_ACCESS_DENIED || err == ERROR_WRITE_PROTECT || err == ERROR_SHARING_VIOLATION
        || err == ERROR_NOT_SAME_DEVICE || err == ERROR_UNABLE_TO_REMOVE_REPLACED
        || err == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

bool IsDevicePath(const QString &path)
{
    return path.startsWith(QLatin1String("\\\\.\\")) || path.startsWith(QLatin1String("//./"));
}

} // namespace

Method WriteFile(const QString &path, const QByteArray &data)
{
    if (path.isEmpty())
        Fail(path, "cannot create", ERROR_PATH_NOT_FOUND);
    if (IsDevicePath(path))
        return WriteInPlace(path, path, data); // never replace a device
    const QString native = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());

    const DWORD attrs = GetFileAttributesW(W(native));
    const bool exists = attrs != INVALID_FILE_ATTRIBUTES;
    if (exists && (attrs & FILE_ATTRIBUTE_DIRECTORY))
        Fail(path, "cannot create", ERROR_DIRECTORY);
    if (exists) {
        // A read-only file, or one this user may not write, is left alone: a replace would go over it regardless.
        if (attrs & FILE_ATTRIBUTE_READONLY)
            Fail(path, "cannot write", ERROR_ACCESS_DENIED);
        const HANDLE probe = CreateFileW(W(native), GENERIC_WRITE,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE)
            Fail(path, "cannot write", GetLastError());
        const bool disk = GetFileType(probe) == FILE_TYPE_DISK;
        CloseHandle(probe);
        if (!disk)
            return WriteInPlace(path, native, data);
    }

    const QFileInfo info(native);
    QString temp;
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD err = 0;
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        temp = QDir::toNativeSeparators(info.absolutePath() + QStringLiteral("/.") + info.fileName().left(200)
            + QStringLiteral(".%1").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        h = CreateFileW(W(temp), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        err = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS)
            break;
    }
    if (h == INVALID_HANDLE_VALUE) {
        if (exists && FolderRefuses(err))
            return WriteInPlace(path, native, data);
        Fail(path, "cannot create", err);
    }
    if (!WriteAll(h, data) || !FlushFileBuffers(h)) {
        err = GetLastError();
        CloseHandle(h);
        DeleteFileW(W(temp));
        Fail(path, "cannot write", err);
    }
    CloseHandle(h);
    const bool moved = exists
        ? ReplaceFileW(W(native), W(temp), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
        : MoveFileExW(W(temp), W(native), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!moved) {
        err = GetLastError();
        DeleteFileW(W(temp));
        if (exists && FolderRefuses(err))
            return WriteInPlace(path, native, data);
        Fail(path, "cannot replace", err);
    }
    return Method::Replaced;
}

void CommitFile(const QString &temp, const QString &target)
{
    const QString from = QDir::toNativeSeparators(temp);
    const HANDLE h = CreateFileW(W(from), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        Fail(temp, "cannot open", GetLastError());
    if (!FlushFileBuffers(h)) {
        const DWORD err = GetLastError();
        CloseHandle(h);
        Fail(temp, "cannot write", err);
    }
    CloseHandle(h);
    if (!MoveFileExW(W(from), W(QDir::toNativeSeparators(target)), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        Fail(target, "cannot replace", GetLastError());
}

} // namespace safewrite
