#include "widgets/SettingsStore.h"
#include "core/IniFile.h"
#include "core/Messages.h"
#include "core/Settings.h"
#include "widgets/ErrorDisplay.h"

#include <QDir>
#include <QFileInfo>

namespace settings {

void LoadSettings()
{
    LoadSettings(IniFilePath());
}

void SaveSettings()
{
    SaveSettings(IniFilePath());
}

void LoadSettings(const QString &iniPath)
{
    const IniFile ini(iniPath);
    LoadSettingsFrom(ini);
}

void SaveSettings(const QString &iniPath)
{
    // An installed program's settings folder may not exist yet.
    QDir().mkpath(QFileInfo(iniPath).absolutePath());
    IniFile ini(iniPath);
    try {
        SaveSettingsTo(ini);
    } catch (const IniWriteError &) {
        errors::ShowWarning(messages::IniWriteFailed());
    }
}

} // namespace settings
