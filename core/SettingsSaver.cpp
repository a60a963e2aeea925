#include "core/SettingsSaver.h"
#include "core/Debounce.h"
#include "core/IniFile.h"
#include "core/Settings.h"

#include <QDir>
#include <QFileInfo>

namespace settings {

std::vector<qint32> CurrentValues()
{
    std::vector<qint32> v;
    for (const SettingSlot *s = SettingsTable; s->key; ++s)
        v.push_back(*s->variable);
    return v;
}

SettingsSaver::SettingsSaver(std::function<QString()> iniPath, int quietMs, QObject *parent)
    : QObject(parent)
    , m_iniPath(std::move(iniPath))
    , m_delay(new Debounce(quietMs, quietMs * 3, this))
    , m_last(CurrentValues())
{
    connect(m_delay, &Debounce::due, this, &SettingsSaver::startWrite);
    m_writer = std::thread([this] { run(); });
}

SettingsSaver::~SettingsSaver()
{
    finish();
}

void SettingsSaver::baseline()
{
    m_last = CurrentValues();
    m_delay->cancel();
}

void SettingsSaver::check()
{
    std::vector<qint32> now = CurrentValues();
    if (now == m_last)
        return;
    m_last = std::move(now);
    m_delay->poke();
}

void SettingsSaver::startWrite()
{
    std::lock_guard<std::mutex> g(m_lock);
    if (m_stop)
        return;
    m_waiting.emplace(m_iniPath(), m_last);
    m_wake.notify_one();
}

void SettingsSaver::finish()
{
    m_delay->cancel();
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_stop = true;
    }
    m_wake.notify_one();
    if (m_writer.joinable())
        m_writer.join();
}

int SettingsSaver::written() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_written;
}

void SettingsSaver::run()
{
    std::unique_lock<std::mutex> lk(m_lock);
    for (;;) {
        m_wake.wait(lk, [this] { return m_stop || m_waiting.has_value(); });
        if (!m_waiting)
            break;
        const auto [path, values] = std::move(*m_waiting);
        m_waiting.reset();
        lk.unlock();

        bool ok = true;
        try {
            // An installed program's settings folder may not exist yet.
            QDir().mkpath(QFileInfo(path).absolutePath());
            IniFile ini(path); // the user's other sections are kept
            size_t i = 0;
            for (const SettingSlot *s = SettingsTable; s->key; ++s, ++i)
                ini.writeInteger(SectionName, QLatin1String(s->key), values.at(i));
            ini.save();
        } catch (const IniWriteError &) {
            ok = false;
        }
        // Told on this object's own thread, never the writer's.
        if (!ok)
            QMetaObject::invokeMethod(
                this, [this] { emit writeFailed(); }, Qt::QueuedConnection);
        lk.lock();
        if (ok)
            ++m_written;
    }
}

} // namespace settings
