#include "journal/PaneSnapshot.h"
#include "core/SafeWrite.h"
#include "core/SjisText.h"
#include "journal/Journal.h"

#include <QFile>
#include <QFileInfo>

namespace journal {
namespace {
// The first line of a snapshot file; the journal's length and the time follow on it.
const QByteArray Magic = "VOLTRAK-PANE 1 ";
} // namespace

QString SnapshotPathFor(const QString &journalPath)
{
    const QFileInfo f(journalPath);
    return f.absolutePath() + QLatin1Char('/') + f.completeBaseName() + QStringLiteral(".pane");
}

QByteArray EncodeSnapshot(const SnapshotContent &s)
{
    return Magic + QByteArray::number(s.journalLength) + ' '
        + s.taken.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + '\n' + s.text;
}

std::optional<SnapshotContent> DecodeSnapshot(const QByteArray &file)
{
    if (!file.startsWith(Magic))
        return std::nullopt;
    const qsizetype eol = file.indexOf('\n');
    if (eol < 0)
        return std::nullopt;
    const QList<QByteArray> fields = file.mid(Magic.size(), eol - Magic.size()).split(' ');
    if (fields.size() != 2)
        return std::nullopt;
    SnapshotContent s;
    bool ok = false;
    s.journalLength = fields.at(0).toLongLong(&ok);
    if (!ok || s.journalLength < 0)
        return std::nullopt;
    s.taken = QDateTime::fromString(QString::fromLatin1(fields.at(1)), QStringLiteral("yyyyMMddHHmmss"));
    if (!s.taken.isValid())
        return std::nullopt;
    s.text = file.mid(eol + 1);
    return s;
}

RecoveryOffer ReadRecovery(const QString &journalPath, const QString &snapshotPath)
{
    RecoveryOffer offer;
    QFile log(journalPath);
    if (log.open(QIODevice::ReadOnly))
        offer.received = log.readAll();
    QFile pane(snapshotPath);
    if (pane.open(QIODevice::ReadOnly))
        offer.snapshot = DecodeSnapshot(pane.readAll());
    offer.started = RunStartOf(journalPath);
    return offer;
}

QString RecoveryQuestion(const RecoveryOffer &offer)
{
    const QString when = offer.started.isValid()
        ? offer.started.toString(QStringLiteral("yyyy/MM/dd HH:mm")) + QStringLiteral(" の")
        : QStringLiteral("前回の");
    return QStringLiteral(
        "前回の受信データが保存されていない可能性があります。\r\n%1受信記録（%2 バイト）を開きますか？")
        .arg(when)
        .arg(offer.received.size());
}

QString RecoveredText(const std::optional<SnapshotContent> &snapshot, const QByteArray &journalBytes)
{
    if (!snapshot)
        return sjis::decodeText(journalBytes);
    QString text = sjis::decodeText(snapshot->text);
    // A journal shorter than the snapshot says (cut short by the crash) adds nothing.
    qsizetype from = snapshot->journalLength;
    if (from < journalBytes.size()) {
        // A CR LF split by the snapshot is one break, already in its text.
        if (from > 0 && journalBytes.at(from - 1) == '\r' && journalBytes.at(from) == '\n')
            ++from;
        text += sjis::decodeText(journalBytes.mid(from));
    }
    return text;
}

PaneSnapshot::PaneSnapshot(const QString &path, QObject *parent)
    : QObject(parent)
    , m_path(path)
{
    m_writer = std::thread([this] { run(); });
}

PaneSnapshot::~PaneSnapshot()
{
    finish();
}

void PaneSnapshot::write(const QString &paneText, qint64 journalLength, const QDateTime &taken)
{
    if (m_failed.load())
        return;
    std::lock_guard<std::mutex> g(m_lock);
    if (m_stop)
        return;
    SnapshotContent s;
    s.journalLength = journalLength;
    s.taken = taken;
    m_waiting = std::move(s);
    m_waitingText = paneText; // shared, not copied: the pane's string is already a copy
    m_wake.notify_one();
}

void PaneSnapshot::finish()
{
    {
        std::unique_lock<std::mutex> lk(m_lock);
        if (m_stop && !m_writer.joinable())
            return;
        m_stop = true;
    }
    m_wake.notify_one();
    if (m_writer.joinable())
        m_writer.join();
}

void PaneSnapshot::remove()
{
    finish();
    QFile::remove(m_path);
}

void PaneSnapshot::run()
{
    std::unique_lock<std::mutex> lk(m_lock);
    for (;;) {
        m_wake.wait(lk, [this] { return m_stop || m_waiting.has_value(); });
        if (!m_waiting) // stopping with nothing left
            break;
        SnapshotContent s = std::move(*m_waiting);
        m_waiting.reset();
        const QString text = std::move(m_waitingText);
        m_waitingText.clear();
        lk.unlock();

        // As the save command writes it: Shift-JIS, CR LF. The text may still be
        // shared with the pane's copy, so it is only read here; LF is never part
        // of a double-byte character, so the breaks are widened in the bytes.
        s.text = sjis::encode(text);
        s.text.replace('\n', "\r\n");
        bool ok = true;
        try {
            safewrite::WriteFile(m_path, EncodeSnapshot(s));
            ++m_written;
        } catch (const safewrite::WriteError &) {
            ok = false;
        }
        lk.lock();
        if (!ok && !m_failed.exchange(true)) {
            m_waiting.reset();
            lk.unlock();
            // Told on this object's own thread, never the writer's.
            QMetaObject::invokeMethod(
                this, [this] { emit writeFailed(); }, Qt::QueuedConnection);
            lk.lock();
        }
        if (m_failed.load())
            m_waiting.reset();
    }
}

} // namespace journal
