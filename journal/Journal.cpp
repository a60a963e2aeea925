#include "journal/Journal.h"

#include "core/JournalCells.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace journal {
namespace {
// Bytes reach the file as soon as the writer wakes; the disk sees them within
// this time after their write, well inside five seconds of their arrival.
constexpr std::chrono::milliseconds SyncEvery{1000};

#ifdef Q_OS_WIN
// Bytes as they are (no CR LF translation), not inherited by child processes.
constexpr int OpenFlags = O_BINARY | O_NOINHERIT;
int SyncData(int fd)
{
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) ? 0 : -1;
}
#else
constexpr int OpenFlags = O_CLOEXEC;
int SyncData(int fd)
{
    return ::fdatasync(fd);
}
#endif
} // namespace

QString FolderFor(const QString &iniPath)
{
    return QFileInfo(iniPath).absolutePath() + QStringLiteral("/logs");
}

Journal::Journal(const QString &folder, const QDateTime &start, int index, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
    , m_start(start)
    , m_index(qMax(1, index))
{
    m_writer = std::thread([this] { run(); });
}

Journal::~Journal()
{
    close();
}

void Journal::append(const char *data, qsizetype size)
{
    if (size <= 0 || m_failed.load(std::memory_order_relaxed) || m_closed.load(std::memory_order_relaxed))
        return;
    std::lock_guard<std::mutex> g(m_lock);
    // Only the first bytes after the writer emptied the buffer wake it; a
    // stream costs the caller one copy per chunk and nothing else.
    const bool wake = m_buffer.empty();
    m_appended.fetch_add(size, std::memory_order_relaxed);
    m_buffer.append(data, static_cast<size_t>(size));
    if (wake)
        m_wake.notify_one();
}

void Journal::appendCells(const QByteArray &line)
{
    if (line.isEmpty() || m_failed.load(std::memory_order_relaxed) || m_closed.load(std::memory_order_relaxed))
        return;
    std::lock_guard<std::mutex> g(m_lock);
    const bool wake = m_buffer.empty() && m_cellsBuffer.empty();
    m_cellsBuffer.append(line.constData(), static_cast<size_t>(line.size()));
    if (wake)
        m_wake.notify_one();
}

QString Journal::cellsPath() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_path.isEmpty() ? QString() : journalcells::PathFor(m_path);
}

void Journal::writeCells(const std::string &lines)
{
    if (m_cellsFailed.load())
        return;
    // Beside the journal: they wait for its file (a run that never received a
    // byte has neither).
    m_cellsPending += lines;
    if (m_fd < 0)
        return;
    if (m_cellsFd < 0) {
        const QString path = cellsPath();
        m_cellsFd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | OpenFlags, 0644);
    }
    const std::string out = std::move(m_cellsPending);
    m_cellsPending.clear();
    const char *p = out.data();
    size_t left = out.size();
    while (m_cellsFd >= 0 && left > 0) {
        const ssize_t n = ::write(m_cellsFd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (m_cellsFd < 0 || left > 0) {
        m_cellsFailed = true;
        emit cellsWriteFailed();
        return;
    }
    m_cellsDirty = true;
}

void Journal::close()
{
    if (m_closed.exchange(true))
        return;
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_stop = true;
    }
    m_wake.notify_one();
    if (m_writer.joinable())
        m_writer.join();
}

QString Journal::filePath() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_path;
}

void Journal::run()
{
    std::string chunk, cells;
    std::unique_lock<std::mutex> lk(m_lock);
    for (;;) {
        if (m_buffer.empty() && m_cellsBuffer.empty() && !m_stop) {
            if (m_dirty)
                m_wake.wait_until(lk, m_syncDue);
            else
                m_wake.wait(lk);
        }
        chunk.clear();
        chunk.swap(m_buffer);
        // Taken with the bytes: every byte before a line is written before it.
        cells.clear();
        cells.swap(m_cellsBuffer);
        const bool stop = m_stop;
        lk.unlock();

        if (!chunk.empty() && !m_failed.load() && writeOut(chunk) && !m_dirty) {
            m_dirty = true;
            m_syncDue = std::chrono::steady_clock::now() + SyncEvery;
        }
        if ((!cells.empty() || (!m_cellsPending.empty() && m_fd >= 0)) && !m_failed.load()) {
            writeCells(cells);
            if (m_cellsDirty && !m_dirty) {
                m_dirty = true;
                m_syncDue = std::chrono::steady_clock::now() + SyncEvery;
            }
        }
        if (m_dirty && (stop || std::chrono::steady_clock::now() >= m_syncDue)) {
            m_dirty = false;
            if (m_fd >= 0 && SyncData(m_fd) != 0)
                fail();
            if (m_cellsDirty) {
                m_cellsDirty = false;
                if (m_cellsFd >= 0 && SyncData(m_cellsFd) != 0 && !m_cellsFailed.exchange(true))
                    emit cellsWriteFailed();
            }
        }

        lk.lock();
        if (stop && m_buffer.empty() && m_cellsBuffer.empty())
            break;
    }
    lk.unlock();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_cellsFd >= 0)
        ::close(m_cellsFd);
    m_cellsFd = -1;
}

bool Journal::createFile()
{
    if (!QDir().mkpath(m_folder))
        return false;
    for (int i = m_index; i < m_index + 1000; ++i) {
        const QString path = m_folder + QLatin1Char('/') + RunName(m_start, i) + QStringLiteral(".log");
        const int fd
            = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | OpenFlags, 0644);
        if (fd >= 0) {
            m_fd = fd;
            std::lock_guard<std::mutex> g(m_lock);
            m_path = path;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool Journal::writeOut(const std::string &chunk)
{
    if (m_fd < 0 && !createFile()) {
        fail();
        return false;
    }
    const char *p = chunk.data();
    size_t left = chunk.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // What is in the file stays a true prefix of what was received.
            fail();
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

void Journal::fail()
{
    if (m_failed.exchange(true))
        return;
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_buffer.clear();
        m_buffer.shrink_to_fit();
    }
    emit writeFailed();
}

} // namespace journal
