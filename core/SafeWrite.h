#pragma once
// Writing a whole file the way every writer of this program does it (logs,
// the ini file, pictures), so that a failed save loses as little as possible
// and a saved file stays the file the user had:
//
//   1. The data goes into a temporary file in the same folder, which is then
//      renamed over the file: a failure leaves the old file as it was.
//   2. When the folder refuses a new file (or the rename) but the file itself
//      may be written, the file is written in place instead. A failure in
//      the middle can then leave it cut short; that is the price of saving
//      at all in such a folder.
//   3. An existing file keeps its permission bits, owner and group; a
//      symbolic link stays a link and the file it names is written; a device
//      or pipe is written directly, never replaced. A new file gets 0666 less
//      the umask, as any newly created file does.
//   4. An existing file this user may not write is left alone (an error), as
//      is a folder name.
//
// Writers that produce their output through a QIODevice (QImage::save,
// QSvgGenerator, QPdfWriter...) render into a QBuffer first and hand its
// bytes to WriteFile.
#include <QByteArray>
#include <QString>
#include <stdexcept>

namespace safewrite {

// A file that could not be written; the message (UTF-8) names the file and
// the reason.
class WriteError : public std::runtime_error
{
public:
    WriteError(const std::string &what, int err = 0)
        : std::runtime_error(what)
        , m_errno(err)
    { }
    // The system's errno behind it (ENOENT, EISDIR, EACCES, ENOSPC...), 0 when unknown.
    int errorCode() const { return m_errno; }

private:
    int m_errno;
};

enum class Method {
    Replaced, // written beside and renamed into place
    InPlace, // written into the existing file (folder not writable, or not a regular file)
};

// Writes data as the whole content of path. Throws WriteError.
Method WriteFile(const QString &path, const QByteArray &data);

// Puts a finished file that another writer made (SQLite's VACUUM INTO) in
// target's place: to the disk first, then renamed over target, so a crash
// leaves the old target or the new one. Throws WriteError; temp is left.
void CommitFile(const QString &temp, const QString &target);

} // namespace safewrite
