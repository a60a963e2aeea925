#pragma once
// Writes the seventeen settings to the ini file shortly after any of them
// changed, so a crash keeps what the user set. The owner calls check() now
// and then (the main window's timer); a change is gathered for a moment, its
// values copied, and a writer thread of the saver's own writes them with the
// same safe write as the close does. The close still writes them itself,
// after finish().
#include <QObject>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class Debounce;

namespace settings {

// The current values, in the table's order.
std::vector<qint32> CurrentValues();

class SettingsSaver : public QObject
{
    Q_OBJECT
public:
    // iniPath is asked at each write (tests and --settings change it).
    SettingsSaver(std::function<QString()> iniPath, int quietMs = 1000, QObject *parent = nullptr);
    ~SettingsSaver() override;

    // Takes the current values as the ones on disk (after loading them).
    void baseline();
    // Compares the settings with those last written; a change starts the delay.
    void check();
    // Waits for a write in progress, then ends the writer; nothing is written after.
    void finish();
    // Writes done so far (tests).
    int written() const;

signals:
    // A write failed (the close reports it to the user, as it always did).
    void writeFailed();

private:
    void run();
    void startWrite();

    std::function<QString()> m_iniPath;
    Debounce *m_delay;
    std::vector<qint32> m_last;

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::optional<std::pair<QString, std::vector<qint32>>> m_waiting; // under m_lock
    bool m_stop = false; // under m_lock
    int m_written = 0; // under m_lock
    std::thread m_writer;
};

} // namespace settings
